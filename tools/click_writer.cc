#include "click_writer.h"

#include <algorithm>
#include <cmath>

namespace tesk_beat {

namespace {

std::vector<float> makeClick(int sample_rate, double frequency, double amplitude) {
  const double pi = 3.14159265358979323846;
  std::vector<float> c(ClickWriter::clickLength(sample_rate));
  const double decay = 0.008 * sample_rate;  // 8 ms
  for (size_t i = 0; i < c.size(); ++i)
    c[i] = float(amplitude * std::exp(-double(i) / decay) *
                 std::sin(2.0 * pi * frequency * double(i) / sample_rate));
  return c;
}

constexpr float kInputGain = 0.6f;

}  // namespace

ClickWriter::ClickWriter(const std::string& path, int sample_rate, int channels, int64_t delay,
                         const std::string& name)
    : path_(name.empty() ? path : name), channels_(channels), delay_(delay) {
  SF_INFO info{};
  info.samplerate = sample_rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  file_ = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file_) throw OutputError(path_ + ": cannot write clicks (" + sf_strerror(nullptr) + ")");
  sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  // Nyquist-safe pitches: above 2 kHz for reliable beats, low for discarded ones.
  reliable_click_ = makeClick(sample_rate, std::min(2000.0, 0.4 * sample_rate), 0.7);
  discarded_click_ = makeClick(sample_rate, std::min(500.0, 0.2 * sample_rate), 0.3);
}

ClickWriter::~ClickWriter() {
  if (file_) sf_close(file_);
}

void ClickWriter::push(const float* samples, int64_t frames) {
  held_.insert(held_.end(), samples, samples + frames * channels_);
  int64_t held_end = held_start_ + int64_t(held_.size()) / channels_;
  if (held_end - held_start_ > 2 * delay_ + 4096) writeUpTo(held_end - delay_);
}

void ClickWriter::click(int64_t position, bool reliable) {
  clicks_.push_back({std::max<int64_t>(position, 0), reliable});
}

void ClickWriter::writeUpTo(int64_t end) {
  int64_t count = std::min<int64_t>(end - held_start_, int64_t(held_.size()) / channels_);
  if (count <= 0) return;
  for (int64_t i = 0; i < count * channels_; ++i) held_[i] *= kInputGain;
  for (const Click& c : clicks_) {
    const auto& wave = c.reliable ? reliable_click_ : discarded_click_;
    int64_t from = std::max(c.position, held_start_);
    int64_t to = std::min(c.position + int64_t(wave.size()), held_start_ + count);
    for (int64_t t = from; t < to; ++t)
      for (int ch = 0; ch < channels_; ++ch)
        held_[(t - held_start_) * channels_ + ch] += wave[t - c.position];
  }
  sf_writef_float(file_, held_.data(), count);
  held_.erase(held_.begin(), held_.begin() + count * channels_);
  held_start_ += count;
  while (!clicks_.empty() &&
         clicks_.front().position + int64_t(reliable_click_.size()) <= held_start_)
    clicks_.pop_front();
}

void ClickWriter::finish() {
  if (!file_) return;
  writeUpTo(held_start_ + int64_t(held_.size()) / channels_);
  int err = sf_close(file_);
  file_ = nullptr;
  if (err) throw OutputError(path_ + ": cannot write clicks (" + sf_error_number(err) + ")");
}

void writeWithClicks(SampleSource& input, ClickWriter& writer,
                     const std::vector<PlacedClick>& clicks) {
  const int64_t block = 4096;
  std::vector<float> samples(size_t(block) * input.channels());
  size_t next = 0;
  int64_t at = 0, n;
  while ((n = input.read(samples.data(), block)) > 0) {
    // A click is handed over before any of its samples is written.
    for (; next < clicks.size() && clicks[next].position < at + n; ++next)
      writer.click(clicks[next].position, clicks[next].reliable);
    writer.push(samples.data(), n);
    at += n;
  }
  writer.finish();
}

}  // namespace tesk_beat
