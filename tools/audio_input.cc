#include "audio_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "stdin_spool.h"

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

int bytesPerSample(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW: return 1;
    case SF_FORMAT_PCM_16: return 2;
    case SF_FORMAT_PCM_24: return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT: return 4;
    case SF_FORMAT_DOUBLE: return 8;
    default: return 0;  // compressed: no fixed size
  }
}

bool isWav(int format) {
  const int major = format & SF_FORMAT_TYPEMASK;
  return major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64;
}

// Writers that cannot seek back to fix the header (sox, ffmpeg, arecord,
// GStreamer writing to a pipe) put a placeholder in the data size: 0, or
// a value near or above 2 GiB (0x7F000000, 0x7FFF0000, 0x7FFFF000,
// 0x7FFFFFFF, 0xFFFFFFFF). Such a length says nothing; the cost of
// reading it so is that a stream of more than 2 GiB that really was cut
// is not called truncated.
bool placeholderSize(int64_t bytes) { return bytes <= 0 || bytes >= 0x7F000000; }

// What a file's header announced, from libsndfile's log: it shortens a cut
// file's length to the data really there and notes the header's figure
// ("data : 4233600 (should be 299956)", "SSND : ...", "Data Size : ...").
struct HeaderClaim {
  int64_t announced_bytes = -1;  // of the data chunk; -1 when not noted
  int64_t present_bytes = -1;
  bool other_short = false;      // another chunk ran past the end of the file
};

// What libsndfile noted while it read the file's header.
std::string headerLog(SNDFILE* file) {
  char log[16384];
  sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
  return log;
}

HeaderClaim headerClaim(SNDFILE* file) {
  HeaderClaim claim;
  std::istringstream lines(headerLog(file));
  std::string line;
  while (std::getline(lines, line)) {
    auto should = line.find("(should be ");
    auto colon = line.find(':');
    if (should == std::string::npos || colon == std::string::npos || colon > should) continue;
    long long announced = std::atoll(line.c_str() + colon + 1);
    long long present = std::atoll(line.c_str() + should + 11);
    std::string chunk = line.substr(0, colon);
    chunk.erase(0, chunk.find_first_not_of(" \t"));
    chunk.erase(chunk.find_last_not_of(" \t") + 1);
    if (chunk == "data" || chunk == "SSND" || chunk == "Data Size") {
      claim.announced_bytes = announced;
      claim.present_bytes = present;
    } else if (announced > present) {
      claim.other_short = true;
    }
  }
  return claim;
}

// The bits per sample a WAV-family header declares ("Bit Width" in
// libsndfile's log), 0 when it notes none.
int declaredBits(SNDFILE* file) {
  const std::string log = headerLog(file);
  const char* at = std::strstr(log.c_str(), "Bit Width");
  const char* colon = at ? std::strchr(at, ':') : nullptr;
  return colon ? std::atoi(colon + 1) : 0;
}

