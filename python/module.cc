// The pipeline for Python: the native half of the package tesk_music. The
// package's __init__.py checks arrays and builds the result objects; here
// the settings are read from keywords, blocks are tracked with the GIL
// released, files are read and summaries written as tesk-beat does it.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <type_traits>
#include <string>
#include <vector>

#include "audio_input.h"
#include "beat_report.h"
#include "engine/BeatTracker.h"
#include "reference_input.h"
#include "tesk-music/pipeline/console.h"
#include "tesk-music/pipeline/plugin.h"
#include "tesk-music/pipeline/reference_signal.h"
#include "tesk-music/pipeline/tracker.h"
#include "writers.h"

#ifndef TESK_MUSIC_VERSION
#define TESK_MUSIC_VERSION "unknown"
#endif

namespace py = pybind11;
using tesk_pipeline::Beat;
using tesk_pipeline::ConsoleLines;
using tesk_pipeline::ConsoleRoute;
using tesk_pipeline::Range;
using tesk_pipeline::Settings;
using tesk_pipeline::TrackerKind;

namespace {

// `v` as a T, or a TypeError naming the keyword.
template <class T>
T as(const std::string& key, py::handle v, const char* what) {
  // bool is an int to Python: refuse it where a number is meant, and
  // numbers where a flag is meant.
  const bool is_bool = py::isinstance<py::bool_>(v);
  if (std::is_same<T, bool>::value != is_bool ||
      (!std::is_same<T, std::string>::value && py::isinstance<py::str>(v)))
    throw py::type_error(key + " must be " + what);
  try {
    return py::cast<T>(v);
  } catch (const py::cast_error&) {
    throw py::type_error(key + " must be " + what);
  }
}

// What the package adds to the tool's tracking options.
struct FrontEnd {
  bool reliable_only = false;
  bool verbose = false;  // the stpm node's console lines on standard error
};

// A size or tempo given as 0 is refused as the tool refuses it ("--min-bpm:
// '0' is out of range (1 to 999)"): unset is None.
int sizeOrTempo(const std::string& key, py::handle v, const char* option, Range r) {
  const int n = as<int>(key, v, "an int or None");
  if (n < r.min || n > r.max)
    throw py::value_error(std::string(option) + ": '" + std::to_string(n) +
                          "' is out of range (" + std::to_string(int(r.min)) + " to " +
                          std::to_string(int(r.max)) + ")");
  return n;
}

// The keywords whose None means the tracker's default.
bool defaultable(const std::string& key) {
  for (const char* k : {"min_bpm", "max_bpm", "threshold", "window", "advance", "announce_ahead",
                        "activation", "analysis_rate", "compress", "offset", "silence_gate"})
    if (key == k) return true;
  return false;
}

// Keywords by the tool's option names ("--min-bpm" is min_bpm); a keyword
// it does not know is a TypeError, as for any Python function. None is the
// tracker's default.
Settings settingsFrom(const py::dict& kwargs, FrontEnd& f) {
  using namespace tesk_pipeline;
  Settings s;
  for (const auto& item : kwargs) {
    const std::string key = py::cast<std::string>(item.first);
    const py::handle v = item.second;
    if (v.is_none() && defaultable(key)) continue;
    if (key == "tracker") {
      const std::string name = as<std::string>(key, v, "a str");
      if (name == tesk_pipeline::kBarPointerDefaults.name) s.tracker = TrackerKind::kBarPointer;
      else if (name == tesk_pipeline::kStpmDefaults.name) s.tracker = TrackerKind::kStpm;
      else throw py::value_error("--tracker: '" + name + "' is unknown (use bar-pointer or stpm)");
    } else if (key == "offline") s.offline = as<bool>(key, v, "True or False");
    else if (key == "min_bpm") s.min_bpm = sizeOrTempo(key, v, "--min-bpm", kMinBpmRange);
    else if (key == "max_bpm") s.max_bpm = sizeOrTempo(key, v, "--max-bpm", kMaxBpmRange);
    else if (key == "threshold") s.threshold = as<float>(key, v, "a number");
    else if (key == "window") s.window = sizeOrTempo(key, v, "--window", kWindowRange);
    else if (key == "advance") s.advance = sizeOrTempo(key, v, "--advance", kAdvanceRange);
    else if (key == "announce_ahead") s.announce_ahead = as<int>(key, v, "an int");
    else if (key == "activation") {
      const std::string name = as<std::string>(key, v, "a str");
      s.activation = activationNamed(name);
      if (!s.activation) throw py::value_error(unknownActivation(name));
    }
    else if (key == "analysis_rate") s.analysis_rate = as<int>(key, v, "an int");
    else if (key == "compress") s.compress = as<double>(key, v, "a number");
    else if (key == "offset") s.offset = as<double>(key, v, "a number");
    else if (key == "silence_gate") s.silence_gate = as<double>(key, v, "a number");
    else if (key == "vectors") s.vectors = as<bool>(key, v, "True or False");
    else if (key == "plugin") s.plugin_path = as<std::string>(key, v, "a str");
    else if (key == "reliable_only") f.reliable_only = as<bool>(key, v, "True or False");
    else if (key == "verbose") f.verbose = as<bool>(key, v, "True or False");
    else throw py::type_error("unexpected keyword argument '" + key + "'");
  }
  s.console = f.verbose ? ConsoleLines::kStandardError : ConsoleLines::kDiscard;
  return s;
}

py::array_t<float> asArray(const std::vector<float>& v) {
  return py::array_t<float>(py::ssize_t(v.size()), v.data());
}

// Beats as columns: times (s), reliable, tempo (BPM), confidence, frame,
// beat in bar (0 = no bar known); `with_vectors` adds three lists, each
// beat's onset, stpm and chroma vector.
py::tuple columns(const std::vector<Beat>& beats, bool with_vectors) {
  const py::ssize_t n = py::ssize_t(beats.size());
  py::array_t<double> times(n);
  py::array_t<bool> reliable(n);
  py::array_t<float> tempo(n), confidence(n);
  py::array_t<int64_t> frames(n);
  py::array_t<int32_t> beat_in_bar(n);
  for (py::ssize_t i = 0; i < n; ++i) {
    const Beat& b = beats[size_t(i)];
    times.mutable_at(i) = b.time;
    reliable.mutable_at(i) = b.reliable;
    tempo.mutable_at(i) = b.tempo;
    confidence.mutable_at(i) = b.confidence;
    frames.mutable_at(i) = b.frame;
    beat_in_bar.mutable_at(i) = b.beat_in_bar;
  }
  if (!with_vectors)
    return py::make_tuple(times, reliable, tempo, confidence, frames, beat_in_bar);
  py::list onset, stpm, chroma;
  for (const Beat& b : beats) {
    onset.append(asArray(b.onset));
    stpm.append(asArray(b.stpm));
    chroma.append(asArray(b.chroma));
  }
  return py::make_tuple(times, reliable, tempo, confidence, frames, beat_in_bar, onset, stpm,
                        chroma);
}

// The CLI's JSON summary of a run, as tesk-beat writes it.
std::string jsonSummary(const tesk_beat::Summary& summary) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  if (!out) throw std::bad_alloc();
  {
    auto writer = tesk_beat::makeWriter(tesk_beat::OutputFormat::kJson, out, false);
    writer->begin(tesk_beat::StreamInfo{});
    writer->end(summary);
  }
  std::fclose(out);
  std::string json(text, size);
  std::free(text);
  return json;
}

