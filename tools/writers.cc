#include "writers.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace tesk_beat {

double medianReliableTempo(const std::vector<float>& tempi) {
  if (tempi.empty()) return 0.0;
  std::vector<float> t = tempi;
  std::sort(t.begin(), t.end());
  size_t n = t.size();
  return n % 2 ? t[n / 2] : 0.5 * (double(t[n / 2 - 1]) + double(t[n / 2]));
}

void countAnnounced(Summary& s, std::vector<float>& tempi, const BeatEvent& b) {
  ++s.beats;
  if (!b.reliable) return;
  ++s.reliable;
  if (std::isfinite(b.tempo)) tempi.push_back(b.tempo);
}

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += char(c);
        }
    }
  }
  return out + "\"";
}

const char* resultExtension(OutputFormat format) {
  switch (format) {
    case OutputFormat::kCsv: return "csv";
    case OutputFormat::kJson: return "json";
    default: return "beats";
  }
}

namespace {

// Plain: one beat time per line, the convention of beat-tracking evaluation
// tools. Notes about the input start with '#', which those tools skip.
class PlainWriter : public BeatWriter {
 public:
  PlainWriter(std::FILE* out, bool labelled) : BeatWriter(out), labelled_(labelled) {}
  void begin(const StreamInfo& info) override {
    if (labelled_) std::fprintf(out_, "# input: %s\n", info.input.c_str());
    flush();
  }
  void beat(const BeatEvent& b) override {
    std::fprintf(out_, "%.4f\n", b.time);
    flush();
  }
  void end(const Summary& s) override {
    if (s.truncated) std::fprintf(out_, "# truncated: input ended after %.3f s\n", s.duration);
    if (!s.error.empty()) std::fprintf(out_, "# error: %s\n", s.error.c_str());
    // An interrupted block is the last: "# interrupted" ends the output.
    if (s.interrupted) std::fprintf(out_, "# interrupted\n");
    else if (labelled_) std::fprintf(out_, "\n");
    flush();
  }

 private:
  bool labelled_;
};

class CsvWriter : public BeatWriter {
 public:
  CsvWriter(std::FILE* out, bool labelled) : BeatWriter(out), labelled_(labelled) {}
  void begin(const StreamInfo& info) override {
    if (labelled_) std::fprintf(out_, "# input: %s\n", info.input.c_str());
    std::fprintf(out_, "time,reliable,tempo,confidence,beat_in_bar\n");
    flush();
  }
  void beat(const BeatEvent& b) override {
    // The tempo of a discarded beat too; empty only before there is any.
    // The place in the bar is empty where the tracker knows no bar.
    std::fprintf(out_, "%.4f,%d,", b.time, b.reliable ? 1 : 0);
    if (std::isfinite(b.tempo)) std::fprintf(out_, "%.2f", double(b.tempo));
    std::fprintf(out_, ",%.4f,", double(b.confidence));
    if (b.beat_in_bar > 0) std::fprintf(out_, "%d", b.beat_in_bar);
    std::fprintf(out_, "\n");
    flush();
  }
  void end(const Summary& s) override {
    std::fprintf(out_,
                 "# beats reported: %lld, announced: %lld (reliable: %lld, discarded: %lld), "
                 "median tempo: ",
                 (long long)s.reported, (long long)s.beats, (long long)s.reliable,
                 (long long)(s.beats - s.reliable));
    if (s.reliable > 0) std::fprintf(out_, "%.2f\n", s.median_tempo);
    else std::fprintf(out_, "none\n");
    std::fprintf(out_, "# duration: %.3f s%s\n", s.duration, s.truncated ? " (truncated)" : "");
    if (!s.error.empty()) std::fprintf(out_, "# error: %s\n", s.error.c_str());
    if (s.interrupted) std::fprintf(out_, "# interrupted\n");
    else if (labelled_) std::fprintf(out_, "\n");
    flush();
  }

