// Unit tests of the tool's parts that need no plug-in: options, settings,
// reading and framing, spectrum, writers and the click track.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <vector>

#include "audio_input.h"
#include "beat_time.h"
#include "click_writer.h"
#include "framer.h"
#include "options.h"
#include "resampler.h"
#include "bar_pointer_settings.h"
#include "input_settings.h"
#include "tesk-music/pipeline/settings.h"
#include "silence_gate.h"
#include "stft.h"
#include "tool_process.h"
#include "work_dir.h"
#include "writers.h"

using namespace tesk_beat;
using namespace tesk_pipeline;
using tesk_beat_test::TempDir;

namespace {

Options parse(std::vector<const char*> args) {
  args.insert(args.begin(), "tesk-beat");
  return parseOptions(int(args.size()), args.data());
}

std::string usageMessage(std::vector<const char*> args) {
  try {
    parse(args);
  } catch (const UsageError& e) {
    return e.what();
  }
  return "";
}

void writeFloats(const std::string& path, const std::vector<float>& samples, int channels,
                 int rate, int format) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  sf_writef_float(f, samples.data(), sf_count_t(samples.size() / channels));
  sf_close(f);
}

}  // namespace

TEST(Options, DefaultsAndValues) {
  Options o = parse({"a.wav"});
  EXPECT_EQ(o.inputs, std::vector<std::string>{"a.wav"});
  EXPECT_EQ(o.format, OutputFormat::kPlain);
  EXPECT_EQ(o.tracker, TrackerKind::kBarPointer);
  EXPECT_FALSE(o.offline);
  EXPECT_EQ(o.window, 0);
  EXPECT_EQ(o.jobs, 1);
  // Tracking options not given take the chosen tracker's defaults: for
  // stpm those it always had.
  struct Expected {
    const char* tracker;
    int rate, min_bpm, max_bpm, announce_ahead;
  };
  for (const Expected& e : {Expected{"bar-pointer", 44100, 55, 215, 3},
                            Expected{"stpm", 16000, 79, 160, 0}}) {
    Options r = withTrackerDefaults(parse({"--tracker", e.tracker, "a.wav"}));
    EXPECT_EQ(defaultsOf(r.tracker).name, std::string(e.tracker));
    EXPECT_EQ(r.analysis_rate, e.rate) << e.tracker;
    EXPECT_EQ(r.min_bpm, e.min_bpm) << e.tracker;
    EXPECT_EQ(r.max_bpm, e.max_bpm) << e.tracker;
    EXPECT_EQ(r.threshold, 0.5f) << e.tracker;
    EXPECT_EQ(r.compress, 10.0) << e.tracker;
    EXPECT_EQ(r.announce_ahead, e.announce_ahead) << e.tracker;
    EXPECT_EQ(r.window, 0) << "set from the rate";
  }

  o = parse({"--format=json", "--min-bpm", "70", "--max-bpm=150", "--threshold", "0.25",
             "--compress", "3.5", "--offset", "-0.02", "-j", "3", "--tracker=bar-pointer",
             "--offline", "--announce-ahead", "0", "--analysis-rate", "0", "--", "-x.wav", "-"});
  EXPECT_EQ(o.format, OutputFormat::kJson);
  EXPECT_EQ(o.min_bpm, 70);
  EXPECT_EQ(o.max_bpm, 150);
  EXPECT_EQ(o.threshold, 0.25f);
  EXPECT_EQ(o.compress, 3.5);
  EXPECT_DOUBLE_EQ(o.offset, -0.02);
  EXPECT_EQ(o.jobs, 3);
  EXPECT_TRUE(o.offline);
  EXPECT_EQ(o.announce_ahead, 0);
  EXPECT_EQ(o.analysis_rate, 0);
  EXPECT_FALSE(o.activation) << "unset: the tracker's default";
  EXPECT_EQ(o.inputs, (std::vector<std::string>{"-x.wav", "-"}));
  // Values given stay what they were whatever the tracker's defaults.
  Options r = withTrackerDefaults(o);
  EXPECT_EQ(r.min_bpm, 70);
  EXPECT_EQ(r.threshold, 0.25f);
  EXPECT_EQ(r.compress, 3.5);
  EXPECT_EQ(r.announce_ahead, 0);
  EXPECT_EQ(r.analysis_rate, 0);

  // getopt conventions: values attached to short options, flags grouped.
  o = parse({"-j2", "-oout/dir", "-vh", "--jobs=4", "a"});
  EXPECT_EQ(o.jobs, 4);
  EXPECT_EQ(o.output_dir, "out/dir");
  EXPECT_TRUE(o.verbose);
  EXPECT_TRUE(o.show_help);
  EXPECT_EQ(parse({"-j2", "a"}).jobs, 2);
  EXPECT_EQ(parse({"-o", "d", "a"}).output_dir, "d");

  EXPECT_EQ(parse({"--activation", "flux", "a"}).activation, tesk_pipeline::Activation::kFlux);
  EXPECT_EQ(parse({"--activation=learned", "a"}).activation, tesk_pipeline::Activation::kLearned);
  EXPECT_EQ(withTrackerDefaults(parse({"a"})).activation, tesk_pipeline::Activation::kFlux);
  EXPECT_EQ(parse({"--no-compress", "a"}).compress, 0.0);
  EXPECT_TRUE(parse({"--help"}).show_help);  // no input needed

  // Live mode: no input; the one positional argument names the client, and
  // the input ports are as many as the ports connected to them.
  o = parse({"--jack"});
  EXPECT_TRUE(o.jack && o.inputs.empty());
  EXPECT_EQ(o.jack_name, "tesk-beat");
  EXPECT_EQ(o.jack_ports, 1);
  EXPECT_FALSE(o.midi_out || o.midi_clock || o.midi_note || o.midi_velocity);
  o = parse({"--jack", "--jack-name", "beats", "--connect", "system:capture_1",
             "--connect=system:capture_2",
             "--midi-out", "--midi-clock", "--midi-note", "60", "--midi-channel", "1",
             "--midi-velocity", "confidence", "--midi-downbeat-note", "36"});
  EXPECT_EQ(o.jack_name, "beats");
  EXPECT_EQ(o.connect, (std::vector<std::string>{"system:capture_1", "system:capture_2"}));
  EXPECT_EQ(o.jack_ports, 2);
  EXPECT_TRUE(o.midi_out && o.midi_clock);
  EXPECT_EQ(o.midi_note, 60);
  EXPECT_EQ(o.midi_downbeat_note, 36);
  EXPECT_EQ(o.midi_channel, 1);
  EXPECT_EQ(o.midi_velocity, 0) << "0 = from the confidence";
  EXPECT_EQ(parse({"--jack=b", "--jack-ports", "2", "--midi-out", "--midi-velocity", "90"}).jack_ports, 2);
  EXPECT_EQ(parse({"--jack=b", "--midi-out", "--midi-velocity", "90"}).midi_velocity, 90);
}