class NativeTracker {
 public:
  // `cancel`: every block comes with its reference (Settings::cancel_reference).
  NativeTracker(int sample_rate, int channels, bool cancel, const py::kwargs& kwargs)
      : channels_(channels) {
    if (sample_rate <= 0) throw py::value_error("sample_rate must be positive");
    if (channels <= 0) throw py::value_error("channels must be positive");
    Settings s = settingsFrom(kwargs, front_);
    s.cancel_reference = cancel;
    vectors_ = s.vectors;
    tracker_ = std::make_unique<tesk_pipeline::Tracker>(s, sample_rate, channels);
  }

  // `block`: C-contiguous float32, frames x channels; `reference`: mono,
  // one sample per frame (both checked by the caller).
  py::tuple process(py::array_t<float, py::array::c_style> block,
                    std::optional<py::array_t<float, py::array::c_style>> reference) {
    if (block.ndim() != 2 || block.shape(1) != channels_)
      throw py::value_error("block must be frames x " + std::to_string(channels_));
    if (reference && (reference->ndim() != 1 || reference->shape(0) != block.shape(0)))
      throw py::value_error("the reference must be 1-D, as long as the block");
    const float* samples = block.data();
    const float* mono = reference ? reference->data() : nullptr;
    const int64_t frames = block.shape(0);
    std::vector<Beat> beats;
    {
      py::gil_scoped_release unlocked;
      beats = mono ? tracker_->process(samples, mono, frames) : tracker_->process(samples, frames);
    }
    return columns(report(std::move(beats)), vectors_);
  }

  py::tuple finish() {
    std::vector<Beat> beats;
    {
      py::gil_scoped_release unlocked;
      beats = tracker_->finish();
    }
    return columns(report(std::move(beats)), vectors_);
  }

