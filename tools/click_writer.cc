#include "click_writer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

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

// The mix stays inside full scale: input at half level, clicks of at most
// 0.45, so that an input within [-1, 1] never reaches the limiter.
constexpr float kInputGain = 0.5f;
constexpr double kReliableClick = 0.45, kDiscardedClick = 0.2;

// Above the knee the mix is bent smoothly towards full scale, never past
// it: only float inputs beyond [-1, 1] get there.
float limited(float x) {
  constexpr float kKnee = 0.95f, kRoom = 1.0f - kKnee;
  const float a = std::fabs(x);
  if (a <= kKnee) return x;
  const float y = kKnee + kRoom * std::tanh((a - kKnee) / kRoom);
  return std::copysign(std::min(y, 0.999f), x);
}

std::string extensionOf(const std::string& path) {
  auto slash = path.rfind('/');
  auto dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

struct Container {
  int major = 0;
  int codec = 0;  // the only sample format written, or 0 for the input's
};

// The usual names of containers that libsndfile lists under another
// extension, or whose codec the extension names.
struct Alias {
  const char* extension;
  const char* listed;
  int codec;
};
constexpr Alias kAliases[] = {
    {"ogg", "oga", SF_FORMAT_VORBIS},
    {"oga", "oga", SF_FORMAT_VORBIS},
    {"opus", "oga", SF_FORMAT_OPUS},
    {"mp3", "m1a", SF_FORMAT_MPEG_LAYER_III},
    {"aif", "aiff", 0},
};

// Whether libsndfile writes `format` at a usual rate (Opus and MPEG take
// 48 kHz at most).
bool writes(int format) {
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 2;
  for (int sub : {int(format & SF_FORMAT_SUBMASK), int(SF_FORMAT_PCM_16), int(SF_FORMAT_FLOAT),
                  int(SF_FORMAT_VORBIS)}) {
    info.format = (format & SF_FORMAT_TYPEMASK) | sub;
    if (sf_format_check(&info)) return true;
  }
  return false;
}

// The formats libsndfile lists, in its order: the major formats
// (SFC_GET_FORMAT_MAJOR_COUNT, SFC_GET_FORMAT_MAJOR) or the sample formats.
std::vector<SF_FORMAT_INFO> listedFormats(int count_command, int format_command) {
  int count = 0;
  sf_command(nullptr, count_command, &count, sizeof count);
  std::vector<SF_FORMAT_INFO> formats(std::size_t(std::max(count, 0)));
  for (int i = 0; i < count; ++i) {
    formats[std::size_t(i)].format = i;
    sf_command(nullptr, format_command, &formats[std::size_t(i)], sizeof(SF_FORMAT_INFO));
  }
  return formats;
}

// Each major format libsndfile has, in its order, with its extension.
std::vector<std::pair<std::string, int>> majorFormats() {
  std::vector<std::pair<std::string, int>> majors;
  for (const SF_FORMAT_INFO& info :
       listedFormats(SFC_GET_FORMAT_MAJOR_COUNT, SFC_GET_FORMAT_MAJOR))
    if (info.extension) majors.emplace_back(info.extension, info.format);
  return majors;
}

// The container this libsndfile writes for `extension`: major 0 if none.
Container containerFor(const std::string& extension) {
  std::string listed = extension;
  Container c;
  for (const Alias& a : kAliases)
    if (extension == a.extension) {
      listed = a.listed;
      c.codec = a.codec;
    }
  // The first of a name is the common one: "wav" is Microsoft's WAV.
  for (const auto& [name, major] : majorFormats())
    if (name == listed && writes(major | c.codec)) {
      c.major = major;
      return c;
    }
  return {};
}

}  // namespace

std::string clickExtensionProblem(const std::string& out_name) {
  const std::string extension = extensionOf(out_name);
  if (extension.empty() || containerFor(extension).major) return "";
  std::string known;
  auto add = [&](const std::string& name) {
    if (known.find(" ." + name + ",") != std::string::npos || !containerFor(name).major) return;
    known += " ." + name + ",";
  };
  for (const Alias& a : kAliases) add(a.extension);
  for (const auto& major : majorFormats()) add(major.first);
  if (!known.empty()) known.pop_back();
  return "--clicks " + out_name + ": libsndfile writes no '." + extension +
         "' file (it writes" + known + ", or none to keep the input's)";
}