TEST(Options, RejectsWithAMessageNamingTheOption) {
  EXPECT_NE(usageMessage({"--bogus", "a"}).find("--bogus"), std::string::npos);
  EXPECT_NE(usageMessage({"--window", "12x", "a"}).find("--window"), std::string::npos);
  EXPECT_NE(usageMessage({"--window", "", "a"}).find("--window"), std::string::npos);
  EXPECT_NE(usageMessage({"--threshold", "nan", "a"}).find("--threshold"), std::string::npos);
  EXPECT_NE(usageMessage({"--threshold", "1.5", "a"}).find("out of range"), std::string::npos);
  EXPECT_NE(usageMessage({"--jobs", "0", "a"}).find("--jobs"), std::string::npos);
  EXPECT_NE(usageMessage({"--min-bpm", "99999999999999999999", "a"}).find("--min-bpm"),
            std::string::npos);
  EXPECT_NE(usageMessage({"a", "--advance"}).find("missing value"), std::string::npos);
  EXPECT_NE(usageMessage({"--format", "xml", "a"}).find("xml"), std::string::npos);
  EXPECT_NE(usageMessage({"--osc", "udp://127.0.0.1:9000", "a"}).find("not an OSC URL"),
            std::string::npos);
  EXPECT_NE(usageMessage({"--osc", "osc.udp://127.0.0.1:70000", "a"}).find("1 to 65535"),
            std::string::npos);
  EXPECT_EQ(usageMessage({"--osc", "osc.udp://[::1]:9000", "--osc=osc.unix:///tmp/s", "a"}), "");
  EXPECT_NE(usageMessage({"--min-bpm", "150", "--max-bpm", "100", "a"}).find("--max-bpm"),
            std::string::npos);
  EXPECT_NE(usageMessage({"--window", "256", "--advance", "512", "a"}).find("--advance"),
            std::string::npos);
  // Window, advance, tempo range and analysis rate are checked together,
  // at the chosen tracker's defaults; the message names only the options
  // given.
  EXPECT_NE(usageMessage({"--window", "48", "a"}).find("--window: '48' is out of range (64 to"),
            std::string::npos);
  EXPECT_EQ(usageMessage({"--tracker", "stpm", "--advance", "600", "a"}),
            "--advance 600 exceeds the default window (512 samples) at the default analysis "
            "rate of 16000 Hz");
  EXPECT_EQ(usageMessage({"--advance", "3000", "a"}),
            "--advance 3000 exceeds the default window (2048 samples) at the default analysis "
            "rate of 44100 Hz");
  EXPECT_EQ(usageMessage({"--tracker=stpm", "--analysis-rate", "8000", "--advance", "300", "a"}),
            "--advance 300 exceeds the default window (256 samples) at --analysis-rate 8000 Hz");
  EXPECT_NE(usageMessage({"--tracker", "stpm", "--min-bpm", "5", "a"})
                .find("--min-bpm 5 needs beat intervals of 1200"),
            std::string::npos);
  EXPECT_EQ(usageMessage({"--min-bpm", "5", "a"}), "");  // 1200 frames: within bar-pointer's 2000
  EXPECT_EQ(usageMessage({"--announce-ahead=30", "a"}),
            "--announce-ahead 30 is not shorter than the shortest beat interval: the default "
            "advance (441 samples) at the default analysis rate of 44100 Hz gives 100 frames/s, "
            "so the default fastest tempo (215 BPM) needs intervals of 28 frames (use a smaller "
            "--announce-ahead or --max-bpm)");
  EXPECT_EQ(usageMessage({"--analysis-rate", "0", "--advance", "600", "a"}), "");
  EXPECT_NE(usageMessage({"--verbose=yes", "a"}).find("takes no value"), std::string::npos);
  EXPECT_NE(usageMessage({"-vx", "a"}).find("'-x': unknown option"), std::string::npos);
  EXPECT_NE(usageMessage({"-jx", "a"}).find("-j"), std::string::npos);
  EXPECT_FALSE(usageMessage({}).empty());
  EXPECT_NE(usageMessage({"-", "-"}).find("more than once"), std::string::npos);
  EXPECT_NE(usageMessage({"--raw", "16000:1", "a.wav"}).find("--raw"), std::string::npos);
  EXPECT_NE(usageMessage({"--clicks", "c.wav", "a", "b"}).find("--clicks"), std::string::npos);
  EXPECT_NE(usageMessage({"--diagnostics", "a"}).find("--log-dir"), std::string::npos);
  EXPECT_NE(usageMessage({"--vectors", "a"}).find("--format json"), std::string::npos);
  EXPECT_EQ(usageMessage({"--vectors", "--format", "json", "a"}), "");
  EXPECT_NE(usageMessage({"--unlocked", "a"}).find("--unlocked needs --format csv or json"),
            std::string::npos);
  // Options that one tracker has and the other has not.
  EXPECT_NE(usageMessage({"--tracker", "btrack", "a"}).find("--tracker: 'btrack' is unknown"),
            std::string::npos);
  EXPECT_NE(usageMessage({"--tracker", "stpm", "--offline", "a"}).find("--offline"),
            std::string::npos);
  EXPECT_NE(usageMessage({"--announce-ahead", "2", "--tracker", "stpm", "a"}).find("--announce-ahead"),
            std::string::npos);
  EXPECT_EQ(usageMessage({"--activation", "bogus", "a"}),
            "--activation: 'bogus' is unknown (use flux or learned)");
  EXPECT_EQ(usageMessage({"--tracker", "stpm", "--activation", "learned", "a"}),
            "--activation applies to --tracker bar-pointer only");
  EXPECT_NE(usageMessage({"--diagnostics", "--log-dir", "d", "a"}).find("--diagnostics applies"),
            std::string::npos);
  EXPECT_EQ(usageMessage({"--diagnostics", "--log-dir", "d", "--tracker", "stpm", "a"}), "");
  EXPECT_NE(usageMessage({"--offline", "--vectors", "a"}).find("--vectors"), std::string::npos);
  EXPECT_NE(usageMessage({"--offline", "--clicks", "c.wav", "-"}).find("standard input"),
            std::string::npos);
  EXPECT_EQ(usageMessage({"--offline", "--clicks", "c.wav", "a"}), "");
  // A tempo bound given against the other's default names the default.
  EXPECT_NE(usageMessage({"--tracker", "stpm", "--min-bpm", "170", "a"})
                .find("--max-bpm 160 (the stpm tracker's default)"),
            std::string::npos);
  EXPECT_EQ(usageMessage({"--min-bpm", "170", "a"}), "");
  // Live mode's options need it, and the options of files exclude it.
  struct Refused {
    std::vector<const char*> args;
    const char* message_part;
  };
  for (const Refused& r : {
           Refused{{"--midi-out", "a"}, "--midi-out needs --jack"},
           Refused{{"--midi-clock", "a"}, "--midi-clock needs --jack"},
           Refused{{"--connect", "system:capture_1", "a"}, "--connect needs --jack"},
           Refused{{"--jack", "--midi-note", "40"}, "--midi-note needs --midi-out"},
           Refused{{"--jack", "--midi-downbeat-note", "36"}, "--midi-downbeat-note needs --midi-out"},
           Refused{{"--jack", "--midi-out", "--midi-downbeat-note", "128"}, "--midi-downbeat-note: '128'"},
           Refused{{"--jack", "--midi-velocity", "0"}, "--midi-velocity: '0' is out of range"},
           Refused{{"--jack", "--midi-out", "--midi-channel", "17"}, "--midi-channel"},
           Refused{{"--jack", "a", "b"}, "--jack takes no INPUT"},
           Refused{{"--jack", "song.wav"}, "INPUT ('song.wav'); the client's name is --jack-name"},
           Refused{{"--jack-name", "x", "a"}, "--jack-name needs --jack"},
           Refused{{"--jack", "-"}, "standard input"},
           Refused{{"--jack", "--offline"}, "--offline cannot be used with --jack"},
           Refused{{"--jack", "--clicks", "c.wav"}, "--clicks cannot be used with --jack"},
           Refused{{"--jack", "-j", "2"}, "--jobs cannot be used with --jack"},
           Refused{{"--jack", "--connect", "x:1", "--connect", "x:2", "--connect", "x:3"},
                   "--connect: at most two input ports"},
           Refused{{"--jack", "--jack-ports", "1", "--connect", "x:1", "--connect", "x:2"},
                   "--connect given 2 times for 1 input port"},
           Refused{{"--jack", "--connect="}, "--connect: empty name"},
       }) {
    EXPECT_NE(usageMessage(r.args).find(r.message_part), std::string::npos)
        << r.message_part << ": got '" << usageMessage(r.args) << "'";
  }
}