  // The run so far as tesk-beat's JSON summary: `duration` in seconds.
  std::string summary(double duration, bool truncated) {
    summary_.median_tempo = tesk_beat::medianReliableTempo(tempi_);
    summary_.duration = duration;
    summary_.frames = tracker_->frames();
    summary_.truncated = truncated;
    return jsonSummary(summary_);
  }

  int64_t frames() const { return tracker_->frames(); }
  int analysisRate() const { return tracker_->settings().sample_rate; }
  int window() const { return tracker_->settings().window; }
  int advance() const { return tracker_->settings().advance; }
  bool vectors() const { return vectors_; }
  tesk_pipeline::Tracker& tracker() { return *tracker_; }

  // Counted as the tool counts them; with reliable_only, discarded ones
  // are left out as it leaves them out.
  std::vector<Beat> report(std::vector<Beat> beats) {
    std::vector<Beat> reported;
    for (Beat& b : beats) {
      tesk_beat::countAnnounced(summary_, tempi_, b);
      if (front_.reliable_only && !b.reliable) continue;
      ++summary_.reported;
      reported.push_back(std::move(b));
    }
    return reported;
  }

 private:
  int channels_;
  bool vectors_ = false;
  FrontEnd front_;
  tesk_beat::Summary summary_;
  std::vector<float> tempi_;
  std::unique_ptr<tesk_pipeline::Tracker> tracker_;
};

// A file, read through libsndfile as tesk-beat reads it, tracked whole.
// `reference`: a path (read as --reference reads it) or a mono float32
// array at the file's rate, or None. Returns the beats' columns, the
// summary, the sample rate and channel count.
py::tuple trackFile(const std::string& path, py::object reference, const py::kwargs& kwargs) {
  constexpr int64_t kBlock = 4096;
  tesk_beat::AudioInput input(path, nullptr);
  const int rate = input.sampleRate(), channels = input.channels();
  std::vector<float> cancelled;
  const bool cancel = !reference.is_none();
  if (py::isinstance<py::str>(reference)) {
    const tesk_beat::ReferenceAudio r = tesk_beat::readReference(reference.cast<std::string>());
    cancelled = tesk_pipeline::monoAtRate(r.mono.data(), int64_t(r.mono.size()), 1, r.sample_rate,
                                          rate);
  } else if (cancel) {
    const auto mono = reference.cast<py::array_t<float, py::array::c_style>>();
    cancelled.assign(mono.data(), mono.data() + mono.size());
  }
  NativeTracker tracker(rate, channels, cancel, kwargs);
  std::vector<Beat> beats;
  {
    py::gil_scoped_release unlocked;
    std::vector<float> block(size_t(kBlock * channels)), reference_block;
    while (const int64_t got = input.read(block.data(), kBlock)) {
      std::vector<Beat> now;
      if (cancel) {
        // Zero-padded past the reference's end, as the tool pads it.
        const int64_t at = input.framesRead() - got;
        reference_block.assign(size_t(got), 0.0f);
        if (at < int64_t(cancelled.size()))
          std::copy_n(cancelled.begin() + at,
                      std::min<int64_t>(got, int64_t(cancelled.size()) - at),
                      reference_block.begin());
        now = tracker.tracker().process(block.data(), reference_block.data(), got);
      } else {
        now = tracker.tracker().process(block.data(), got);
      }
      beats.insert(beats.end(), std::make_move_iterator(now.begin()),
                   std::make_move_iterator(now.end()));
    }
    std::vector<Beat> last = tracker.tracker().finish();
    beats.insert(beats.end(), std::make_move_iterator(last.begin()),
                 std::make_move_iterator(last.end()));
  }
  if (input.framesRead() == 0)
    throw tesk_beat::InputError(input.name() + ": contains no audio samples");
  py::tuple cols = columns(tracker.report(std::move(beats)), tracker.vectors());
  return py::make_tuple(cols, tracker.summary(double(input.framesRead()) / rate, input.truncated()),
                        rate, channels);
}