// The bits per sample of the sample formats whose size is fixed, else 0.
int bitsOf(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW: return 8;
    case SF_FORMAT_PCM_16: return 16;
    case SF_FORMAT_PCM_24: return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT: return 32;
    case SF_FORMAT_DOUBLE: return 64;
    default: return 0;
  }
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
    const int spooled = raw ? -1 : spoolStandardInputIfNeeded(name_, nullptr);
    if (raw) {
      raw_bytes_ = 0;
      raw_frame_bytes_ = bytesPerSample(info_.format) * info_.channels;
      raw_io_.get_filelen = [](void*) -> sf_count_t { return SF_COUNT_MAX; };
      raw_io_.seek = [](sf_count_t, int, void* self) -> sf_count_t {
        return static_cast<AudioInput*>(self)->raw_bytes_;
      };
      raw_io_.tell = [](void* self) -> sf_count_t {
        return static_cast<AudioInput*>(self)->raw_bytes_;
      };
      raw_io_.read = [](void* to, sf_count_t bytes, void* self) -> sf_count_t {
        sf_count_t got = 0;
        while (got < bytes) {
          const ssize_t n = ::read(STDIN_FILENO, static_cast<char*>(to) + got, size_t(bytes - got));
          if (n < 0 && errno == EINTR) continue;
          if (n <= 0) break;
          got += n;
        }
        static_cast<AudioInput*>(self)->raw_bytes_ += got;
        return got;
      };
      file_ = sf_open_virtual(&raw_io_, SFM_READ, &info_, this);
      info_.seekable = 0;  // a stream, whatever the counter says
    } else {
      file_ = spooled >= 0 ? sf_open_fd(spooled, SFM_READ, &info_, SF_TRUE)
                           : sf_open_fd(STDIN_FILENO, SFM_READ, &info_, 0);
    }
    if (!file_)
      throw InputError(name_ + ": " +
                       (raw ? std::string("cannot read raw audio: ")
                            : std::string("not a readable audio stream (standard input takes a WAV "
                                          "stream, raw PCM with --raw, or on a pipe any format "
                                          "libsndfile reads): ")) +
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
  // libsndfile rounds an odd size up to whole bytes and reads, say, 3-bit
  // samples as 8-bit ones: noise that would be tracked as audio.
  if (const int declared = declaredBits(file_), bits = bitsOf(info_.format);
      declared > 0 && bits > 0 && declared != bits) {
    sf_close(file_);
    file_ = nullptr;
    throw InputError(name_ + ": the header declares " + std::to_string(declared) +
                     " bits per sample, which libsndfile cannot decode as stated (it would read " +
                     std::to_string(bits) + "-bit samples)");
  }
  const int bytes_per_frame = bytesPerSample(info_.format) * info_.channels;
  if (info_.seekable) {
    announced_frames_ = info_.frames;
    HeaderClaim claim = headerClaim(file_);
    if (claim.announced_bytes >= 0 && !placeholderSize(claim.announced_bytes)) {
      const int64_t missing = claim.announced_bytes - claim.present_bytes;
      if (bytes_per_frame > 0)
        announced_frames_ += (missing + bytes_per_frame / 2) / bytes_per_frame;
      else if (claim.present_bytes > 0)
        announced_frames_ = int64_t(double(info_.frames) * double(claim.announced_bytes) /
                                    double(claim.present_bytes));
    } else if (claim.other_short && !isWav(info_.format)) {
      // Only WAV notes its data chunk for sure; elsewhere a chunk running
      // past the end of the file is the sign of a cut.
      header_claims_more_ = true;
    }
  } else if (!raw) {
    // A stream: libsndfile reports the header's length as it is.
    const bool sized = info_.frames > 0 && info_.frames < (int64_t(1) << 40) &&
                       (bytes_per_frame == 0 || !placeholderSize(info_.frames * bytes_per_frame));
    if (sized) announced_frames_ = info_.frames;
    if (info_.frames == 0 && isWav(info_.format) && bytes_per_frame > 0) {
      // A data size of 0 makes libsndfile read nothing, though the samples
      // follow: it has read the header exactly, so the rest of the stream
      // is opened as the raw samples that the header describes.
      SF_INFO samples{};
      samples.samplerate = info_.samplerate;
      samples.channels = info_.channels;
      samples.format = SF_FORMAT_RAW | (info_.format & SF_FORMAT_SUBMASK) | SF_ENDIAN_LITTLE;
      sf_close(file_);
      file_ = sf_open_fd(STDIN_FILENO, SFM_READ, &samples, 0);
      if (!file_)
        throw InputError(name_ + ": cannot read the samples after the WAV header: " +
                         sf_strerror(nullptr));
    }
  }
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

int64_t AudioInput::strayBytes() const {
  return raw_bytes_ < 0 ? 0 : raw_bytes_ - frames_read_ * raw_frame_bytes_;
}

bool AudioInput::truncated() const {
  if (header_claims_more_ || strayBytes() > 0) return true;
  return announced_frames_ > 0 && frames_read_ < announced_frames_;
}

}  // namespace tesk_beat