TEST(Options, RawFormat) {
  RawFormat r = parseRawFormat("16000:2");
  EXPECT_EQ(r.sample_rate, 16000);
  EXPECT_EQ(r.channels, 2);
  EXPECT_EQ(r.sample_format, "s16");
  EXPECT_EQ(parseRawFormat("8000:1:f32").sample_format, "f32");
  EXPECT_THROW(parseRawFormat("16000"), UsageError);
  EXPECT_THROW(parseRawFormat("16000:0"), UsageError);
  EXPECT_THROW(parseRawFormat("16000:1:s12"), UsageError);
  EXPECT_THROW(parseRawFormat("16k:1"), UsageError);
  EXPECT_THROW(parseRawFormat("16000:1:s16:x"), UsageError);
}

TEST(Settings, WindowAndAdvanceFollowTheRate) {
  EXPECT_EQ(fftFriendlySize(512), 512);
  EXPECT_EQ(fftFriendlySize(1411), 1440);
  EXPECT_EQ(fftFriendlySize(705), 720);
  EXPECT_EQ(fftFriendlySize(7), 8);
  EXPECT_EQ(fftFriendlySize(2029), 2048);
  EXPECT_EQ(fftFriendlySize(736), 750);
  Options o;
  // bar-pointer: about 46 ms and 10 ms; inputs above 44.1 kHz are resampled.
  TrackerSettings s = trackerSettings(o, 44100, 2, "x");
  EXPECT_EQ(s.tracker, TrackerKind::kBarPointer);
  EXPECT_EQ(s.window, 2048);
  EXPECT_EQ(s.advance, 441);
  EXPECT_EQ(s.announce_ahead, 3);
  s = trackerSettings(o, 16000, 1, "x");
  EXPECT_EQ(s.window, 750);
  EXPECT_EQ(s.advance, 160);
  EXPECT_EQ(analysisRate(o, 48000), 44100);
  EXPECT_EQ(analysisRate(o, 16000), 16000);
  // The decoder runs the model the node builds from these settings.
  bar_pointer::Settings model = barPointerSettings(s);
  EXPECT_EQ(model.sample_rate, 16000.0);
  EXPECT_EQ(model.window_size, 750);
  EXPECT_EQ(model.hop_size, 160);
  EXPECT_EQ(model.min_bpm, 55.0);
  EXPECT_EQ(model.max_bpm, 215.0);
  EXPECT_EQ(model.announce_ahead, 3);
  EXPECT_EQ(model.compression, 10.0);
  // stpm: about 32 ms and 10 ms; inputs above 16 kHz are resampled.
  o.tracker = TrackerKind::kStpm;
  EXPECT_EQ(analysisRate(o, 44100), 16000);
  o.analysis_rate = 0;
  EXPECT_EQ(analysisRate(o, 44100), 44100);
  s = trackerSettings(o, 16000, 1, "x");
  EXPECT_EQ(s.window, 512);
  EXPECT_EQ(s.advance, 160);
  s = trackerSettings(o, 44100, 2, "x");
  EXPECT_EQ(s.window, 1440);
  EXPECT_EQ(s.advance, 441);
  o.window = 1024;
  o.advance = 256;
  s = trackerSettings(o, 44100, 2, "x");
  EXPECT_EQ(s.window, 1024);
  EXPECT_EQ(s.advance, 256);
}