// The engine on its own: one linear magnitude spectrum per frame in, the
// frame's result out. The candidate intervals follow from the tempo range
// as the stpm node derives them.
class NativeEngine {
 public:
  NativeEngine(double sample_rate, int window, int advance, int min_bpm, int max_bpm,
               bool verbose)
      : console_(verbose ? ConsoleLines::kStandardError : ConsoleLines::kDiscard) {
    ConsoleRoute route(console_);
    if (!(sample_rate > 0.0) || window < 2 || advance < 1 || min_bpm < 1 || max_bpm <= min_bpm)
      throw py::value_error(
          "need sample_rate > 0, window >= 2, advance >= 1 and 1 <= min_bpm < max_bpm");
    const double per_minute = 60.0 * sample_rate / advance;  // frames
    beat_tracker::BeatTrackerInit init;
    init.setInputSignal(sample_rate, (unsigned long)window, (unsigned long)advance);
    init.setDebugFlag(false, "");
    init.setCCValues(std::ceil(per_minute / min_bpm), std::ceil(per_minute / (max_bpm - 1)),
                     std::ceil(per_minute / min_bpm));
    engine_ = std::make_unique<beat_tracker::BeatTracker>(init);  // invalid_argument: ValueError
    bins_ = window / 2;
    per_minute_ = per_minute;
  }

  py::dict analyze(py::array_t<double, py::array::c_style> magnitudes) {
    if (magnitudes.ndim() != 1 || magnitudes.shape(0) != bins_)
      throw py::value_error("magnitudes must be 1-D with window/2 = " + std::to_string(bins_) +
                            " values");
    std::vector<double> spectrum(magnitudes.data(), magnitudes.data() + bins_);
    beat_tracker::BeatTrackerData r;
    {
      py::gil_scoped_release unlocked;
      ConsoleRoute route(console_);
      r = engine_->analyze(spectrum);
    }
    py::dict d;
    d["interval"] = r.getInterval();
    d["tempo"] = r.getInterval() > 0.0 ? per_minute_ / r.getInterval() : 0.0;
    d["current_time"] = r.getCurrentTime();
    d["beat_time"] = r.getBeatTime();
    d["recent_beat_time"] = r.getRecentBeatTime();
    d["reliability"] = r.getMusicReliability();
    d["onset"] = py::array_t<double>(py::ssize_t(r.onset_vector.size()), r.onset_vector.data());
    d["stpm"] = py::array_t<double>(py::ssize_t(r.stpm_vector.size()), r.stpm_vector.data());
    d["chroma"] = py::array_t<double>(py::ssize_t(r.chroma_vector.size()), r.chroma_vector.data());
    return d;
  }

 private:
  ConsoleLines console_;
  std::unique_ptr<beat_tracker::BeatTracker> engine_;
  py::ssize_t bins_ = 0;
  double per_minute_ = 0.0;
};

}  // namespace

PYBIND11_MODULE(_native, m) {
  m.doc() = "Native half of tesk_music; use the tesk_music package.";
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const tesk_pipeline::SettingsError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const tesk_pipeline::PluginError& e) {
      PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (const tesk_pipeline::NodeError& e) {
      PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (const tesk_beat::InputError& e) {
      // The tool's messages: a file that cannot be read is an OSError, one
      // whose samples cannot be tracked a ValueError, as for arrays.
      const std::string what = e.what();
      const bool samples = what.find("NaN sample at") != std::string::npos ||
                           what.find("infinite sample at") != std::string::npos;
      PyErr_SetString(samples ? PyExc_ValueError : PyExc_OSError, e.what());
    }
  });
  m.attr("__version__") = TESK_MUSIC_VERSION;
  py::class_<NativeTracker>(m, "Tracker")
      .def(py::init<int, int, bool, const py::kwargs&>())
      .def("process", &NativeTracker::process, py::arg("block"), py::arg("reference") = py::none())
      .def("finish", &NativeTracker::finish)
      .def("summary", &NativeTracker::summary)
      .def_property_readonly("frames", &NativeTracker::frames)
      .def_property_readonly("analysis_rate", &NativeTracker::analysisRate)
      .def_property_readonly("window", &NativeTracker::window)
      .def_property_readonly("advance", &NativeTracker::advance);
  py::class_<NativeEngine>(m, "Engine")
      .def(py::init<double, int, int, int, int, bool>())
      .def("analyze", &NativeEngine::analyze);
  m.def("track_file", &trackFile);
  m.def("defaults", [](const std::string& tracker) {
    const tesk_pipeline::TrackerDefaults& d =
        tracker == tesk_pipeline::kStpmDefaults.name ? tesk_pipeline::kStpmDefaults
                                                     : tesk_pipeline::kBarPointerDefaults;
    py::dict r;
    r["analysis_rate"] = d.analysis_rate;
    r["window_seconds"] = d.window_seconds;
    r["advance_seconds"] = d.advance_seconds;
    r["min_bpm"] = d.min_bpm;
    r["max_bpm"] = d.max_bpm;
    r["threshold"] = d.threshold;
    r["compress"] = d.compress;
    r["announce_ahead"] = d.announce_ahead;
    r["activation"] = tesk_pipeline::activationName(d.activation);
    return r;
  });
}