int clickTrackFormat(const std::string& out_name, int input_format, int sample_rate,
                     int channels) {
  Container container = containerFor(extensionOf(out_name));
  if (!container.major) container.major = input_format & SF_FORMAT_TYPEMASK;
  // The codec the extension names, else the input's sample format first,
  // then the usual ones, then any.
  std::vector<int> samples = {container.codec};
  if (!container.codec) {
    samples = {input_format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_24, SF_FORMAT_PCM_16,
               SF_FORMAT_FLOAT, SF_FORMAT_VORBIS};
    for (const SF_FORMAT_INFO& info :
         listedFormats(SFC_GET_FORMAT_SUBTYPE_COUNT, SFC_GET_FORMAT_SUBTYPE))
      samples.push_back(info.format);
  }
  for (int sub : samples) {
    SF_INFO info{};
    info.samplerate = sample_rate;
    info.channels = channels;
    info.format = container.major | sub;
    if (sf_format_check(&info)) return info.format;
  }
  return 0;
}

ClickWriter::ClickWriter(const std::string& path, int sample_rate, int channels, int64_t delay,
                         const std::string& name, int input_format)
    : path_(name.empty() ? path : name), channels_(channels), delay_(delay) {
  SF_INFO info{};
  info.samplerate = sample_rate;
  info.channels = channels;
  info.format = clickTrackFormat(path_, input_format, sample_rate, channels);
  if (!info.format)
    throw OutputError(path_ + ": cannot write clicks (no format for " + std::to_string(channels) +
                      " channels at " + std::to_string(sample_rate) + " Hz in this container)");
  errno = 0;
  file_ = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file_) {
    const int why = errno;
    throw OutputError(path_ + ": " +
                      (sf_error(nullptr) == SF_ERR_SYSTEM && why
                           ? std::string(std::strerror(why))
                           : "cannot write clicks (" + std::string(sf_strerror(nullptr)) + ")"));
  }
  sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  // Nyquist-safe pitches: above 2 kHz for reliable beats, low for discarded ones.
  reliable_click_ = makeClick(sample_rate, std::min(2000.0, 0.4 * sample_rate), kReliableClick);
  discarded_click_ = makeClick(sample_rate, std::min(500.0, 0.2 * sample_rate), kDiscardedClick);
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
  for (int64_t i = 0; i < count * channels_; ++i) held_[i] = limited(held_[i]);
  if (sf_writef_float(file_, held_.data(), count) != count) {
    // A full disk or an I/O error: the system's reason when there is one.
    const int why = errno;
    const bool system = sf_error(file_) == SF_ERR_SYSTEM && why != 0;
    throw OutputError(path_ + ": " + (system ? std::strerror(why) : sf_strerror(file_)));
  }
  held_.erase(held_.begin(), held_.begin() + count * channels_);
  held_start_ += count;
  while (!clicks_.empty() &&
         clicks_.front().position + int64_t(reliable_click_.size()) <= held_start_)
    clicks_.pop_front();
}

void ClickWriter::finish() {
  if (!file_) return;
  writeUpTo(held_start_ + int64_t(held_.size()) / channels_);
  errno = 0;
  int err = sf_close(file_);
  const int why = errno;
  file_ = nullptr;
  if (err)
    throw OutputError(path_ + ": " +
                      (err == SF_ERR_SYSTEM && why ? std::strerror(why) : sf_error_number(err)));
}

bool writeWithClicks(SampleSource& input, ClickWriter& writer,
                     const std::vector<PlacedClick>& clicks, const std::function<bool()>& stop) {
  const int64_t block = 4096;
  std::vector<float> samples(size_t(block) * input.channels());
  size_t next = 0;
  int64_t at = 0, n;
  while ((n = input.read(samples.data(), block)) > 0) {
    if (stop && stop()) return false;
    // A click is handed over before any of its samples is written.
    for (; next < clicks.size() && clicks[next].position < at + n; ++next)
      writer.click(clicks[next].position, clicks[next].reliable);
    writer.push(samples.data(), n);
    at += n;
  }
  writer.finish();
  return true;
}

}  // namespace tesk_beat