TEST(Settings, DescribedAsTheNodeRunsWithThem) {
  Options stpm;
  stpm.tracker = TrackerKind::kStpm;
  TrackerSettings s = trackerSettings(stpm, 16000, 2, "x");
  EXPECT_EQ(describeSettings(s, 44100, false),
            "tracker stpm, analysis rate 16000 Hz (input 44100 Hz, resampled), window 512 samples "
            "(32.0 ms), advance 160 samples (10.0 ms, 100.0 frames/s), beat intervals 38 to 75 "
            "frames (157.9 to 80.0 BPM), threshold 0.5, compression log(1 + 10*|X|)");
  s.compress = 0.0;
  EXPECT_NE(describeSettings(s, 16000, false).find("16000 Hz, window"), std::string::npos);
  EXPECT_NE(describeSettings(s, 16000, false).find("compression none"), std::string::npos);
  // bar-pointer: its own intervals (rounded periods of the tempo bounds),
  // the compression of its bands, how far ahead it announces.
  Options bp = parse({"--threshold", "0.25", "--announce-ahead", "2", "a"});
  s = trackerSettings(bp, 44100, 2, "x");
  EXPECT_EQ(describeSettings(s, 44100, false),
            "tracker bar-pointer, analysis rate 44100 Hz, window 2048 samples (46.4 ms), advance "
            "441 samples (10.0 ms, 100.0 frames/s), beat intervals 28 to 109 frames (214.3 to "
            "55.0 BPM), threshold 0.25, compression log(1 + 10*x) of the filterbank bands, "
            "activation flux, beats announced up to 2 frames ahead");
  EXPECT_NE(describeSettings(s, 44100, true).find("bands, activation flux, decoded offline (Viterbi)"),
            std::string::npos);
}

