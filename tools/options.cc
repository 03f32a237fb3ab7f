#include "options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "bar_pointer/StateSpace.h"
#include "click_writer.h"
#include "osc_sender.h"

namespace tesk_beat {

namespace {

using tesk_pipeline::kAdvanceRange;
using tesk_pipeline::kAnalysisRateRange;
using tesk_pipeline::kAnnounceAheadRange;
using tesk_pipeline::kCompressRange;
using tesk_pipeline::kMaxBpmRange;
using tesk_pipeline::kMinBpmRange;
using tesk_pipeline::kOffsetRange;
using tesk_pipeline::kSilenceGateRange;
using tesk_pipeline::kThresholdRange;
using tesk_pipeline::kWindowRange;
using tesk_pipeline::Range;

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// Live mode reads no input. The options of files and of JACK exclude each
// other.
void checkLiveOptions(Options& o, bool jobs_given, bool jack_name_given) {
  if (!o.jack) {
    const char* live_only = jack_name_given     ? "--jack-name"
                            : !o.connect.empty() ? "--connect"
                            : o.jack_ports     ? "--jack-ports"
                            : o.midi_out       ? "--midi-out"
                            : o.midi_clock     ? "--midi-clock"
                                               : nullptr;
    if (live_only)
      throw UsageError(std::string(live_only) + " needs --jack (MIDI and port connections are "
                       "live mode's)");
  } else {
    // "--jack song.wav" would name the client after a file it never reads.
    if (!o.inputs.empty())
      throw UsageError(o.inputs[0] == "-" ? std::string("--jack reads no standard input ('-')")
                                          : "--jack takes no INPUT ('" + o.inputs[0] +
                                                "'); the client's name is --jack-name NAME");
    const char* file_only = o.raw                  ? "--raw"
                            : !o.clicks_path.empty() ? "--clicks"
                            : !o.output_dir.empty()  ? "--output-dir"
                            : !o.log_dir.empty()     ? "--log-dir"
                            : jobs_given             ? "--jobs"
                            : o.offline              ? "--offline"
                                                     : nullptr;
    if (file_only)
      throw UsageError(std::string(file_only) + " cannot be used with --jack (live mode tracks "
                       "one stream as it comes and writes to standard output)");
    const int ports = o.jack_ports ? o.jack_ports : std::max<int>(1, int(o.connect.size()));
    if (int(o.connect.size()) > ports)
      throw UsageError("--connect given " + std::to_string(o.connect.size()) + " times for " +
                       std::to_string(ports) + " input port" + (ports == 1 ? "" : "s") +
                       " (--jack-ports)");
    if (ports > 2) throw UsageError("--connect: at most two input ports (a stereo pair)");
    o.jack_ports = ports;
  }
  const char* note_option = o.midi_note            ? "--midi-note"
                            : o.midi_downbeat_note ? "--midi-downbeat-note"
                            : o.midi_channel       ? "--midi-channel"
                            : o.midi_velocity      ? "--midi-velocity"
                                                   : nullptr;
  if (note_option && !o.midi_out)
    throw UsageError(std::string(note_option) + " needs --midi-out (it sets the beat notes)");
}

}  // namespace

Options withTrackerDefaults(const Options& o) {
  Options r = o;
  static_cast<tesk_pipeline::Settings&>(r) = tesk_pipeline::withTrackerDefaults(o);
  return r;
}

long parseInteger(const std::string& text, const std::string& what, long min, long max) {
  if (text.empty()) throw UsageError(what + ": missing number");
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(begin, &end, 10);
  if (end == begin || *end != '\0' || text.find_first_of(" \t\n") != std::string::npos)
    throw UsageError(what + ": " + quoted(text) + " is not an integer");
  if (errno == ERANGE || value < min || value > max)
    throw UsageError(what + ": " + quoted(text) + " is out of range (" + std::to_string(min) +
                     " to " + std::to_string(max) + ")");
  return value;
}

double parseReal(const std::string& text, const std::string& what, double min, double max) {
  if (text.empty()) throw UsageError(what + ": missing number");
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(begin, &end);
  if (end == begin || *end != '\0' || text.find_first_of(" \t\n") != std::string::npos)
    throw UsageError(what + ": " + quoted(text) + " is not a number");
  if (!std::isfinite(value) || errno == ERANGE)
    throw UsageError(what + ": " + quoted(text) + " is not a finite number");
  if (value < min || value > max) {
    std::ostringstream range;
    range << " is out of range (" << min << " to " << max << ")";
    throw UsageError(what + ": " + quoted(text) + range.str());
  }
  return value;
}

long parseInteger(const std::string& text, const std::string& what, Range r) {
  return parseInteger(text, what, long(r.min), long(r.max));
}

double parseReal(const std::string& text, const std::string& what, Range r) {
  return parseReal(text, what, r.min, r.max);
}

RawFormat parseRawFormat(const std::string& text) {
  RawFormat raw;
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  while (true) {
    auto colon = text.find(':', start);
    parts.push_back(text.substr(start, colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() < 2 || parts.size() > 3)
    throw UsageError("--raw: " + quoted(text) + " is not RATE:CHANNELS[:FORMAT]");
  raw.sample_rate = int(parseInteger(parts[0], "--raw sample rate", 1, 1000000));
  raw.channels = int(parseInteger(parts[1], "--raw channel count", 1, 256));
  if (parts.size() == 3) {
    static const char* const kFormats[] = {"s8", "u8", "s16", "s24", "s32", "f32", "f64"};
    bool known = false;
    for (const char* f : kFormats) known = known || parts[2] == f;
    if (!known)
      throw UsageError("--raw sample format: " + quoted(parts[2]) +
                       " is unknown (use s8, u8, s16, s24, s32, f32 or f64)");
    raw.sample_format = parts[2];
  }
  return raw;
}

Options parseOptions(int argc, const char* const* argv) {
  Options o;
  bool jobs_given = false, jack_name_given = false;
  bool only_inputs = false;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (only_inputs || arg == "-" || arg.empty() || arg[0] != '-') {
      o.inputs.push_back(arg);
      continue;
    }
    if (arg == "--") {
      only_inputs = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inline_value;
    if (arg.rfind("--", 0) == 0) {
      auto eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        inline_value = arg.substr(eq + 1);
      }
    } else if (arg.size() > 2) {
      // Short options as getopt takes them: a value attached ("-j2",
      // "-oDIR") or several flags in one word ("-vV").
      name = arg.substr(0, 2);
      if (name == "-j" || name == "-o") inline_value = arg.substr(2);
      else args.insert(args.begin() + std::ptrdiff_t(i) + 1, "-" + arg.substr(2));
    }
    auto value = [&]() -> std::string {
      if (inline_value) return *inline_value;
      if (i + 1 >= args.size()) throw UsageError(name + ": missing value");
      return args[++i];
    };
    auto flag = [&]() {
      if (inline_value) throw UsageError(name + ": takes no value");
    };

    if (name == "-h" || name == "--help") { flag(); o.show_help = true; }
    else if (name == "-V" || name == "--version") { flag(); o.show_version = true; }
    else if (name == "-v" || name == "--verbose") { flag(); o.verbose = true; }
    else if (name == "--format") {
      std::string f = value();
      if (f == "plain") o.format = OutputFormat::kPlain;
      else if (f == "csv") o.format = OutputFormat::kCsv;
      else if (f == "json") o.format = OutputFormat::kJson;
      else throw UsageError("--format: " + quoted(f) + " is unknown (use plain, csv or json)");
    }
    else if (name == "--tracker") {
      std::string t = value();
      if (t == kBarPointerDefaults.name) o.tracker = TrackerKind::kBarPointer;
      else if (t == kStpmDefaults.name) o.tracker = TrackerKind::kStpm;
      else throw UsageError("--tracker: " + quoted(t) + " is unknown (use bar-pointer or stpm)");
    }
    else if (name == "--offline") { flag(); o.offline = true; }
    else if (name == "--activation") {
      const std::string a = value();
      o.activation = tesk_pipeline::activationNamed(a);
      if (!o.activation) throw UsageError(tesk_pipeline::unknownActivation(a));
    }
    else if (name == "--announce-ahead") o.announce_ahead = int(parseInteger(value(), name, kAnnounceAheadRange));
    else if (name == "--min-bpm") o.min_bpm = int(parseInteger(value(), name, kMinBpmRange));
    else if (name == "--max-bpm") o.max_bpm = int(parseInteger(value(), name, kMaxBpmRange));
    else if (name == "--threshold") o.threshold = float(parseReal(value(), name, kThresholdRange));
    else if (name == "--window") o.window = int(parseInteger(value(), name, kWindowRange));
    else if (name == "--advance") o.advance = int(parseInteger(value(), name, kAdvanceRange));
    else if (name == "--diagnostics") { flag(); o.diagnostics = true; }
    else if (name == "--vectors") { flag(); o.vectors = true; }
    else if (name == "--analysis-rate") {
      o.analysis_rate = int(parseInteger(value(), name, kAnalysisRateRange));
      if (*o.analysis_rate != 0 && *o.analysis_rate < tesk_pipeline::kMinAnalysisRate)
        throw UsageError("--analysis-rate: " + std::to_string(*o.analysis_rate) +
                         " Hz is too low (at least 4000 Hz, or 0 for the input's rate)");
    }
    else if (name == "--compress") o.compress = parseReal(value(), name, kCompressRange);
    else if (name == "--no-compress") { flag(); o.compress = 0.0; }
    else if (name == "--offset") o.offset = parseReal(value(), name, kOffsetRange);
    else if (name == "--reliable-only") { flag(); o.reliable_only = true; }
    else if (name == "--unlocked") { flag(); o.unlocked_beats = true; }
    else if (name == "--silence-gate") o.silence_gate = parseReal(value(), name, kSilenceGateRange);
    else if (name == "--no-silence-gate") { flag(); o.silence_gate = 0.0; }
    else if (name == "--raw") o.raw = parseRawFormat(value());
    else if (name == "--reference") {
      o.reference_path = value();
      if (o.reference_path == "-")
        throw UsageError("--reference: standard input cannot be the reference (give a file)");
      o.cancel_reference = true;
    }
    else if (name == "--clicks") o.clicks_path = value();
    else if (name == "--osc") {
      o.osc_urls.push_back(value());
      if (const std::string problem = oscUrlProblem(o.osc_urls.back()); !problem.empty())
        throw UsageError("--osc: " + problem);
    }
    else if (name == "--log-dir") o.log_dir = value();
    else if (name == "-o" || name == "--output-dir") o.output_dir = value();
    else if (name == "--plugin") o.plugin_path = value();
    else if (name == "-j" || name == "--jobs") o.jobs = int(parseInteger(value(), name, 1, 256));
    else if (name == "--no-progress") { flag(); o.progress = false; }
    else if (name == "--jack") {
      o.jack = true;
      if (inline_value) o.jack_name = *inline_value;
    }
    else if (name == "--jack-name") {
      o.jack_name = value();
      jack_name_given = true;
    }
    else if (name == "--connect") o.connect.push_back(value());
    else if (name == "--jack-ports") o.jack_ports = int(parseInteger(value(), name, 1, 2));
    else if (name == "--midi-out") { flag(); o.midi_out = true; }
    else if (name == "--midi-clock") { flag(); o.midi_clock = true; }
    else if (name == "--midi-note") o.midi_note = int(parseInteger(value(), name, 0, 127));
    else if (name == "--midi-downbeat-note")
      o.midi_downbeat_note = int(parseInteger(value(), name, 0, 127));
    else if (name == "--midi-channel") o.midi_channel = int(parseInteger(value(), name, 1, 16));
    else if (name == "--midi-velocity") {
      const std::string v = value();
      o.midi_velocity = v == "confidence" ? 0 : int(parseInteger(v, name, 1, 127));
    }
    else throw UsageError(quoted(arg) + ": unknown option (see --help)");

    if ((name == "--clicks" || name == "--log-dir" || name == "--output-dir" || name == "-o" ||
         name == "--plugin" || name == "--reference") && (inline_value ? inline_value->empty() : args[i].empty()))
      throw UsageError(name + ": empty path");
    if ((name == "--connect" || name == "--jack") && inline_value && inline_value->empty())
      throw UsageError(name + ": empty name");
    if (name == "--connect" && !inline_value && args[i].empty())
      throw UsageError(name + ": empty name");
    if (name == "--jobs" || name == "-j") jobs_given = true;
  }

  if (o.show_help || o.show_version) return o;
  checkLiveOptions(o, jobs_given, jack_name_given);
  if (o.inputs.empty() && !o.jack) throw UsageError("no input file given (see --help)");
  // The tracking options are checked as the pipeline checks them.
  if (const std::string problem = tesk_pipeline::valueProblem(o); !problem.empty())
    throw UsageError(problem);
  int stdin_inputs = 0;
  for (const auto& in : o.inputs) stdin_inputs += in == "-";
  if (stdin_inputs > 1) throw UsageError("standard input ('-') given more than once");
  if (o.raw && stdin_inputs == 0) throw UsageError("--raw applies to standard input ('-') only");
  if (!o.clicks_path.empty() && o.inputs.size() != 1)
    throw UsageError("--clicks takes exactly one input");
  if (const std::string problem = clickExtensionProblem(o.clicks_path); !problem.empty())
    throw UsageError(problem);
  if (o.diagnostics && o.log_dir.empty())
    throw UsageError("--diagnostics needs --log-dir (the files would be removed otherwise)");
  if (const std::string problem = tesk_pipeline::combinationProblem(o); !problem.empty())
    throw UsageError(problem);
  if (o.offline && !o.clicks_path.empty() && stdin_inputs > 0)
    throw UsageError("--clicks with --offline needs an input file: the clicks are mixed in on a "
                     "second reading, which standard input cannot give");
  if (o.vectors && o.format != OutputFormat::kJson)
    throw UsageError("--vectors needs --format json (only JSON reports the vectors)");
  if (o.unlocked_beats && o.format == OutputFormat::kPlain)
    throw UsageError("--unlocked needs --format csv or json (plain output cannot tell those "
                     "beats from the others)");
  return o;
}

std::string helpText(const std::string& program) {
  std::ostringstream h;
  Options d;
  const TrackerDefaults& bp = kBarPointerDefaults;
  const TrackerDefaults& st = kStpmDefaults;
  // "bar-pointer X, stpm Y" for a default that differs between the trackers.
  auto both = [&](auto bar_pointer, auto stpm, const char* unit = "") {
    std::ostringstream v;
    v << bp.name << " " << bar_pointer << unit << ", " << st.name << " " << stpm << unit;
    return v.str();
  };
  const bar_pointer::Settings model;
  h << "Usage: " << program << " [OPTIONS] INPUT...\n"
    << "Tracks the beats of music. INPUT is an audio file of any format libsndfile reads\n"
    << "(WAV, FLAC, Ogg, MP3, ...), any rate and channel count, or '-' for standard input\n"
    << "(a WAV stream, raw PCM with --raw, or any other format libsndfile reads; FLAC,\n"
    << "CAF, VOC and RF64 are held in a private temporary file first, their beats coming\n"
    << "when the stream ends). Beats go to standard output as they are announced (with\n"
    << "--offline, as they become final); messages go to standard error. Options take\n"
    << "--opt VALUE or --opt=VALUE, -j2 or -j 2, -oDIR or -o DIR, grouped flags (-vV),\n"
    << "and -- before inputs whose names start with '-'.\n"
    << "\n"
    << "Output:\n"
    << "  --format plain|csv|json  plain: one beat time in seconds per line; csv: time,\n"
    << "                           reliable, tempo, confidence, beat_in_bar per beat and a\n"
    << "                           summary (the tempo is the tracker's at every beat,\n"
    << "                           discarded ones too; empty before it has any;\n"
    << "                           beat_in_bar 1 for a downbeat, 2... for the beats after\n"
    << "                           it, empty where no bar is known);\n"
    << "                           json: the same as one object per input, beat_in_bar\n"
    << "                           null where no bar is known (default plain)\n"
    << "  --reliable-only          report only beats judged reliable (default: all announced\n"
    << "                           once the tracker first locked on)\n"
    << "  --unlocked               also report the beats before the tracker first locked on\n"
    << "                           (csv and json only; all discarded). Locked: bar-pointer,\n"
    << "                           a beat's confidence reached a quarter of --threshold\n"
    << "                           (offline, anywhere on the decoded path, which then\n"
    << "                           counts from its start); stpm, a reliable beat. Without\n"
    << "                           it none is reported before, so a tone or noise gives no\n"
    << "                           beats (bar-pointer: stpm's reliability is as high in\n"
    << "                           noise as in music); every beat after is reported,\n"
    << "                           breaks included\n"
    << "  --silence-gate DBFS      drop beats when the second of input before them (the\n"
    << "                           channel mean; before the input, silence) stayed below\n"
    << "                           DBFS (RMS), and until a beat period of --min-bpm was\n"
    << "                           heard; -200 to 0; 0 = keep them all\n"
    << "                           (default " << d.silence_gate << ")\n"
    << "  --no-silence-gate        same as --silence-gate 0\n"
    << "  --offset SECONDS         added to every reported beat time, -10 to 10 (default " << d.offset << ")\n"
    << "  --clicks OUT             write the input mixed with a click on every beat: high\n"
    << "                           click = reliable, low soft click = discarded; OUT's\n"
    << "                           extension chooses the container (.wav, .flac, ...), the\n"
    << "                           input's sample format is kept; never an input (with\n"
    << "                           --offline, an input file only: it is read a second time)\n"
    << "  --osc URL                also send each beat, as it is announced, to an OSC\n"
    << "                           receiver: osc.udp://HOST:PORT, osc.tcp://HOST:PORT or\n"
    << "                           osc.unix:///PATH; the message " << kOscBeatPath << " carries the\n"
    << "                           beat time in seconds (double), tempo in BPM (float, 0\n"
    << "                           before the tracker has any), confidence (float),\n"
    << "                           reliable (int 0/1) and the beat's place in its bar (int,\n"
    << "                           1 = downbeat, 0 = no bar known); may be given more than\n"
    << "                           once; --reliable-only applies\n"
    << "  -o, --output-dir DIR     one result file per input (NAME.beats/.csv/.json); inputs\n"
    << "                           of the same NAME keep their paths (sub/a.wav.csv)\n"
    << "\n"
    << "Tracking (options not given take the chosen tracker's defaults):\n"
    << "  --tracker NAME           bar-pointer: the plug-in's \"BarPointerTracker\" node, a\n"
    << "                           probabilistic bar-pointer model; stpm: its \"BeatTracker\"\n"
    << "                           node, spectro-temporal pattern matching (default\n"
    << "                           " << defaultsOf(kDefaultTracker).name << ")\n"
    << "  --offline                bar-pointer only: decode the whole input (Viterbi) instead\n"
    << "                           of announcing beats as they come; beats are reported as\n"
    << "                           stretches of input become final, the rest at its end\n"
    << "  --activation flux|learned  bar-pointer only: what the tracker observes, the\n"
    << "                           spectral flux of the filterbank bands or a learned\n"
    << "                           network's beat and downbeat activations (\"ACTIVATION\";\n"
    << "                           default " << tesk_pipeline::activationName(bp.activation) << ")\n"
    << "  --announce-ahead N       bar-pointer only: announce each beat up to N frames before\n"
    << "                           it is predicted (\"ANNOUNCE_AHEAD\"), 0 to 10000 and fewer\n"
    << "                           than the shortest beat interval (default " << bp.announce_ahead << ")\n"
    << "  --min-bpm N              slowest tempo searched, 1 to 999 (default\n"
    << "                           " << both(bp.min_bpm, st.min_bpm) << "; stpm's longest interval is\n"
    << "                           the period of N rounded up less one frame, so that\n"
    << "                           80 BPM is searched)\n"
    << "  --max-bpm N              fastest tempo searched, 2 to 1000 (default\n"
    << "                           " << both(bp.max_bpm, st.max_bpm) << ")\n"
    << "  --threshold X            confidence at which a beat counts as reliable, 0 to 1\n"
    << "                           (default " << both(bp.threshold, st.threshold) << ")\n"
    << "  --analysis-rate HZ       inputs at a higher rate are resampled to HZ before\n"
    << "                           analysis, 4000 to 1000000; 0 = analyse at the input's\n"
    << "                           rate (default " << both(bp.analysis_rate, st.analysis_rate) << ")\n"
    << "  --window N               analysis window in samples at the analysis rate, 64 to\n"
    << "                           65536, used as given (default:\n"
    << "                           " << both(bp.window_seconds * 1000, st.window_seconds * 1000, " ms")
    << ", rounded up to an\n"
    << "                           FFT-friendly size: 2048 at 44.1 kHz, 750 and 512 at\n"
    << "                           16 kHz)\n"
    << "  --advance N              frame advance in samples at the analysis rate, 1 to the\n"
    << "                           window (default: "
    << both(bp.advance_seconds * 1000, st.advance_seconds * 1000, " ms") << ":\n"
    << "                           441 at 44.1 kHz, 160 at 16 kHz)\n"
    << "  --compress GAMMA         compression log(1 + GAMMA*x), 0 to 1000000 (default\n"
    << "                           " << both(bp.compress, st.compress) << "): stpm is fed\n"
    << "                           log(1 + GAMMA*|X|) with each bin's phase;\n"
    << "                           bar-pointer is fed the linear spectrum and compresses its\n"
    << "                           filterbank bands (\"COMPRESSION\"); 0 = no compression\n"
    << "  --no-compress            same as --compress 0\n"
    << "  --diagnostics            stpm only: let the node write its diagnostic files (needs\n"
    << "                           --log-dir)\n"
    << "  --vectors                report the node's vectors with each beat (needs --format\n"
    << "                           json): stpm the onset, pattern-matching and chroma\n"
    << "                           vectors; bar-pointer the onset feature (1 value), the\n"
    << "                           tempo posterior (one value per beat interval, shortest\n"
    << "                           first) and an empty chroma (online only)\n"
    << "\n"
    << "Input:\n"
    << "  --raw RATE:CHANNELS[:FORMAT]  standard input is raw interleaved little-endian PCM;\n"
    << "                           RATE 1 to 1000000 Hz, CHANNELS 1 to 256, FORMAT s8, u8,\n"
    << "                           s16, s24, s32, f32 or f64 (default s16)\n"
    << "  --reference FILE         cancel a known signal from every input: FILE holds what\n"
    << "                           the microphone also hears (speech, a backing track) as\n"
    << "                           it was played, starting with the input; any format\n"
    << "                           libsndfile reads, mixed down to mono and resampled to\n"
    << "                           each input's rate, zero-padded when shorter than the\n"
    << "                           input, the rest ignored when longer. Each frame the\n"
    << "                           voice canceller removes it from the input's spectrum\n"
    << "                           (adaptive few-tap filters per bin, across frames: delays\n"
    << "                           and filtering of the path within a few frames); it takes\n"
    << "                           a few seconds to converge and leaves some -13 to -18 dB\n"
    << "                           of the reference. Read once, before the inputs\n"
    << "\n"
    << "Live (a JACK client instead of INPUT; stopped by SIGINT or SIGTERM, exit 0):\n"
    << "  --jack                   track what a JACK client hears on its input ports in_1\n"
    << "                           (and in_2), at the server's rate; beats go to standard\n"
    << "                           output as for files (no INPUT; not with --raw, --clicks,\n"
    << "                           -o, --log-dir, --jobs or --offline)\n"
    << "  --jack-name NAME         the client's name (default \"" << d.jack_name
    << "\"; --jack=NAME\n"
    << "                           gives both)\n"
    << "  --connect PORT           connect the output port PORT (e.g. system:capture_1) to\n"
    << "                           the next input port; given twice, a stereo pair\n"
    << "  --jack-ports N           input ports, 1 or 2 (default: one per --connect, at\n"
    << "                           least 1)\n"
    << "  --reference PORT         live, the known signal comes from the JACK port PORT\n"
    << "                           (e.g. the player's output), connected to the input\n"
    << "                           port \"reference\" and cancelled as from a file\n"
    << "  --midi-out               a MIDI note per beat on the port midi_out, at the beat's\n"
    << "                           predicted frame (a beat already passed at the start of\n"
    << "                           the next period), note-off 50 ms later\n"
    << "  --midi-note N            the note, 0 to 127 (default 37, side stick)\n"
    << "  --midi-downbeat-note N   the note of a downbeat (beat 1 of a known bar), 0 to 127\n"
    << "                           (default: --midi-note)\n"
    << "  --midi-channel N         its channel, 1 to 16 (default 10, drums)\n"
    << "  --midi-velocity N|confidence  1 to 127, or from the beat's confidence\n"
    << "                           (1 + 126 * confidence) (default 100)\n"
    << "  --midi-clock             MIDI beat clock on midi_out (24 ticks per beat, Stop at\n"
    << "                           the end). Start comes on the reliable beat that makes\n"
    << "                           the tempo steady (8 reliable beats in a row within 2 %\n"
    << "                           of their median); nothing is sent before. Then its tempo\n"
    << "                           follows each reliable beat's within 2 %; a bigger change\n"
    << "                           is taken once it has held as long (until then the last\n"
    << "                           steady tempo is kept); its phase follows each reliable\n"
    << "                           beat, every tick interval within 3 % of the tempo's\n"
    << "                           nominal one. Where the tracker knows the bar, a Song\n"
    << "                           Position Pointer before the tick of each downbeat gives\n"
    << "                           the bar's start in sixteenths since the first downbeat\n"
    << "                           (receivers following it put their bar lines there)\n"
    << "  --offset also moves the MIDI events: it compensates a known latency.\n"
    << "  Periods the tracker cannot take in time are dropped (the callback never waits),\n"
    << "  said on standard error and tracked as silence, so beats keep JACK's timeline.\n"
    << "\n"
    << "Running:\n"
    << "  -j, --jobs N             inputs processed in parallel processes, 1 to 256\n"
    << "                           (default " << d.jobs << ")\n"
    << "  --log-dir DIR            keep the stpm node's beat log \"bt_pellanbt.dat\" (and the\n"
    << "                           diagnostic files with --diagnostics) in DIR, one\n"
    << "                           subdirectory per input when there are several (default:\n"
    << "                           a private directory, removed). DIR and the -o directory\n"
    << "                           are created with their missing parents\n"
    << "  --plugin PATH            the tracker plug-in (default: libtesk-music.tlb in the\n"
    << "                           lib directory next to this program's bin directory)\n"
    << "  -v, --verbose            on standard error, the settings used for each input\n"
    << "                           (tracker, rate, window, advance, intervals, threshold,\n"
    << "                           compression, activation, announce-ahead, the reference\n"
    << "                           cancelled and how its length compares), then the\n"
    << "                           library's console lines; live, the JACK library's own\n"
    << "                           messages and at the end the worker's CPU time as a share\n"
    << "                           of one core\n"
    << "  --no-progress            no progress bar (one for the whole run, shown only when\n"
    << "                           standard error is a terminal that standard output is not)\n"
    << "  -V, --version            print the module version recorded by the plug-in\n"
    << "  -h, --help               this text\n"
    << "\n"
    << "Frame times: frame k covers samples k*ADVANCE up to k*ADVANCE+WINDOW of the audio\n"
    << "at the analysis rate RATE (padded with zeros after its end). Each frame's spectrum\n"
    << "(\"FFTAUDIO\") is the FFT of the channel mean under a periodic Hann window, WINDOW/2\n"
    << "+ 1 bins. Reported times, OFFSET added to each:\n"
    << "  stpm: a beat announced on frame k is at (k*ADVANCE + WINDOW/2) / RATE, the centre\n"
    << "    of the frame's window.\n"
    << "  bar-pointer: a beat announced on frame k that falls on frame b = k + BEAT_AHEAD is\n"
    << "    at max((k*ADVANCE + WINDOW) / RATE, (b*ADVANCE + WINDOW/2) / RATE): the predicted\n"
    << "    time, but never before the end of the newest window, when the beat is decided.\n"
    << "  bar-pointer --offline: a beat on frame b is at (b*ADVANCE + WINDOW/2) / RATE.\n"
    << "\n"
    << "Limits: inputs of at least 4000 Hz and at most 256 channels. The tempo range\n"
    << "must give beat intervals, at the analysis rate and advance, of 5 to 750 frames\n"
    << "for stpm and of " << model.beat_region + 1 << " to " << bar_pointer::kMaxInterval
    << " frames for bar-pointer, at least two of them, and\n"
    << "--announce-ahead must stay below the shortest. Window, advance, tempo range and\n"
    << "announce-ahead are checked when the command line is read, at the chosen tracker's\n"
    << "analysis rate; an input below that rate is analysed at its own rate and checked\n"
    << "when it is opened.\n"
    << "\n"
    << "Exit status: 0 all inputs tracked; 1 an input failed (missing, unreadable, not\n"
    << "audio, empty, NaN or infinite samples, unusable rate or settings), or the\n"
    << "--reference file did (then no input is tracked); 2 usage error;\n"
    << "3 an input was truncated (beats up to its end were reported; live: the JACK\n"
    << "server shut down or changed its rate); 4 the plug-in is\n"
    << "unusable, or an output cannot be written (full disk, I/O error); 128 + signal\n"
    << "when interrupted (130 for SIGINT): plain and csv output then end with\n"
    << "\"# interrupted\", JSON with \"error\": \"interrupted\" in the unfinished input.\n"
    << "With several inputs the most serious status is returned and every input is\n"
    << "still processed.\n";
  return h.str();
}

}  // namespace tesk_beat
