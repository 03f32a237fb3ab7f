#include "audio_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sstream>

namespace tesk_beat {

namespace {

int rawSubformat(const std::string& f) {
  if (f == "s8") return SF_FORMAT_PCM_S8;
  if (f == "u8") return SF_FORMAT_PCM_U8;
  if (f == "s24") return SF_FORMAT_PCM_24;
  if (f == "s32") return SF_FORMAT_PCM_32;
  if (f == "f32") return SF_FORMAT_FLOAT;
  if (f == "f64") return SF_FORMAT_DOUBLE;
  return SF_FORMAT_PCM_16;
}

// libsndfile shortens a file's length to what is really there and notes the
// difference in its log ("... (should be N)"); that is how a cut file shows.
bool logReportsShortData(SNDFILE* file) {
  char log[8192];
  sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
  return std::strstr(log, "should be") != nullptr;
}

}  // namespace

AudioInput::AudioInput(const std::string& path, const RawFormat* raw, const std::string& label)
    : name_(path == "-" ? "standard input" : label.empty() ? path : label) {
  if (path == "-") {
    if (raw) {
      info_.samplerate = raw->sample_rate;
      info_.channels = raw->channels;
      info_.format = SF_FORMAT_RAW | rawSubformat(raw->sample_format) | SF_ENDIAN_LITTLE;
    }
    file_ = sf_open_fd(STDIN_FILENO, SFM_READ, &info_, 0);
    if (!file_)
      throw InputError(name_ + ": " +
                       (raw ? std::string("cannot read raw audio: ")
                            : std::string("not a readable audio stream (standard input takes a WAV "
                                          "stream, or raw PCM with --raw): ")) +
                       sf_strerror(nullptr));
  } else {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw InputError(name_ + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) throw InputError(name_ + ": is a directory");
    if (::access(path.c_str(), R_OK) != 0) throw InputError(name_ + ": " + std::strerror(errno));
    if (S_ISREG(st.st_mode) && st.st_size == 0) throw InputError(name_ + ": empty file");
    file_ = sf_open(path.c_str(), SFM_READ, &info_);
    if (!file_)
      throw InputError(name_ + ": not a readable audio file (" + sf_strerror(nullptr) + ")");
  }
  if (info_.channels < 1) {
    sf_close(file_);
    file_ = nullptr;
    throw InputError(name_ + ": no audio channels");
  }
  if (info_.samplerate < 1) {
    sf_close(file_);
    file_ = nullptr;
    throw InputError(name_ + ": invalid sample rate " + std::to_string(info_.samplerate));
  }
  bool seekable = info_.seekable != 0;
  if (seekable || (info_.frames > 0 && info_.frames < (int64_t(1) << 40)))
    announced_frames_ = info_.frames;
  header_claims_more_ = logReportsShortData(file_);
  if (announced_frames_ == 0 && !header_claims_more_) {
    sf_close(file_);
    file_ = nullptr;
    throw InputError(name_ + ": contains no audio samples");
  }
}

AudioInput::~AudioInput() {
  if (file_) sf_close(file_);
}

int64_t AudioInput::read(float* out, int64_t frames) {
  sf_count_t got = sf_readf_float(file_, out, frames);
  if (got < 0) got = 0;
  int err = sf_error(file_);
  if (got == 0 && err != SF_ERR_NO_ERROR && frames_read_ == 0)
    throw InputError(name_ + ": cannot decode audio (" + sf_strerror(file_) + ")");
  const int ch = info_.channels;
  for (int64_t i = 0; i < int64_t(got) * ch; ++i) {
    if (!std::isfinite(out[i])) {
      std::ostringstream msg;
      int64_t frame = frames_read_ + i / ch;
      msg << name_ << ": " << (std::isnan(out[i]) ? "NaN" : "infinite") << " sample at "
          << double(frame) / info_.samplerate << " s (frame " << frame << ", channel "
          << i % ch + 1 << ")";
      throw InputError(msg.str());
    }
  }
  frames_read_ += got;
  return got;
}

bool AudioInput::truncated() const {
  if (header_claims_more_) return true;
  return announced_frames_ > 0 && frames_read_ < announced_frames_;
}

}  // namespace tesk_beat