 private:
  bool labelled_;
};

void writeArray(std::FILE* out, const char* key, const std::vector<float>& v) {
  std::fprintf(out, ", \"%s\": [", key);
  for (size_t i = 0; i < v.size(); ++i) {
    double x = v[i];
    if (std::isfinite(x)) std::fprintf(out, i ? ", %.6g" : "%.6g", x);
    else std::fprintf(out, i ? ", null" : "null");
  }
  std::fprintf(out, "]");
}

// JSON: one object per input. Beats are written one per line as they come,
// so a reader of a live stream can follow them.
class JsonWriter : public BeatWriter {
 public:
  using BeatWriter::BeatWriter;
  void begin(const StreamInfo& info) override {
    // An input that failed before it was known has nulls for what it is.
    auto known = [](int v) { return v > 0 ? std::to_string(v) : std::string("null"); };
    std::fprintf(out_,
                 "{\"input\": %s, \"sample_rate\": %s, \"channels\": %s, "
                 "\"analysis_rate\": %s, \"window\": %s, \"advance\": %s,\n \"beats\": [",
                 jsonString(info.input).c_str(), known(info.sample_rate).c_str(),
                 known(info.channels).c_str(), known(info.analysis_rate).c_str(),
                 known(info.window).c_str(), known(info.advance).c_str());
    flush();
  }
  void beat(const BeatEvent& b) override {
    std::fprintf(out_, "%s\n  {\"time\": %.4f, \"reliable\": %s, \"tempo\": ", first_ ? "" : ",",
                 b.time, b.reliable ? "true" : "false");
    if (std::isfinite(b.tempo)) std::fprintf(out_, "%.2f", double(b.tempo));
    else std::fprintf(out_, "null");
    std::fprintf(out_, ", \"confidence\": %.4f, \"frame\": %lld, \"beat_in_bar\": ",
                 double(b.confidence), (long long)b.frame);
    if (b.beat_in_bar > 0) std::fprintf(out_, "%d", b.beat_in_bar);
    else std::fprintf(out_, "null");
    if (!b.onset.empty() || !b.stpm.empty() || !b.chroma.empty()) {
      writeArray(out_, "onset", b.onset);
      writeArray(out_, "stpm", b.stpm);
      writeArray(out_, "chroma", b.chroma);
    }
    std::fprintf(out_, "}");
    first_ = false;
    flush();
  }
  void end(const Summary& s) override {
    std::fprintf(out_, "%s],\n \"summary\": {\"reported\": %lld, \"announced\": %lld, "
                 "\"reliable\": %lld, \"discarded\": %lld, \"median_tempo\": ",
                 first_ ? "" : "\n ", (long long)s.reported, (long long)s.beats,
                 (long long)s.reliable, (long long)(s.beats - s.reliable));
    if (s.reliable > 0 && std::isfinite(s.median_tempo)) std::fprintf(out_, "%.2f", s.median_tempo);
    else std::fprintf(out_, "null");
    std::fprintf(out_, ", \"duration\": %.3f, \"frames\": %lld, \"truncated\": %s}", s.duration,
                 (long long)s.frames, s.truncated ? "true" : "false");
    if (!s.error.empty()) std::fprintf(out_, ",\n \"error\": %s", jsonString(s.error).c_str());
    else if (s.interrupted) std::fprintf(out_, ",\n \"error\": \"interrupted\"");
    std::fprintf(out_, "}\n");
    flush();
  }

 private:
  bool first_ = true;
};

}  // namespace

std::unique_ptr<BeatWriter> makeWriter(OutputFormat format, std::FILE* out, bool labelled) {
  switch (format) {
    case OutputFormat::kCsv: return std::make_unique<CsvWriter>(out, labelled);
    case OutputFormat::kJson: return std::make_unique<JsonWriter>(out);
    default: return std::make_unique<PlainWriter>(out, labelled);
  }
}

}  // namespace tesk_beat