TEST(Settings, RejectsWhatTheNodeCannotUse) {
  Options o;
  o.tracker = TrackerKind::kStpm;
  auto message = [&](int rate, int channels) -> std::string {
    try {
      trackerSettings(o, rate, channels, "in.wav");
    } catch (const InputError& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_NE(message(2000, 1).find("sample rate 2000"), std::string::npos);
  EXPECT_NE(message(16000, 1000).find("channels"), std::string::npos);
  o.advance = 4000;  // 4 frames per second: intervals far too short
  o.window = 8192;
  EXPECT_NE(message(16000, 1).find("--max-bpm"), std::string::npos);
  const Options stpm = o = [] {
    Options d;
    d.tracker = TrackerKind::kStpm;
    return d;
  }();
  o.advance = 10;  // 1600 frames per second: intervals too long
  EXPECT_NE(message(16000, 1).find("--min-bpm"), std::string::npos);
  o = stpm;
  o.window = 32;
  EXPECT_NE(message(16000, 1).find("--window"), std::string::npos);
  // Analysed at the input's rate, the settings are checked per input; the
  // message names what the user gave and what was taken by default.
  o = parse({"--tracker", "stpm", "--analysis-rate", "0", "--advance", "4000", "--window", "8192",
             "a"});
  EXPECT_EQ(message(16000, 1),
            "in.wav: --advance 4000 at the input's rate of 16000 Hz gives 4 frames/s, so the "
            "default fastest tempo (160 BPM) needs beat intervals of 2 frames; the stpm node needs "
            "at least 5 (use a smaller --advance or --max-bpm)");
  o = parse({"--tracker", "stpm", "--analysis-rate", "0", "--advance", "10", "a"});  // 1600 frames/s
  EXPECT_NE(message(16000, 1).find("the default slowest tempo (79 BPM) needs"), std::string::npos);
  o = parse({"--tracker", "stpm", "--analysis-rate", "0", "--advance", "400", "a"});
  EXPECT_EQ(message(8000, 1),
            "in.wav: --advance 400 exceeds the default window (256 samples) at the input's rate "
            "of 8000 Hz");
  o = parse({"--tracker", "stpm", "--analysis-rate", "0", "--min-bpm", "150", "--max-bpm", "151",
             "a"});
  EXPECT_NE(message(16000, 1).find("too narrow"), std::string::npos);
  o = stpm;
  EXPECT_EQ(message(8000, 6), "");
  // bar-pointer: its own limits, naming the options given and the
  // defaults taken.
  o = Options();
  EXPECT_EQ(message(8000, 6), "");
  o.min_bpm = 1;  // 6000-frame intervals at 100 frames per second
  EXPECT_NE(message(44100, 1).find("so --min-bpm 1 needs beat intervals of 6000 frames; the "
                                   "bar-pointer tracker supports at most 2000"),
            std::string::npos);
  o = Options();
  o.announce_ahead = 40;  // beyond the shortest interval, 28 frames
  EXPECT_NE(message(44100, 1).find("--announce-ahead 40"), std::string::npos);
  o = Options();
  o.advance = 2000;  // 22 frames per second: 215 BPM is 6 frames
  o.window = 4096;
  EXPECT_EQ(message(44100, 1), "");
  o.announce_ahead = 6;
  EXPECT_NE(message(44100, 1).find("--advance 2000 at the default analysis rate of 44100 Hz"),
            std::string::npos);
}

// stpm: the centre of the window of the frame that announces the beat.
// bar-pointer: the predicted beat, but not before the end of the window of
// the frame that announces it; offline, the centre of the beat's window.
TEST(Settings, BeatTimesOfEachTracker) {
  TrackerSettings stpm;
  stpm.tracker = TrackerKind::kStpm;
  stpm.sample_rate = 16000;
  stpm.window = 512;
  stpm.advance = 160;
  EXPECT_DOUBLE_EQ(announcedBeatTime(stpm, 100, 0), (16000 + 256) / 16000.0);
  TrackerSettings bp;
  bp.tracker = TrackerKind::kBarPointer;
  bp.sample_rate = 44100;
  bp.window = 2048;
  bp.advance = 441;
  EXPECT_DOUBLE_EQ(announcedBeatTime(bp, 100, 0), (44100 + 2048) / 44100.0);
  EXPECT_DOUBLE_EQ(announcedBeatTime(bp, 100, 2), (44100 + 2048) / 44100.0);
  EXPECT_DOUBLE_EQ(announcedBeatTime(bp, 100, 3), (103 * 441 + 1024) / 44100.0);
  EXPECT_DOUBLE_EQ(decodedBeatTime(bp, 100), (44100 + 1024) / 44100.0);
}

// Result files and log directories say which input they came from.
TEST(WorkDir, ResultNamesTellInputsOfTheSameNameApart) {
  std::vector<bool> shared;
  EXPECT_EQ(resultNames({"a.wav", "b.flac", "-"}, &shared),
            (std::vector<std::string>{"a", "b", "stdin"}));
  EXPECT_EQ(shared, (std::vector<bool>{false, false, false}));
  EXPECT_EQ(resultNames({"a.wav", "./sub//a.wav", "a.flac", "b.wav"}, &shared),
            (std::vector<std::string>{"a.wav", "sub/a.wav", "a.flac", "b"}));
  EXPECT_EQ(shared, (std::vector<bool>{true, true, true, false}));
  EXPECT_EQ(resultNames({"x/a.wav", "x/a.wav"}), (std::vector<std::string>{"x/a.wav", "x/a.wav-2"}));
  EXPECT_EQ(mirroredPath("/music/live/a.wav"), "music/live/a.wav");
  EXPECT_EQ(mirroredPath("sub/../a.wav"), "a.wav");
  // Outside the current directory: the absolute path, never a way up.
  const std::string here = absolutePath("x");
  const std::string parent = here.substr(0, here.rfind('/', here.size() - 3));
  EXPECT_EQ(mirroredPath("../a.wav"), parent.substr(1) + "/a.wav");
}

TEST(Framer, FrameKCoversItsSamplesAndThePaddingIsZero) {
  TempDir dir;
  const int n = 23, channels = 2;
  std::vector<float> s(n * channels);
  for (int i = 0; i < n; ++i) {
    s[i * 2] = float(i + 1) / 64.0f;
    s[i * 2 + 1] = -float(i + 1) / 64.0f;
  }
  writeFloats(dir.file("ramp.wav"), s, channels, 8000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  AudioInput in(dir.file("ramp.wav"), nullptr);
  Framer f(in, 8, 3);
  int frames = 0;
  while (f.next()) {
    const int k = frames++;
    ASSERT_EQ(f.frameIndex(), k);
    for (int j = 0; j < 8; ++j) {
      int sample = k * 3 + j;
      float expected = sample < n ? float(sample + 1) / 64.0f : 0.0f;
      EXPECT_EQ(f.channel(0)[j], expected) << "frame " << k << " sample " << j;
      EXPECT_EQ(f.channel(1)[j], -expected);
    }
    EXPECT_EQ(f.newFrames(), k == 0 ? 8 : std::min(3, n - (k * 3 + 5)));
  }
  // Every sample is new in exactly one frame: 8 in frame 0, then 3 each.
  EXPECT_EQ(frames, 1 + (n - 8 + 2) / 3);
  EXPECT_EQ(in.framesRead(), n);
  EXPECT_FALSE(in.truncated());
}

TEST(AudioInput, RejectsBadFilesWithTheirName) {
  TempDir dir;
  auto message = [](const std::string& path) -> std::string {
    try {
      AudioInput in(path, nullptr);
      std::vector<float> buf(4096);
      while (in.read(buf.data(), 1024) > 0) {
      }
    } catch (const InputError& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_NE(message(dir.file("missing.wav")).find("missing.wav: No such file"), std::string::npos);
  EXPECT_NE(message(dir.path()).find("directory"), std::string::npos);
  tesk_beat_test::writeFile(dir.file("empty.wav"), "");
  EXPECT_NE(message(dir.file("empty.wav")).find("empty"), std::string::npos);
  tesk_beat_test::writeFile(dir.file("text.wav"), "this is not audio at all, just some text\n");
  EXPECT_NE(message(dir.file("text.wav")).find("not a readable audio file"), std::string::npos);
  writeFloats(dir.file("nothing.wav"), {}, 1, 16000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  EXPECT_NE(message(dir.file("nothing.wav")).find("no audio samples"), std::string::npos);

  std::vector<float> s(16000, 0.1f);
  s[12000] = std::nanf("");
  writeFloats(dir.file("nan.wav"), s, 1, 16000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  std::string m = message(dir.file("nan.wav"));
  EXPECT_NE(m.find("NaN sample at 0.75 s"), std::string::npos) << m;
  s[12000] = INFINITY;
  writeFloats(dir.file("inf.wav"), s, 1, 16000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  EXPECT_NE(message(dir.file("inf.wav")).find("infinite"), std::string::npos);
}

TEST(AudioInput, NoticesACutFile) {
  TempDir dir;
  std::vector<float> s(16000, 0.25f);
  writeFloats(dir.file("whole.wav"), s, 1, 16000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  std::string bytes = tesk_beat_test::readFile(dir.file("whole.wav"));
  tesk_beat_test::writeFile(dir.file("cut.wav"), bytes.substr(0, bytes.size() / 2));
  {
    AudioInput whole(dir.file("whole.wav"), nullptr);
    std::vector<float> buf(32000);
    EXPECT_EQ(whole.read(buf.data(), 32000), 16000);
    EXPECT_FALSE(whole.truncated());
  }
  AudioInput cut(dir.file("cut.wav"), nullptr);
  std::vector<float> buf(32000);
  int64_t got = 0, n;
  while ((n = cut.read(buf.data(), 4096)) > 0) got += n;
  EXPECT_GT(got, 7000);
  EXPECT_LT(got, 8100);
  EXPECT_TRUE(cut.truncated());
}

TEST(Stft, HannWindowedSpectrumAndCompressionKeepingPhase) {
  const int n = 512;
  std::vector<float> x(n);
  const double pi = 3.14159265358979323846;
  for (int i = 0; i < n; ++i) x[i] = float(0.5 * std::cos(2 * pi * 10 * i / n + 0.3));
  Stft linear(n, 0.0), compressed(n, 10.0);
  std::vector<std::complex<float>> a(linear.bins()), b(compressed.bins());
  ASSERT_EQ(linear.bins(), 257);
  linear.transform(x.data(), a.data());
  compressed.transform(x.data(), b.data());
  // A periodic Hann window spreads a bin-centred sine over bins 9, 10, 11
  // with amplitudes N*A/8, N*A/4, N*A/8.
  EXPECT_NEAR(std::abs(a[10]), n * 0.5 / 4, 0.05);
  EXPECT_NEAR(std::abs(a[9]), n * 0.5 / 8, 0.05);
  EXPECT_NEAR(std::abs(a[11]), n * 0.5 / 8, 0.05);
  EXPECT_NEAR(std::arg(a[10]), 0.3, 1e-4);
  EXPECT_LT(std::abs(a[20]), 1e-3);
  for (int k : {9, 10, 11}) {
    EXPECT_NEAR(std::abs(b[k]), std::log1p(10.0 * std::abs(a[k])), 1e-4);
    EXPECT_NEAR(std::arg(b[k]), std::arg(a[k]), 1e-5);
  }
  std::vector<float> silence(n, 0.0f);
  compressed.transform(silence.data(), b.data());
  for (auto v : b) EXPECT_EQ(v, std::complex<float>(0.0f, 0.0f));
}

TEST(Writers, FormatsCarryEveryBeatAndTheSummary) {
  TempDir dir;
  StreamInfo info{"song \"1\".wav", 16000, 2, 512, 160};
  BeatEvent reliable;
  reliable.frame = 100;
  reliable.time = 1.016;
  reliable.reliable = true;
  reliable.tempo = 120.0f;
  reliable.confidence = 0.75f;
  // A discarded beat has the tracker's tempo too; the first may have none.
  BeatEvent discarded = reliable;
  discarded.time = 1.516;
  discarded.reliable = false;
  discarded.tempo = 118.5f;
  BeatEvent first = discarded;
  first.time = 0.5;
  first.tempo = std::nanf("");
  // A beat with its place in a known bar; the others know none.
  BeatEvent downbeat = reliable;
  downbeat.time = 2.016;
  downbeat.beat_in_bar = 1;
  Summary s;
  s.reported = 2;
  s.beats = 2;
  s.reliable = 1;
  s.median_tempo = 120.0;
  s.duration = 2.0;
  s.frames = 200;

  auto render = [&](OutputFormat f, bool labelled, const Summary& sum) {
    std::string path = dir.file("out");
    std::FILE* out = std::fopen(path.c_str(), "w");
    auto w = makeWriter(f, out, labelled);
    w->begin(info);
    w->beat(first);
    w->beat(reliable);
    w->beat(discarded);
    w->beat(downbeat);
    w->end(sum);
    std::fclose(out);
    return tesk_beat_test::readFile(path);
  };
  EXPECT_EQ(render(OutputFormat::kPlain, false, s), "0.5000\n1.0160\n1.5160\n2.0160\n");
  EXPECT_EQ(render(OutputFormat::kPlain, true, s),
            "# input: song \"1\".wav\n0.5000\n1.0160\n1.5160\n2.0160\n\n");
  std::string csv = render(OutputFormat::kCsv, false, s);
  EXPECT_EQ(csv.substr(0, csv.find("# beats")),
            "time,reliable,tempo,confidence,beat_in_bar\n0.5000,0,,0.7500,\n"
            "1.0160,1,120.00,0.7500,\n1.5160,0,118.50,0.7500,\n2.0160,1,120.00,0.7500,1\n");
  EXPECT_NE(csv.find("# beats reported: 2, announced: 2 (reliable: 1, discarded: 1), median "
                     "tempo: 120.00"),
            std::string::npos);
  std::string json = render(OutputFormat::kJson, false, s);
  EXPECT_NE(json.find("\"input\": \"song \\\"1\\\".wav\""), std::string::npos) << json;
  EXPECT_NE(json.find("{\"time\": 1.0160, \"reliable\": true, \"tempo\": 120.00"),
            std::string::npos) << json;
  EXPECT_NE(json.find("{\"time\": 0.5000, \"reliable\": false, \"tempo\": null"),
            std::string::npos);
  EXPECT_NE(json.find("{\"time\": 1.5160, \"reliable\": false, \"tempo\": 118.50"),
            std::string::npos);
  EXPECT_NE(json.find("\"frame\": 100, \"beat_in_bar\": null}"), std::string::npos) << json;
  EXPECT_NE(json.find("\"frame\": 100, \"beat_in_bar\": 1}"), std::string::npos) << json;
  EXPECT_NE(json.find("\"median_tempo\": 120.00"), std::string::npos);
  // --reliable-only: what was reported apart from what the node announced.
  Summary reliable_only = s;
  reliable_only.reported = 1;
  EXPECT_NE(render(OutputFormat::kCsv, false, reliable_only)
                .find("# beats reported: 1, announced: 2 (reliable: 1, discarded: 1)"),
            std::string::npos);
  EXPECT_NE(render(OutputFormat::kJson, false, reliable_only)
                .find("{\"reported\": 1, \"announced\": 2, \"reliable\": 1, \"discarded\": 1,"),
            std::string::npos);
  EXPECT_EQ(json.back(), '\n');
  EXPECT_EQ(std::count(json.begin(), json.end(), '{'), std::count(json.begin(), json.end(), '}'));

  Summary failed = s;
  failed.error = "in.wav: NaN sample at 1 s";
  failed.truncated = true;
  std::string plain = render(OutputFormat::kPlain, false, failed);
  EXPECT_NE(plain.find("# truncated"), std::string::npos);
  EXPECT_NE(plain.find("# error: in.wav: NaN sample at 1 s"), std::string::npos);
  EXPECT_NE(render(OutputFormat::kJson, false, failed).find("\"error\": \"in.wav: NaN"),
            std::string::npos);
  EXPECT_EQ(medianReliableTempo({}), 0.0);
  EXPECT_EQ(medianReliableTempo({120.0f, 60.0f, 130.0f}), 120.0);
  EXPECT_EQ(medianReliableTempo({120.0f, 122.0f}), 121.0);
}

TEST(ClickWriter, ClicksLandWhereAskedAndDifferByReliability) {
  TempDir dir;
  const int rate = 16000, channels = 2, frames = 3 * rate;
  std::vector<float> silence(size_t(frames) * channels, 0.0f);
  {
    ClickWriter w(dir.file("c.wav"), rate, channels, 1000);
    for (int at = 0; at < frames; at += 160) {
      w.push(silence.data() + size_t(at) * channels, 160);
      // Announced late, as the tracker does: after its samples were pushed.
      if (at == 8000) w.click(rate / 2, true);
      if (at == 24000) w.click(2 * rate, false);
    }
    w.finish();
  }
  SF_INFO info{};
  SNDFILE* f = sf_open(dir.file("c.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(info.frames, frames);
  EXPECT_EQ(info.channels, channels);
  EXPECT_EQ(info.samplerate, rate);
  std::vector<float> out(size_t(frames) * channels);
  sf_readf_float(f, out.data(), frames);
  sf_close(f);
  auto energy = [&](int from, int to, int* crossings) {
    double e = 0;
    *crossings = 0;
    for (int i = from; i < to; ++i) {
      e += double(out[size_t(i) * channels]) * out[size_t(i) * channels];
      if (i > from && (out[size_t(i) * channels] > 0) != (out[size_t(i - 1) * channels] > 0))
        ++*crossings;
    }
    return e;
  };
  int cr = 0, cd = 0, cq = 0;
  double reliable = energy(rate / 2, rate / 2 + 640, &cr);
  double discarded = energy(2 * rate, 2 * rate + 640, &cd);
  double quiet = energy(rate, rate + 640, &cq);
  EXPECT_EQ(quiet, 0.0);
  EXPECT_EQ(energy(rate / 2 - 100, rate / 2, &cq), 0.0);
  EXPECT_GT(discarded, 0.0);
  EXPECT_GT(reliable, 2.0 * discarded);
  EXPECT_GT(cr, 2 * cd);  // higher pitch
}

namespace {

class VectorSource : public SampleSource {
 public:
  VectorSource(std::vector<float> s, int rate, int channels)
      : s_(std::move(s)), rate_(rate), channels_(channels) {}
  int sampleRate() const override { return rate_; }
  int channels() const override { return channels_; }
  int64_t read(float* out, int64_t frames) override {
    int64_t left = int64_t(s_.size()) / channels_ - at_;
    int64_t n = std::min(frames, left);
    std::copy(s_.begin() + at_ * channels_, s_.begin() + (at_ + n) * channels_, out);
    at_ += n;
    return n;
  }

 private:
  std::vector<float> s_;
  int rate_, channels_;
  int64_t at_ = 0;
};

}  // namespace

// Clicks known before the audio is read (offline beats, on a second reading)
// give the same file as clicks announced while it streams.
TEST(ClickWriter, SecondReadingGivesTheSameTrack) {
  TempDir dir;
  const int rate = 16000, channels = 2, frames = 2 * rate + 77;
  std::vector<float> input(size_t(frames) * channels);
  for (size_t i = 0; i < input.size(); ++i) input[i] = 0.1f * float(std::sin(0.01 * double(i)));
  const std::vector<PlacedClick> clicks = {{100, true}, {5000, false}, {8190, true}, {frames - 10, true}};
  {
    ClickWriter streamed(dir.file("streamed.wav"), rate, channels, 9000);
    for (int at = 0; at < frames; at += 160) {
      streamed.push(input.data() + size_t(at) * channels, std::min(160, frames - at));
      if (at == 8320)
        for (const PlacedClick& c : clicks) streamed.click(c.position, c.reliable);
    }
    streamed.finish();
  }
  VectorSource source(input, rate, channels);
  ClickWriter again(dir.file("again.wav"), rate, channels, 0);
  writeWithClicks(source, again, clicks);
  const std::string streamed = tesk_beat_test::readFile(dir.file("streamed.wav"));
  EXPECT_EQ(streamed.size(), 44 + size_t(frames) * channels * 2);
  EXPECT_EQ(tesk_beat_test::readFile(dir.file("again.wav")), streamed);
}

// Resampling keeps time: a click at 1 s stays at 1 s, on every channel, and
// the length scales with the rate. The stream may come in blocks of any
// size: the output is the same, sample for sample.
TEST(Resampler, KeepsTimeWhateverTheBlocks) {
  const int in_rate = 44100, out_rate = 16000, channels = 2;
  std::vector<float> s(size_t(3 * in_rate) * channels, 0.0f);
  for (int i = -20; i <= 20; ++i) {  // a short smooth pulse centred on 1 s
    float v = 0.5f * (1.0f + std::cos(3.14159265f * i / 20.0f));
    s[size_t(in_rate + i) * channels] = v;
    s[size_t(in_rate + i) * channels + 1] = -v;
  }
  auto resample = [&](int64_t block) {
    Resampler r(in_rate, out_rate, channels);
    EXPECT_EQ(r.sampleRate(), out_rate);
    std::vector<float> out;
    const int64_t total = int64_t(s.size()) / channels;
    for (int64_t at = 0; at < total; at += block)
      r.push(s.data() + at * channels, std::min(block, total - at), out);
    r.finish(out);
    return out;
  };
  const std::vector<float> out = resample(3 * in_rate);
  EXPECT_NEAR(double(out.size() / channels), 3.0 * out_rate, 2.0);
  size_t peak = 0;
  for (size_t i = 0; i < out.size() / channels; ++i)
    if (out[i * channels] > out[peak * channels]) peak = i;
  EXPECT_NEAR(double(peak), double(out_rate), 1.0);
  EXPECT_NEAR(out[peak * channels + 1], -out[peak * channels], 1e-3);
  for (int64_t block : {1, 7, 160, 4096}) EXPECT_EQ(resample(block), out) << block << " frames";
}

TEST(SilenceGate, SilentAfterTheHoldAndOffWhenDisabled) {
  const std::vector<float> loud(160, 0.01f);     // -40 dBFS
  const std::vector<float> quiet(160, 0.0005f);  // -66 dBFS
  SilenceGate gate(-60.0, 16000, 160);
  EXPECT_TRUE(gate.silentAt(0));  // nothing heard yet
  gate.heard(0, loud.data(), 160, 1);
  EXPECT_FALSE(gate.silentAt(0));
  for (int k = 1; k <= 101; ++k) gate.heard(160 * k, quiet.data(), 160, 1);
  EXPECT_FALSE(gate.silentAt(16000));
  EXPECT_TRUE(gate.silentAt(16001));
  gate.heard(160 * 102, loud.data(), 160, 1);
  EXPECT_FALSE(gate.silentAt(160 * 102));
  SilenceGate off(0.0, 16000, 160);
  EXPECT_FALSE(off.silentAt(5000));
  off.heard(5000, quiet.data(), 160, 1);
  EXPECT_FALSE(off.silentAt(5000));

  // Earlier times are judged by what was heard before them, also long
  // after, for offline beats.
  for (int k = 103; k <= 400; ++k) gate.heard(160 * k, (k == 300 ? loud : quiet).data(), 160, 1);
  for (int k : {0, 100, 102, 202, 300, 400}) EXPECT_FALSE(gate.silentAt(160 * k)) << k;
  for (int k : {101, 203, 299}) EXPECT_TRUE(gate.silentAt(160 * k)) << k;
  gate.forgetBefore(160 * 250);
  EXPECT_TRUE(gate.silentAt(160 * 250));
  EXPECT_FALSE(gate.silentAt(160 * 300));
}

// The gate hears what the node hears: the channel mean, from the start of
// the input, a beat's time counting and not the samples after it.
TEST(SilenceGate, HearsTheChannelMeanFromTheStart) {
  std::vector<float> antiphase(2 * 512), inphase(2 * 512);
  for (int i = 0; i < 512; ++i) {
    antiphase[2 * i] = inphase[2 * i] = inphase[2 * i + 1] = 0.5f;
    antiphase[2 * i + 1] = -0.5f;
  }
  SilenceGate gate(-60.0, 16000, 160);
  gate.heard(0, antiphase.data(), 512, 2);
  EXPECT_TRUE(gate.silentAt(511));
  // Sound from sample 1000 on: not heard at sample 900, heard at 1000.
  std::vector<float> quiet(2 * 488, 0.0f);
  gate.heard(512, quiet.data(), 488, 2);
  gate.heard(1000, inphase.data(), 160, 2);
  EXPECT_TRUE(gate.silentAt(900));
  EXPECT_FALSE(gate.silentAt(1000));
  EXPECT_FALSE(gate.silentAt(17000));
  EXPECT_TRUE(gate.silentAt(17001));
  // Beats count only once `settle` samples have been heard.
  SilenceGate settling(-60.0, 16000, 160, 12000);
  settling.heard(1000, inphase.data(), 160, 2);
  EXPECT_TRUE(settling.silentAt(12999));
  EXPECT_FALSE(settling.silentAt(13000));
}
