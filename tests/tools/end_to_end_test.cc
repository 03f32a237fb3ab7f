// End-to-end tests through the built tesk-beat and the real plug-in.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <lo/lo.h>

#include "music_synth.h"
#include "tool_process.h"

using namespace tesk_beat_test;

namespace {

// Every run gets the plug-in path and a private TMPDIR, so that anything
// the tool leaves behind is seen.
struct Env {
  TempDir work, tmp;
  std::vector<std::string> env() const { return {"TMPDIR=" + tmp.path()}; }
  std::vector<std::string> with(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--plugin", pluginPath()});
    return args;
  }
  ToolResult run(std::vector<std::string> args) const {
    return runTool(with(std::move(args)), work.path(), env());
  }
};

struct CsvBeat {
  double time;
  bool reliable;
  double tempo;
  int beat_in_bar;  // 0: the field is empty, no bar known
};

std::vector<CsvBeat> csvBeats(const ToolResult& r) {
  std::vector<CsvBeat> beats;
  for (const auto& line : r.lines()) {
    if (line.empty() || line[0] == '#' || line[0] == 't') continue;
    CsvBeat b{};
    std::istringstream s(line);
    std::string field;
    std::getline(s, field, ',');
    b.time = std::stod(field);
    std::getline(s, field, ',');
    b.reliable = field == "1";
    std::getline(s, field, ',');
    b.tempo = field.empty() ? 0.0 : std::stod(field);
    std::getline(s, field, ',');  // confidence
    if (!std::getline(s, field, ',')) field.clear();
    b.beat_in_bar = field.empty() ? 0 : std::stoi(field);
    beats.push_back(b);
  }
  return beats;
}

double medianTempo(const std::vector<CsvBeat>& beats) {
  std::vector<double> t;
  for (const auto& b : beats)
    if (b.reliable) t.push_back(b.tempo);
  if (t.empty()) return 0.0;
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

int lineCount(const std::string& s) { return int(std::count(s.begin(), s.end(), '\n')); }

}  // namespace

// Tempo within 2 % and the reported beats on the true grid, at tempi across
// the default ranges, for each tracker and mode. Measured F-measures are
// 1.0 for these grooves; the bounds leave room for small changes in the
// trackers.
struct TrackerRun {
  const char* name;
  std::vector<std::string> args;
  int rate;  // of the groove
};
const TrackerRun kTrackerRuns[] = {
    {"stpm", {"--tracker", "stpm"}, 16000},
    {"BarPointer", {}, 44100},
    {"BarPointerOffline", {"--offline"}, 44100},
};

class TracksGeneratedMusic : public ::testing::TestWithParam<std::tuple<int, double>> {};

TEST_P(TracksGeneratedMusic, TempoAndBeats) {
  Env e;
  const TrackerRun& run = kTrackerRuns[std::get<0>(GetParam())];
  const double bpm = std::get<1>(GetParam());
  Piece p = makeGroove(bpm, 30.0, run.rate, 1, unsigned(bpm));
  writePiece(e.work.file("groove.wav"), p, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  auto args = [&](std::vector<std::string> more) {
    more.insert(more.begin(), run.args.begin(), run.args.end());
    // This groove's hi-hats on every half beat make 184 BPM as good a beat
    // as 92 to the bar-pointer tracker over its default two octaves, and it
    // takes the faster level (a known limit, in the README); a user who
    // knows the music names the range, and the tracker must then find 92.
    if (std::string(run.name).rfind("BarPointer", 0) == 0 && bpm < 100.0)
      more.insert(more.begin(), {"--max-bpm", "160"});
    return more;
  };
  ToolResult r = e.run(args({"--format", "csv", "groove.wav"}));
  ASSERT_EQ(r.status, 0) << r.err;
  auto beats = csvBeats(r);
  double tempo = medianTempo(beats);
  EXPECT_NEAR(tempo, bpm, 0.02 * bpm);
  std::vector<double> times;
  for (const auto& b : beats) times.push_back(b.time);
  const double f = fMeasure(p.beats, times);
  RecordProperty("f_measure", std::to_string(f));
  RecordProperty("tempo", std::to_string(tempo));
  EXPECT_GE(f, 0.9) << r.out;
  // Plain output carries the same times.
  ToolResult plain = e.run(args({"groove.wav"}));
  ASSERT_EQ(plain.status, 0);
  EXPECT_EQ(parseTimes(plain.lines()), times);
}

INSTANTIATE_TEST_SUITE_P(
    Tempi, TracksGeneratedMusic,
    ::testing::Combine(::testing::Range(0, int(std::size(kTrackerRuns))),
                       ::testing::Values(92.0, 120.0, 144.0)),
    [](const ::testing::TestParamInfo<std::tuple<int, double>>& info) {
      return std::string(kTrackerRuns[std::get<0>(info.param)].name) + "_" +
             std::to_string(int(std::get<1>(info.param)));
    });

TEST(EndToEnd, WavAndFlacGiveTheSameBeats) {
  Env e;
  Piece p = makeGroove(110.0, 20.0, 44100, 2, 7);
  writePiece(e.work.file("a.wav"), p, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  writePiece(e.work.file("a.flac"), p, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  ToolResult wav = e.run({"a.wav"}), flac = e.run({"a.flac"});
  ASSERT_EQ(wav.status, 0) << wav.err;
  ASSERT_EQ(flac.status, 0) << flac.err;
  EXPECT_GT(lineCount(wav.out), 20);
  EXPECT_EQ(wav.out, flac.out);
  // FLAC is decoded by seeking: on a pipe it is held in a private file first.
  ToolProcess piped(e.with({"-"}), e.work.path(), e.env(), ToolProcess::Input::kPipe);
  const std::string bytes = readFile(e.work.file("a.flac"));
  piped.write(bytes.data(), bytes.size());
  ToolResult from_pipe = piped.finish();
  EXPECT_EQ(from_pipe.status, 0) << from_pipe.err;
  EXPECT_EQ(from_pipe.out, flac.out);
  EXPECT_TRUE(e.tmp.entries().empty());
}

TEST(EndToEnd, StandardInputAsWavStreamAndAsRawPcm) {
  Env e;
  Piece p = makeGroove(120.0, 15.0, 16000, 1, 3);
  writePiece(e.work.file("a.wav"), p, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  writePiece(e.work.file("a.raw"), p, SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE);
  ToolResult file = e.run({"a.wav"});
  ASSERT_EQ(file.status, 0) << file.err;
  ToolResult wav = runTool(e.with({"-"}), e.work.path(), e.env(), ToolProcess::Input::kFile,
                           e.work.file("a.wav"));
  EXPECT_EQ(wav.status, 0) << wav.err;
  EXPECT_EQ(wav.out, file.out);
  ToolResult raw = runTool(e.with({"--raw", "16000:1:s16", "-"}), e.work.path(), e.env(),
                           ToolProcess::Input::kFile, e.work.file("a.raw"));
  EXPECT_EQ(raw.status, 0) << raw.err;
  EXPECT_EQ(raw.out, file.out);
  // The same 16-bit values as 32-bit floats.
  Piece exact = p;
  for (float& v : exact.samples) v = float(std::lround(v * 32767.0f)) / 32768.0f;
  writePiece(e.work.file("a.f32"), exact, SF_FORMAT_RAW | SF_FORMAT_FLOAT | SF_ENDIAN_LITTLE);
  ToolResult f32 = runTool(e.with({"--raw", "16000:1:f32", "-"}), e.work.path(), e.env(),
                           ToolProcess::Input::kFile, e.work.file("a.f32"));
  EXPECT_EQ(f32.status, 0) << f32.err;
  EXPECT_EQ(f32.out, file.out);
  // Offline decoding of a stream: the same beats as of the file.
  ToolResult offline_file = e.run({"--offline", "a.wav"});
  ASSERT_EQ(offline_file.status, 0) << offline_file.err;
  EXPECT_GT(lineCount(offline_file.out), 20);
  ToolResult offline = runTool(e.with({"--offline", "-"}), e.work.path(), e.env(),
                               ToolProcess::Input::kFile, e.work.file("a.wav"));
  EXPECT_EQ(offline.status, 0) << offline.err;
  EXPECT_EQ(offline.out, offline_file.out);
  // A reference of another rate and channel count, shorter than the input,
  // is cancelled from a file and a stream alike.
  writePiece(e.work.file("ref.wav"), makeGroove(90.0, 8.0, 44100, 2, 5),
             SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  ToolResult cancelled = e.run({"--verbose", "--reference", "ref.wav", "a.wav"});
  ASSERT_EQ(cancelled.status, 0) << cancelled.err;
  EXPECT_GT(lineCount(cancelled.out), 20);
  EXPECT_NE(cancelled.err.find("a.wav: cancelling --reference ref.wav (8.000 s, 44100 Hz, 2 "
                               "channels mixed down), resampled to 16000 Hz"),
            std::string::npos)
      << cancelled.err;
  EXPECT_NE(cancelled.err.find("ended 7.000 s before the input"), std::string::npos)
      << cancelled.err;
  ToolResult cancelled_raw =
      runTool(e.with({"--reference", "ref.wav", "--raw", "16000:1:s16", "-"}), e.work.path(),
              e.env(), ToolProcess::Input::kFile, e.work.file("a.raw"));
  EXPECT_EQ(cancelled_raw.status, 0) << cancelled_raw.err;
  EXPECT_EQ(cancelled_raw.out, cancelled.out);
}

// A writer that cannot seek back (sox or ffmpeg writing to a pipe) puts a
// placeholder in the WAV header's data size: the stream is read to its end
// and is complete, not truncated.
TEST(EndToEnd, WavStreamOfUnknownLengthIsReadToItsEnd) {
  Env e;
  Piece p = makeGroove(120.0, 15.0, 16000, 1, 3);
  writePiece(e.work.file("a.wav"), p, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  ToolResult file = e.run({"--format", "csv", "a.wav"});
  ASSERT_EQ(file.status, 0) << file.err;
  std::string header_known = readFile(e.work.file("a.wav"));
  ASSERT_EQ(header_known.substr(36, 4), "data");
  auto withSizes = [&](uint32_t riff, uint32_t data) {
    std::string b = header_known;
    for (int i = 0; i < 4; ++i) {
      b[4 + i] = char((riff >> (8 * i)) & 0xff);
      b[40 + i] = char((data >> (8 * i)) & 0xff);
    }
    return b;
  };
  // sox learns no length from a raw stream and writes its own placeholder.
  std::string from_sox;
  std::string command = "sox -q -t wav " + e.work.file("a.wav") +
                        " -t raw - | sox -q -t raw -r 16000 -e signed -b 16 -c 1 - -t wav - "
                        "2>/dev/null";
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) from_sox.append(buf, n);
    ::pclose(pipe);
  }
  ASSERT_GT(from_sox.size(), header_known.size() / 2) << "sox is needed (scripts/install-deps.sh)";
  ASSERT_NE(from_sox.substr(0, 44), header_known.substr(0, 44)) << "sox wrote the real length";
  struct Case {
    const char* writer;
    std::string bytes;
  } cases[] = {
      {"sox", from_sox},
      {"ffmpeg (0xFFFFFFFF)", withSizes(0xFFFFFFFFu, 0xFFFFFFFFu)},
      {"zero data size", withSizes(36, 0)},
  };
  for (const auto& c : cases) {
    ToolProcess tool(e.with({"--format", "csv", "-"}), e.work.path(), e.env(),
                     ToolProcess::Input::kPipe);
    tool.write(c.bytes.data(), c.bytes.size());
    ToolResult r = tool.finish();
    EXPECT_EQ(r.status, 0) << c.writer << ": " << r.err;
    EXPECT_TRUE(r.err.empty()) << c.writer << ": " << r.err;
    EXPECT_EQ(r.out, file.out) << c.writer;  // every beat, "# duration: 15.000 s", not truncated
  }
}

// A live stream: beats come out while the input is still open.
TEST(EndToEnd, SlowPipeGivesBeatsBeforeTheInputEnds) {
  Env e;
  Piece p = makeGroove(120.0, 24.0, 16000, 1, 5);
  writePiece(e.work.file("a.wav"), p, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  std::string bytes = readFile(e.work.file("a.wav"));
  ToolProcess tool(e.with({"-"}), e.work.path(), e.env(), ToolProcess::Input::kPipe);
  const size_t half = bytes.size() / 2;  // 12 s of audio
  for (size_t at = 0; at < half; at += 3200) tool.write(bytes.data() + at, std::min<size_t>(3200, half - at));
  std::string first;
  // The limit only guards against a hang; the line must come while the
  // second half has not been written.
  ASSERT_TRUE(tool.readLine(first, 120.0)) << "no beat line before the input ended";
  double t = std::stod(first);
  EXPECT_GT(t, 0.0);
  EXPECT_LT(t, 12.0);
  tool.write(bytes.data() + half, bytes.size() - half);
  ToolResult r = tool.finish();
  EXPECT_EQ(r.status, 0) << r.err;
  ToolResult whole = e.run({"a.wav"});
  EXPECT_EQ(r.out, whole.out);  // the first line included
}

TEST(EndToEnd, BadInputsGiveOneClearLineAndTheirStatus) {
  Env e;
  Piece p = makeGroove(120.0, 12.0, 16000, 1, 9);
  writePiece(e.work.file("good.wav"), p, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  writeFile(e.work.file("empty.wav"), "");
  writeFile(e.work.file("notes.txt"), "not audio\n");
  Piece low = makeGroove(120.0, 12.0, 2000, 1, 9);
  writePiece(e.work.file("low.wav"), low, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  Piece nan = p;
  nan.samples[16000 * 6] = std::nanf("");
  writePiece(e.work.file("nan.wav"), nan, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  // A header that declares 3 bits per sample: libsndfile would read bytes.
  writePiece(e.work.file("3bit.wav"), p, SF_FORMAT_WAV | SF_FORMAT_PCM_U8);
  std::string three_bits = readFile(e.work.file("3bit.wav"));
  three_bits[34] = 3;
  writeFile(e.work.file("3bit.wav"), three_bits);

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string named;
  } cases[] = {
      {{"missing.wav"}, 1, "missing.wav"},
      {{"."}, 1, "directory"},
      {{"empty.wav"}, 1, "empty.wav"},
      {{"notes.txt"}, 1, "notes.txt"},
      {{"low.wav"}, 1, "2000 Hz"},
      {{"nan.wav"}, 1, "NaN sample at 6"},
      {{"3bit.wav"}, 1, "3bit.wav: the header declares 3 bits per sample"},
      // Window, advance, tempo range and announce-ahead are checked when the
      // command line is read, at the chosen tracker's analysis rate; an
      // input below it (good.wav, 16 kHz, analysed at its own rate when
      // --analysis-rate is 0) is checked when it is opened.
      {{"--window", "48", "good.wav"}, 2, "--window"},
      {{"--advance", "4000", "--window", "8192", "good.wav"}, 2, "--max-bpm"},
      {{"--tracker", "stpm", "--advance", "4000", "--window", "8192", "good.wav"}, 2, "--max-bpm"},
      {{"--tracker", "stpm", "--min-bpm", "5", "good.wav"}, 2, "--min-bpm"},
      {{"--min-bpm", "1", "good.wav"}, 2, "--min-bpm 1"},
      {{"--announce-ahead", "50", "good.wav"}, 2, "--announce-ahead 50"},
      {{"--analysis-rate", "0", "--advance", "4000", "--window", "8192", "good.wav"}, 1,
       "good.wav: --advance 4000"},
      {{"--tracker", "stpm", "--analysis-rate", "0", "--advance", "4000", "--window", "8192",
        "good.wav"}, 1, "good.wav: --advance 4000"},
      {{"--tracker", "stpm", "--offline", "good.wav"}, 2, "--offline"},
      {{"--tracker", "beatroot", "good.wav"}, 2, "beatroot"},
      {{"--offline", "--clicks", "c.wav", "-"}, 2, "--clicks"},
      {{"--frobnicate", "good.wav"}, 2, "--frobnicate"},
      {{"--threshold", "0.5x", "good.wav"}, 2, "--threshold"},
      {{"--max-bpm", "1e3", "good.wav"}, 2, "--max-bpm"},
      {{"--raw", "16000:1:s99", "-"}, 2, "s99"},
      {{"--clicks", "nodir/c.wav", "good.wav"}, 4, "nodir/c.wav"},
      {{"--clicks", "c.xyz", "good.wav"}, 2, "'.xyz' file (it writes .ogg, .oga, .opus,"},
      {{"--jack", "good.wav"}, 2, "--jack takes no INPUT ('good.wav')"},
      // The reference is read before any input: refused, nothing is tracked.
      {{"--reference", "missing.wav", "good.wav"}, 1, "--reference missing.wav: No such file"},
      {{"--reference", "empty.wav", "good.wav"}, 1, "--reference empty.wav: empty file"},
      {{"--reference", "-", "good.wav"}, 2, "--reference: standard input"},
      {{}, 2, "no input"},
  };
  for (const auto& c : cases) {
    ToolResult r = e.run(c.args);
    std::string what = c.args.empty() ? "(none)" : c.args.back();
    EXPECT_EQ(r.status, c.status) << what << ": " << r.err;
    EXPECT_EQ(lineCount(r.err), 1) << what << ": " << r.err;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << what << ": " << r.err;
    // A failure is never written up as a normal result.
    if (!r.out.empty()) {
      EXPECT_NE(r.out.find("# error"), std::string::npos) << r.out;
    }
    if (c.status == 1 && c.args.front() != "--reference") {
      // JSON stays one document: an object that carries the error.
      std::vector<std::string> json_args = {"--format", "json"};
      json_args.insert(json_args.end(), c.args.begin(), c.args.end());
      ToolResult j = e.run(json_args);
      EXPECT_EQ(j.status, 1) << what;
      EXPECT_TRUE(isJsonDocument(j.out)) << what << ": " << j.out;
      EXPECT_EQ(j.out.rfind("{\"input\": ", 0), 0u) << what << ": " << j.out;
      EXPECT_NE(j.out.find("\"error\": \""), std::string::npos) << what << ": " << j.out;
    }
  }
  ToolResult plugin = runTool({"--plugin", e.work.file("none.tlb"), "good.wav"}, e.work.path(),
                              e.env());
  EXPECT_EQ(plugin.status, 4);
  EXPECT_NE(plugin.err.find("none.tlb"), std::string::npos);
  EXPECT_EQ(e.work.entries(), (std::vector<std::string>{"3bit.wav", "empty.wav", "good.wav",
                                                        "low.wav", "nan.wav", "notes.txt"}));
  EXPECT_TRUE(e.tmp.entries().empty());
}

// A cut file or stream reports the beats up to its end and says so.
TEST(EndToEnd, TruncatedInputReportsItsBeatsAndSaysSo) {
  Env e;
  Piece p = makeGroove(120.0, 20.0, 16000, 1, 11);
  writePiece(e.work.file("a.wav"), p, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  std::string bytes = readFile(e.work.file("a.wav"));
  writeFile(e.work.file("cut.wav"), bytes.substr(0, bytes.size() / 2));
  for (bool stream : {false, true}) {
    ToolResult r = stream ? runTool(e.with({"-"}), e.work.path(), e.env(),
                                    ToolProcess::Input::kFile, e.work.file("cut.wav"))
                          : e.run({"cut.wav"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("truncated"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.rfind(stream ? "tesk-beat: standard input: " : "tesk-beat: cut.wav: ", 0), 0u)
        << r.err;
    // The length the header announced, not the length found.
    EXPECT_NE(r.err.find("of the 20.000 s announced"), std::string::npos) << r.err;
    EXPECT_EQ(lineCount(r.err), 1) << r.err;
    auto times = parseTimes(r.lines());
    EXPECT_GT(times.size(), 10u);
    EXPECT_LE(times.back(), 10.5);
    EXPECT_NE(r.out.find("# truncated"), std::string::npos);
  }
  // Raw PCM that ends inside a frame is cut too.
  writePiece(e.work.file("a.raw"), p, SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE);
  writeFile(e.work.file("odd.raw"), readFile(e.work.file("a.raw")) + "x");
  ToolResult raw = runTool(e.with({"--raw", "16000:1", "-"}), e.work.path(), e.env(),
                           ToolProcess::Input::kFile, e.work.file("odd.raw"));
  EXPECT_EQ(raw.status, 3) << raw.err;
  EXPECT_NE(raw.err.find("ends inside a frame (1 byte left over)"), std::string::npos) << raw.err;
  EXPECT_GT(parseTimes(raw.lines()).size(), 20u);
}

TEST(EndToEnd, ParallelJobsEqualOneByOne) {
  Env e;
  std::vector<std::string> names = {"a.wav", "b.flac", "missing.wav", "c.wav"};
  writePiece(e.work.file("a.wav"), makeGroove(96.0, 12.0, 16000, 1, 1), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  writePiece(e.work.file("b.flac"), makeGroove(126.0, 12.0, 22050, 2, 2), SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  writePiece(e.work.file("c.wav"), makeGroove(140.0, 12.0, 16000, 1, 3), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  for (const char* format : {"plain", "json"}) {
    ToolResult all = e.run({"--format", format, "--jobs", "2", "a.wav", "b.flac", "missing.wav", "c.wav"});
    EXPECT_EQ(all.status, 1) << all.err;
    ToolResult seq = e.run({"--format", format, "a.wav", "b.flac", "missing.wav", "c.wav"});
    EXPECT_EQ(seq.out, all.out);
    if (std::string(format) == "json") {
      EXPECT_TRUE(isJsonDocument(all.out)) << all.out;
    }
    std::string expected = std::string(format) == "json" ? "[\n" : "";
    for (size_t i = 0; i < names.size(); ++i) {
      ToolResult one = e.run({"--format", format, names[i]});
      if (std::string(format) == "plain") {
        expected += "# input: " + names[i] + "\n" + one.out;
        if (names[i] == "missing.wav") expected += "# error: missing.wav: No such file or directory\n";
        expected += "\n";
      } else if (names[i] != "missing.wav") {
        expected += (i ? ",\n" : "") + one.out;
      } else {
        EXPECT_TRUE(isJsonDocument(one.out)) << one.out;
        EXPECT_NE(one.out.find("\"error\": \"missing.wav: No such file"), std::string::npos);
        EXPECT_NE(all.out.find("\"error\": \"missing.wav: No such file"), std::string::npos);
      }
    }
    if (std::string(format) == "plain") {
      EXPECT_EQ(all.out, expected);
    }
  }
  EXPECT_TRUE(e.tmp.entries().empty());
}

TEST(EndToEnd, LeavesNothingBehindUnlessAskedTo) {
  Env e;
  writePiece(e.work.file("a.wav"), makeGroove(120.0, 10.0, 16000, 1, 4), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  ToolResult r = e.run({"a.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(e.work.entries(), std::vector<std::string>{"a.wav"});
  EXPECT_TRUE(e.tmp.entries().empty());

  // The stpm node creates its diagnostic files in any case; only the beat log is kept without
  // --diagnostics, in a --log-dir whose parents are made. The bar-pointer node writes none.
  r = e.run({"--tracker", "stpm", "--log-dir", "plain/logs", "a.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listDirectory(e.work.file("plain/logs")), std::vector<std::string>{"bt_pellanbt.dat"});
  EXPECT_FALSE(readFile(e.work.file("plain/logs/bt_pellanbt.dat")).empty());
  r = e.run({"--log-dir", "bar/logs", "a.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(listDirectory(e.work.file("bar/logs")).empty());
  r = e.run({"--tracker", "stpm", "--log-dir", "logs", "--diagnostics", "a.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(readFile(e.work.file("logs/bt_pellanbt.dat")).empty());
  // The node's beat log plus its fourteen diagnostic files.
  int files = 0;
  for (const auto& name : listDirectory(e.work.file("logs")))
    files += name.rfind("bt_", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".dat";
  EXPECT_EQ(files, 15);
  EXPECT_TRUE(e.tmp.entries().empty());
}

TEST(EndToEnd, StandardOutputCarriesOnlyData) {
  Env e;
  writePiece(e.work.file("a.wav"), makeGroove(120.0, 10.0, 16000, 1, 4), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  for (const char* tracker : {"bar-pointer", "stpm"}) {
    ToolResult quiet = e.run({"--tracker", tracker, "a.wav"});
    ToolResult verbose = e.run({"--tracker", tracker, "--verbose", "a.wav"});
    ASSERT_EQ(quiet.status, 0);
    ASSERT_EQ(verbose.status, 0);
    EXPECT_EQ(quiet.out, verbose.out);
    EXPECT_TRUE(quiet.err.empty()) << quiet.err;
    for (const auto& line : quiet.lines()) EXPECT_NO_THROW(std::stod(line)) << line;
    // The settings used come first, then the node's console lines: only the
    // stpm node has some to copy.
    EXPECT_EQ(verbose.err.rfind("tesk-beat: a.wav: tracker " + std::string(tracker) +
                                    ", analysis rate 16000 Hz, window " +
                                    (std::string(tracker) == "stpm" ? "512" : "750") + " samples",
                                0),
              0u)
        << verbose.err;
    EXPECT_EQ(verbose.err.find("BeatTracker::BeatTracker") != std::string::npos,
              std::string(tracker) == "stpm")
        << verbose.err;
  }

  ToolResult version = e.run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(version.out.find("ZEDEDAZUV"), std::string::npos);
  ToolResult help = runTool({"--help"}, e.work.path(), e.env());
  EXPECT_EQ(help.status, 0);
  for (const char* opt : {"--min-bpm", "--max-bpm", "--threshold", "--window", "--advance",
                          "--diagnostics", "--vectors", "--clicks", "--log-dir", "--jobs",
                          "--raw", "--format", "--compress", "--plugin", "--tracker",
                          "--offline", "--announce-ahead", "--activation"})
    EXPECT_NE(help.out.find(opt), std::string::npos) << opt;
}

TEST(EndToEnd, OutputDirHoldsOneResultPerInput) {
  Env e;
  ASSERT_EQ(::mkdir(e.work.file("sub").c_str(), 0777), 0);
  writePiece(e.work.file("a.wav"), makeGroove(100.0, 10.0, 16000, 1, 1), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  writePiece(e.work.file("sub/a.wav"), makeGroove(130.0, 10.0, 16000, 1, 2), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  // Missing parents are made; inputs of the same name mirror their paths, and it is said.
  ToolResult r = e.run({"--jobs", "2", "--format", "csv", "-o", "out/new", "a.wav", "sub/a.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(r.err,
            "tesk-beat: a.wav: results in out/new/a.wav.csv (several inputs are named a)\n"
            "tesk-beat: sub/a.wav: results in out/new/sub/a.wav.csv (several inputs are named a)\n");
  EXPECT_EQ(listDirectory(e.work.file("out/new")), (std::vector<std::string>{"a.wav.csv", "sub"}));
  EXPECT_EQ(readFile(e.work.file("out/new/a.wav.csv")), e.run({"--format", "csv", "a.wav"}).out);
  EXPECT_EQ(readFile(e.work.file("out/new/sub/a.wav.csv")),
            e.run({"--format", "csv", "sub/a.wav"}).out);
  r = e.run({"-o", "out", "a.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  EXPECT_EQ(listDirectory(e.work.file("out")), (std::vector<std::string>{"a.beats", "new"}));

  // With --vectors, JSON carries the node's vectors with every beat: stpm's
  // 64 onset values; bar-pointer's onset feature and its tempo posterior
  // (55 to 215 BPM at 100 frames per second: intervals of 28 to 109 frames).
  auto commas = [](const std::string& out, const std::string& key) {
    auto at = out.find("\"" + key + "\": [");
    if (at == std::string::npos) return -1L;
    return long(std::count(out.begin() + at, out.begin() + out.find(']', at), ','));
  };
  ToolResult v = e.run({"--tracker", "stpm", "--vectors", "--format", "json", "a.wav"});
  ASSERT_EQ(v.status, 0) << v.err;
  EXPECT_EQ(commas(v.out, "onset"), 63);
  EXPECT_GT(commas(v.out, "chroma"), 0);
  EXPECT_GT(commas(v.out, "stpm"), 0);
  v = e.run({"--vectors", "--format", "json", "a.wav"});
  ASSERT_EQ(v.status, 0) << v.err;
  EXPECT_EQ(commas(v.out, "onset"), 0);
  EXPECT_EQ(commas(v.out, "stpm"), 81);
  EXPECT_NE(v.out.find("\"chroma\": []"), std::string::npos);
}

// The node announces beats in silence; they are not reported,
// while the music around a silent gap still is.
TEST(EndToEnd, NoBeatsInSilence) {
  Env e;
  Piece p = makeGroove(120.0, 12.0, 16000, 1, 12);
  Piece gap = p;
  gap.samples.insert(gap.samples.begin() + 6 * 16000, size_t(10 * 16000), 0.0f);
  writePiece(e.work.file("gap.wav"), gap, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  Piece silence = p;
  std::fill(silence.samples.begin(), silence.samples.end(), 0.0f);
  writePiece(e.work.file("silence.wav"), silence, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  Piece clicks = silence;
  for (double at : {0.5, 1.1})
    for (int i = 0; i < 400; ++i)
      clicks.samples[size_t(at * 16000) + i] = float(0.7 * std::exp(-i / 128.0) * std::sin(0.8 * i));
  writePiece(e.work.file("clicks.wav"), clicks, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  Piece late = p;
  late.samples.insert(late.samples.begin(), size_t(3 * 16000), 0.0f);
  writePiece(e.work.file("late.wav"), late, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  Piece antiphase = makeGroove(120.0, 12.0, 16000, 2, 12);
  for (size_t i = 0; i < antiphase.samples.size(); i += 2) antiphase.samples[i + 1] = -antiphase.samples[i];
  writePiece(e.work.file("antiphase.wav"), antiphase, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  // A tone and noise, which the trackers announce beats in (all discarded),
  // and click tracks at tempi whose period is no whole number of frames.
  Piece tone = silence, noise = silence, click128 = silence, click174 = silence;
  std::mt19937 random(5);
  std::normal_distribution<float> gauss(0.0f, 0.2f);
  for (size_t i = 0; i < silence.samples.size(); ++i) {
    tone.samples[i] = float(0.5 * std::sin(2 * 3.14159265358979 * 440.0 * double(i) / 16000));
    noise.samples[i] = gauss(random);
  }
  for (auto [piece, bpm] : {std::pair{&click128, 128.0}, std::pair{&click174, 174.0}})
    for (double at = 0.3; at < 11.9; at += 60.0 / bpm)
      for (int i = 0; i < 400; ++i)
        piece->samples[size_t(at * 16000) + i] =
            float(0.7 * std::exp(-i / 128.0) * std::sin(0.8 * i));
  writePiece(e.work.file("tone.wav"), tone, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  writePiece(e.work.file("noise.wav"), noise, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  writePiece(e.work.file("click128.wav"), click128, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  writePiece(e.work.file("click174.wav"), click174, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  // Offline beats are gated by the time they fall on, not by when they
  // become final.
  for (std::vector<std::string> mode : {std::vector<std::string>{"--tracker", "stpm"},
                                        std::vector<std::string>{},
                                        std::vector<std::string>{"--offline"}}) {
    auto run = [&](std::vector<std::string> args) {
      args.insert(args.begin(), mode.begin(), mode.end());
      return e.run(args);
    };
    const std::string name = mode.empty() ? "bar-pointer" : mode.back();
    ToolResult r = run({"silence.wav"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.empty()) << name << ": " << r.out;
    r = run({"gap.wav"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto times = parseTimes(r.lines());
    int before = 0, inside = 0, after = 0;  // the gap is 6 s to 16 s; its first second may hold beats
    for (double t : times) {
      if (t < 6.0) ++before;
      else if (t >= 7.0 && t < 16.0) ++inside;
      else if (t >= 16.0) ++after;
    }
    EXPECT_GE(before, 5) << name;
    EXPECT_EQ(inside, 0) << name << ": " << r.out;
    EXPECT_GE(after, 5) << name;
    ToolResult ungated = run({"--no-silence-gate", "--unlocked", "--format", "csv", "silence.wav"});
    EXPECT_EQ(ungated.status, 0);
    EXPECT_FALSE(csvBeats(ungated).empty()) << name;  // what the gate is there for

    // Nothing before a beat period of the slowest tempo has been heard since
    // the first click: the stpm node's announcements then rest on the
    // silence its histories start with, and it has nothing to announce
    // after; the bar-pointer tracker may predict a third click.
    r = run({"clicks.wav"});
    EXPECT_EQ(r.status, 0) << r.err;
    const double slowest = name == "stpm" ? 79.0 : 55.0;
    for (double t : parseTimes(r.lines())) EXPECT_GE(t, 0.5 + 60.0 / slowest) << name << ": " << r.out;
    if (name == "stpm") {
      EXPECT_TRUE(r.out.empty()) << r.out;
    }
    // Nothing before the music starts, and stereo in antiphase is silence
    // to the node, which hears the channel mean.
    r = run({"late.wav"});
    EXPECT_EQ(r.status, 0) << r.err;
    times = parseTimes(r.lines());
    ASSERT_FALSE(times.empty()) << name;
    EXPECT_GE(times.front(), 3.0) << name << ": " << r.out;
    r = run({"antiphase.wav"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.empty()) << name << ": " << r.out;

    // Nothing before the tracker first locked on: a tone or noise gives no
    // beats (the stpm node's reliability is as high in noise as in music),
    // while the unlocked beats are there on request, all discarded.
    for (const char* unmusical : {"tone.wav", "noise.wav"}) {
      if (name == "stpm") break;
      EXPECT_TRUE(run({unmusical}).out.empty()) << name << " " << unmusical;
      const auto unlocked = csvBeats(run({"--format", "csv", "--unlocked", unmusical}));
      EXPECT_GT(unlocked.size(), 10u) << name << " " << unmusical;
      for (const auto& b : unlocked) EXPECT_FALSE(b.reliable) << name << " " << unmusical;
    }
    // The tempo between whole frames (100 a second: 174 BPM is 34.48
    // frames, 128 BPM 46.88), offline and for stpm too.
    const double bpm = name == "stpm" ? 128.0 : 174.0;
    r = run({"--format", "csv", name == "stpm" ? "click128.wav" : "click174.wav"});
    const auto clicked = csvBeats(r);
    EXPECT_GT(clicked.size(), size_t(8.0 * bpm / 60.0)) << name << ": " << r.out;
    EXPECT_NEAR(medianTempo(clicked), bpm, 0.3) << name << ": " << r.out;
  }
}

// The click track is the input at a lower level with a click starting at
// every reported beat and nothing between beats: online, written as the
// input is read; offline, on a second reading once the beats are final.
TEST(EndToEnd, ClickTrackMatchesTheInput) {
  Env e;
  Piece p = makeGroove(120.0, 10.0, 22050, 2, 6);
  // At full scale, so that input and clicks together would pass it.
  float peak = 0.0f;
  for (float v : p.samples) peak = std::max(peak, std::fabs(v));
  for (float& v : p.samples) v /= peak;
  writePiece(e.work.file("a.wav"), p, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  writePiece(e.work.file("b24.wav"), p, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
  // The container follows the click track's extension, the sample format the input.
  struct Case {
    const char *input, *out;
    int format;
    bool lossy = false;  // only the container and the length are checked
  } cases[] = {{"a.wav", "clicks.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
               {"b24.wav", "clicks.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
               {"a.wav", "clicks", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
               {"a.wav", "clicks.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, true}};
  for (const char* mode : {"--no-progress", "--offline"}) {
    for (const auto& c : cases) {
      const std::string what = std::string(mode) + " " + c.out;
      ToolResult r = e.run({mode, "--clicks", c.out, c.input});
      ASSERT_EQ(r.status, 0) << what << ": " << r.err;
      SF_INFO info{};
      SNDFILE* f = sf_open(e.work.file(c.out).c_str(), SFM_READ, &info);
      ASSERT_NE(f, nullptr) << what;
      std::vector<int> samples(size_t(info.frames) * info.channels);
      sf_readf_int(f, samples.data(), info.frames);
      sf_close(f);
      EXPECT_EQ(info.format, c.format) << what;
      EXPECT_EQ(info.samplerate, 22050);
      EXPECT_EQ(info.channels, 2);
      EXPECT_EQ(info.frames, sf_count_t(p.samples.size() / 2));
      int clipped = 0;  // samples at full scale
      for (int v : samples) clipped += v >= 0x7FFF0000 || v <= -0x7FFF0000;
      EXPECT_EQ(clipped, 0) << what;
      if (c.lossy) continue;
      // Largest difference from the input at half its level in [from, to) s.
      auto added = [&](double from, double to) {
        float most = 0.0f;
        for (size_t i = size_t(from * 22050) * 2; i < size_t(to * 22050) * 2 && i < samples.size(); ++i)
          most = std::max(most, std::fabs(float(samples[i] / 2147483648.0) - 0.5f * p.samples[i]));
        return most;
      };
      auto times = parseTimes(r.lines());
      ASSERT_GT(times.size(), 10u) << what;
      for (double t : times) {
        if (t + 0.3 > 10.0) break;
        EXPECT_GT(added(t, t + 0.01), 0.1f) << what << ": no click at " << t;
        EXPECT_LT(added(t + 0.2, t + 0.3), 0.01f) << what << ": a click between beats after " << t;
      }
    }
    EXPECT_EQ(e.work.entries(), (std::vector<std::string>{"a.wav", "b24.wav", "clicks",
                                                          "clicks.flac", "clicks.ogg",
                                                          "clicks.wav"}))
        << mode;
  }
}

// A full disk is an output error (status 4) in one line that names the
// path and the system's reason, and leaves no cut-off file behind.
TEST(EndToEnd, FullDiskIsAnOutputError) {
  Env e;
  writePiece(e.work.file("a.wav"), makeGroove(120.0, 20.0, 44100, 2, 6),
             SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  ToolResult r = runTool(e.with({"a.wav"}), e.work.path(), e.env(), ToolProcess::Input::kNone,
                         "", "/dev/full");
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_EQ(r.err, "tesk-beat: standard output: No space left on device\n");

  // A file system of 1 MiB, filled up.
  const std::string full = e.work.file("full");
  ASSERT_EQ(::mkdir(full.c_str(), 0777), 0);
  if (::mount("tmpfs", full.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "mounting a tmpfs is not permitted here: " << std::strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{full};
  ASSERT_EQ(::mkdir((full + "/out").c_str(), 0777), 0);
  ASSERT_EQ(::mkdir((full + "/logs").c_str(), 0777), 0);
  auto fill = [&](const std::string& name, size_t limit) {
    std::FILE* filler = std::fopen((full + "/" + name).c_str(), "w");
    ASSERT_NE(filler, nullptr);
    std::string block(4096, 'x');
    for (size_t n = 0; n < limit && std::fwrite(block.data(), 1, block.size(), filler) == block.size();
         n += block.size()) {
    }
    std::fclose(filler);
  };
  fill("spare", 64 * 1024);
  fill("filler", SIZE_MAX);
  struct Case {
    std::vector<std::string> args;
    std::string named;
    bool room;  // 64 KiB free: the click track fails after its first writes
  } cases[] = {
      {{"--clicks", full + "/c.wav", "a.wav"}, full + "/c.wav: ", true},
      {{"--clicks", full + "/c.flac", "a.wav"}, full + "/c.flac: ", true},
      {{"--clicks", full + "/c.wav", "a.wav"}, full + "/c.wav: ", false},
      // Offline, the click track is written on a second reading of the input.
      {{"--offline", "--clicks", full + "/c.wav", "a.wav"}, full + "/c.wav: ", true},
      {{"-o", full + "/out", "a.wav"}, full + "/out/a.beats: ", false},
      {{"--tracker", "stpm", "--log-dir", full + "/logs", "a.wav"},
       full + "/logs/bt_pellanbt.dat: ", false},
  };
  for (const auto& c : cases) {
    if (c.room) ::unlink((full + "/spare").c_str());
    r = e.run(c.args);
    EXPECT_EQ(r.status, 4) << c.named << r.err;
    EXPECT_EQ(r.err, "tesk-beat: " + c.named + "No space left on device\n");
    if (c.room) fill("spare", SIZE_MAX);
  }
  EXPECT_EQ(listDirectory(full), (std::vector<std::string>{"filler", "logs", "out", "spare"}));
  EXPECT_TRUE(listDirectory(full + "/out").empty());
  EXPECT_TRUE(listDirectory(full + "/logs").empty());
  EXPECT_TRUE(e.tmp.entries().empty());
}

// The click track never destroys an input, however it names it, and a run
// that fails leaves an older click track as it was.
TEST(EndToEnd, ClickTrackNeverOverwritesAnInput) {
  Env e;
  writePiece(e.work.file("a.wav"), makeGroove(120.0, 6.0, 16000, 1, 6),
             SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  ASSERT_EQ(::symlink("a.wav", e.work.file("soft.wav").c_str()), 0);
  ASSERT_EQ(::link(e.work.file("a.wav").c_str(), e.work.file("hard.wav").c_str()), 0);
  const std::string original = readFile(e.work.file("a.wav"));
  for (const char* mode : {"--no-progress", "--offline"})
    for (const std::string& out : std::vector<std::string>{"a.wav", "./a.wav", e.work.file("a.wav"),
                                                           "soft.wav", "hard.wav"}) {
      ToolResult r = e.run({mode, "--clicks", out, "a.wav"});
      EXPECT_EQ(r.status, 2) << mode << " " << out << ": " << r.err;
      EXPECT_NE(r.err.find("is the input a.wav"), std::string::npos) << r.err;
    }
  ToolResult piped = runTool(e.with({"--clicks", "hard.wav", "-"}), e.work.path(), e.env(),
                             ToolProcess::Input::kFile, e.work.file("a.wav"));
  EXPECT_EQ(piped.status, 2) << piped.err;
  EXPECT_EQ(readFile(e.work.file("a.wav")), original);

  writeFile(e.work.file("old.wav"), "an older click track");
  writeFile(e.work.file("bad.wav"), "not audio");
  for (const char* mode : {"--no-progress", "--offline"}) {
    ToolResult failed = e.run({mode, "--clicks", "old.wav", "bad.wav"});
    EXPECT_EQ(failed.status, 1) << mode << ": " << failed.err;
    EXPECT_EQ(readFile(e.work.file("old.wav")), "an older click track") << mode;
  }
  EXPECT_EQ(e.work.entries(),
            (std::vector<std::string>{"a.wav", "bad.wav", "hard.wav", "old.wav", "soft.wav"}));
  EXPECT_TRUE(e.tmp.entries().empty());
}

namespace {

// The tool with standard error, and standard output too if `shared`, on a
// new pseudo-terminal; its standard input is a pipe.
struct OnTerminal {
  pid_t pid = -1;
  int terminal = -1, input = -1;
  std::string screen;  // everything shown so far

  OnTerminal(const std::vector<std::string>& args, const std::string& cwd,
             const std::vector<std::string>& env, bool shared) {
    int slave = -1, in[2];
    if (::openpty(&terminal, &slave, nullptr, nullptr, nullptr) != 0 || ::pipe(in) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      ::dup2(in[0], 0);
      int out = shared ? slave : ::open("/dev/null", O_WRONLY);
      ::dup2(out, 1);
      ::dup2(slave, 2);
      execTool(cwd, env, args);
    }
    ::close(slave);
    ::close(in[0]);
    input = in[1];
  }
  ~OnTerminal() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    if (terminal >= 0) ::close(terminal);
    if (input >= 0) ::close(input);
  }
  void write(const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
      ssize_t w = ::write(input, bytes.data() + done, bytes.size() - done);
      if (w <= 0) return;
      done += size_t(w);
    }
  }
  // Reads what is shown until `seen` is on the screen or the terminal
  // closes (false), at most `limit_seconds`.
  bool showUntil(const std::string& seen, double limit_seconds) {
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(int64_t(limit_seconds * 1000));
    while (seen.empty() || screen.find(seen) == std::string::npos) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now()).count();
      pollfd p{terminal, POLLIN, 0};
      if (left <= 0 || ::poll(&p, 1, int(left)) <= 0) return false;
      char buf[4096];
      ssize_t n = ::read(terminal, buf, sizeof buf);
      if (n <= 0) return false;  // EIO: every writer has gone
      screen.append(buf, size_t(n));
    }
    return true;
  }
  int finish(double limit_seconds) {
    ::close(input);
    input = -1;
    showUntil("", limit_seconds);
    int st = 0;
    ::waitpid(pid, &st, 0);
    pid = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  }
};

}  // namespace

// On a terminal the progress bar never mixes with beat lines: it is kept
// off when standard output is the same terminal; with several inputs in
// parallel there is one bar for the whole run.
TEST(EndToEnd, ProgressBarOnATerminal) {
  Env e;
  writePiece(e.work.file("long.wav"), makeGroove(120.0, 40.0, 16000, 1, 3),
             SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  const std::string plain = e.run({"long.wav"}).out;
  ASSERT_FALSE(plain.empty());
  {
    OnTerminal t(e.with({"long.wav"}), e.work.path(), e.env(), true);
    ASSERT_GT(t.pid, 0);
    EXPECT_EQ(t.finish(120.0), 0) << t.screen;
    std::string expected;  // the terminal shows each newline as CR LF
    for (char c : plain) expected += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(t.screen, expected);
  }
  const std::string bytes = readFile(e.work.file("long.wav"));
  {
    // With -o standard output carries no beat lines: the bar may share its terminal.
    OnTerminal t(e.with({"-o", "out", "-"}), e.work.path(), e.env(), true);
    ASSERT_GT(t.pid, 0);
    t.write(bytes.substr(0, bytes.size() / 2));
    EXPECT_TRUE(t.showUntil("%", 120.0)) << t.screen;
    t.write(bytes.substr(bytes.size() / 2));
    EXPECT_EQ(t.finish(120.0), 0) << t.screen;
  }
  OnTerminal t(e.with({"-j2", "long.wav", "-"}), e.work.path(), e.env(), false);
  ASSERT_GT(t.pid, 0);
  t.write(bytes.substr(0, bytes.size() / 2));
  // Standard input is half read: the bar shows while the run goes on.
  ASSERT_TRUE(t.showUntil(" inputs [", 120.0)) << t.screen;
  t.write(bytes.substr(bytes.size() / 2));
  EXPECT_EQ(t.finish(120.0), 0) << t.screen;
  int bars = 0;
  for (size_t at = t.screen.find('\r'); at != std::string::npos; at = t.screen.find('\r', at + 1)) {
    std::string drawn = t.screen.substr(at + 1, t.screen.find('\r', at + 1) - at - 1);
    if (drawn.empty() || drawn == "\033[K") continue;
    ++bars;
    EXPECT_EQ(drawn.find("/2 inputs ["), 1u) << drawn;
  }
  EXPECT_GT(bars, 0);
  EXPECT_EQ(t.screen.substr(t.screen.size() - 4), "\r\033[K") << "the bar is cleared at the end";
}

// A signal in the middle of a live stream: the output ends so that a reader
// can tell it from a complete one, standard error says so, and the private
// directory goes too, also when the supervisor is killed outright (its
// worker stops with it and cleans up).
TEST(EndToEnd, TerminatedStreamCleansUp) {
  Env e;
  Piece p = makeGroove(120.0, 20.0, 16000, 1, 8);
  writePiece(e.work.file("a.wav"), p, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  writePiece(e.work.file("b.wav"), makeGroove(100.0, 8.0, 16000, 1, 9),
             SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  std::string bytes = readFile(e.work.file("a.wav"));
  struct Case {
    int sig;
    std::vector<std::string> args;
    std::string running;  // the line that shows standard input is being tracked
  } cases[] = {
      {SIGTERM, {"-"}, ""},  // a beat
      {SIGINT, {"--format", "json", "b.wav", "-"}, "{\"input\": \"-\""},
      {SIGHUP, {"--format", "csv", "-j2", "b.wav", "-"}, "# duration"},  // b.wav is done
      {SIGKILL, {"-"}, ""},
      {SIGTERM, {"--tracker", "stpm", "-"}, ""},
      // Offline beats come when final: the stream's beginning shows it is running.
      {SIGINT, {"--offline", "--format", "json", "-"}, "{\"input\": \"-\""},
      {SIGTERM, {"--offline", "--format", "csv", "-"}, "time,"},
  };
  for (const auto& c : cases) {
    const std::string what = std::to_string(c.sig) + " " + c.args[0];
    ToolProcess tool(e.with(c.args), e.work.path(), e.env(), ToolProcess::Input::kPipe);
    tool.write(bytes.data(), bytes.size() / 2);
    std::string line;
    bool running = false;
    while (!running && tool.readLine(line, 120.0)) running = line.rfind(c.running, 0) == 0;
    ASSERT_TRUE(running) << what;
    EXPECT_FALSE(e.tmp.entries().empty());  // the private directory exists now
    tool.signal(c.sig);
    // The worker ends its results and stops, with the supervisor or without it.
    ASSERT_TRUE(tool.waitForOutputEnd(30.0)) << what;
    ToolResult r = tool.finish();
    EXPECT_EQ(r.status, 128 + c.sig) << what;
    EXPECT_TRUE(e.tmp.entries().empty()) << what;
    EXPECT_EQ(e.work.entries(), (std::vector<std::string>{"a.wav", "b.wav"})) << what;
    if (c.sig == SIGKILL) {
      EXPECT_EQ(r.out.substr(r.out.size() - 14), "# interrupted\n") << what << r.out;
      continue;
    }
    EXPECT_NE(r.err.find("interrupted by SIG"), std::string::npos) << what << r.err;
    if (std::find(c.args.begin(), c.args.end(), "json") != c.args.end()) {
      EXPECT_TRUE(isJsonDocument(r.out)) << r.out;
      EXPECT_EQ(r.out.find("\"error\""), r.out.rfind("\"error\": \"interrupted\"}")) << r.out;
    } else {
      EXPECT_EQ(r.out.substr(r.out.size() - 14), "# interrupted\n") << what << r.out;
    }
  }
}

// Every beat written is also sent to the OSC receiver, with the same time,
// tempo, reliability and place in the bar; a receiver that refuses the connection is said
// once, the beats still reach standard output, and the run ends with the
// output-error status.
TEST(EndToEnd, OscReceiverGetsTheBeatsWritten) {
  Env e;
  writePiece(e.work.file("a.wav"), makeGroove(120.0, 12.0, 44100, 1, 5),
             SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  struct Received {
    double time;
    float tempo, confidence;
    int reliable, beat_in_bar;
  };
  std::vector<Received> received;
  lo_server server = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
  ASSERT_NE(server, nullptr);
  lo_server_add_method(
      server, "/tesk/beat", "dffii",
      [](const char*, const char*, lo_arg** argv, int, lo_message, void* data) {
        // liblo's arguments need not be aligned for their type: copied out.
        auto as = [](const lo_arg* a, auto v) {
          std::memcpy(&v, static_cast<const void*>(a), sizeof v);
          return v;
        };
        static_cast<std::vector<Received>*>(data)->push_back({as(argv[0], 0.0), as(argv[1], 0.0f),
                                                              as(argv[2], 0.0f), as(argv[3], 0),
                                                              as(argv[4], 0)});
        return 0;
      },
      &received);
  const std::string url = "osc.udp://127.0.0.1:" + std::to_string(lo_server_get_port(server));
  ToolResult r = e.run({"--format", "csv", "--activation", "learned", "--osc", url, "a.wav"});
  // The datagrams are already queued on the socket: bounded draining.
  while (lo_server_recv_noblock(server, 200) > 0) {
  }
  lo_server_free(server);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<CsvBeat> written = csvBeats(r);
  ASSERT_GT(written.size(), 15u);
  ASSERT_EQ(received.size(), written.size());
  for (size_t i = 0; i < written.size(); ++i) {
    EXPECT_NEAR(received[i].time, written[i].time, 1e-4) << i;
    EXPECT_EQ(received[i].reliable != 0, written[i].reliable) << i;
    EXPECT_NEAR(received[i].tempo, written[i].tempo, 0.01) << i;
    EXPECT_EQ(received[i].beat_in_bar, written[i].beat_in_bar) << i;
  }
  // The learned activation tells bars of 2 to 4 beats; the spectral flux
  // beats only, its last column empty.
  EXPECT_EQ(r.lines().at(0), "time,reliable,tempo,confidence,beat_in_bar");
  for (const CsvBeat& b : written) {
    EXPECT_GE(b.beat_in_bar, 1) << b.time;
    EXPECT_LE(b.beat_in_bar, 4) << b.time;
  }
  ToolResult flux = e.run({"--format", "csv", "--activation", "flux", "a.wav"});
  ASSERT_EQ(flux.status, 0) << flux.err;
  for (const CsvBeat& b : csvBeats(flux)) EXPECT_EQ(b.beat_in_bar, 0) << b.time;

  // Port 1 on loopback: nothing listens, the connection is refused.
  ToolResult refused = e.run({"--osc", "osc.tcp://127.0.0.1:1", "a.wav"});
  EXPECT_EQ(refused.status, 4);
  EXPECT_EQ(lineCount(refused.out), int(written.size()));
  EXPECT_EQ(lineCount(refused.err), 1) << refused.err;
  EXPECT_NE(refused.err.find("osc.tcp://127.0.0.1:1"), std::string::npos) << refused.err;
}
