// Writers of the data on standard output (or a result file): plain beat
// times, CSV or JSON. Every beat is written and flushed when it is announced.
#pragma once

#include <cerrno>
#include <cstdio>
#include <memory>

#include "beat_report.h"
#include "options.h"

namespace tesk_beat {

class BeatWriter {
 public:
  explicit BeatWriter(std::FILE* out) : out_(out) {}
  virtual ~BeatWriter() = default;
  virtual void begin(const StreamInfo& info) = 0;
  virtual void beat(const BeatEvent& b) = 0;
  // Also called after a failure (summary.error set), so a block is never
  // left looking complete when it is not.
  virtual void end(const Summary& s) = 0;
  // The system's error code of the first write that failed, 0 if none.
  int error() const { return error_; }

 protected:
  void flush() {
    if (std::fflush(out_) != 0 && error_ == 0) error_ = errno ? errno : EIO;
  }
  std::FILE* out_;

 private:
  int error_ = 0;
};

// `labelled`: several inputs share one stream, so each block names its input.
std::unique_ptr<BeatWriter> makeWriter(OutputFormat format, std::FILE* out, bool labelled);

// The file extension of a result file in --output-dir.
const char* resultExtension(OutputFormat format);

// JSON string literal of `s` (quotes included).
std::string jsonString(const std::string& s);

}  // namespace tesk_beat
