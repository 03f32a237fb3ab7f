// The pipeline for Python: the native half of the package tesk_music. The
// package's __init__.py checks arrays and builds the result objects; here
// the settings are read from keywords and blocks are tracked with the GIL
// released.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <memory>
#include <type_traits>
#include <string>
#include <vector>

#include "engine/BeatTracker.h"
#include "tesk-music/pipeline/plugin.h"
#include "tesk-music/pipeline/tracker.h"

namespace py = pybind11;
using tesk_pipeline::Beat;
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

// Keywords by the tool's option names ("--min-bpm" is min_bpm); a keyword
// it does not know is a TypeError, as for any Python function.
Settings settingsFrom(const py::dict& kwargs) {
  Settings s;
  for (const auto& item : kwargs) {
    const std::string key = py::cast<std::string>(item.first);
    const py::handle v = item.second;
    if (key == "tracker") {
      const std::string name = as<std::string>(key, v, "a str");
      if (name == tesk_pipeline::kBarPointerDefaults.name) s.tracker = TrackerKind::kBarPointer;
      else if (name == tesk_pipeline::kStpmDefaults.name) s.tracker = TrackerKind::kStpm;
      else throw py::value_error("--tracker: '" + name + "' is unknown (use bar-pointer or stpm)");
    } else if (key == "offline") s.offline = as<bool>(key, v, "True or False");
    else if (key == "min_bpm") s.min_bpm = as<int>(key, v, "an int");
    else if (key == "max_bpm") s.max_bpm = as<int>(key, v, "an int");
    else if (key == "threshold") s.threshold = as<float>(key, v, "a number");
    else if (key == "window") s.window = as<int>(key, v, "an int");
    else if (key == "advance") s.advance = as<int>(key, v, "an int");
    else if (key == "announce_ahead") s.announce_ahead = as<int>(key, v, "an int");
    else if (key == "analysis_rate") s.analysis_rate = as<int>(key, v, "an int");
    else if (key == "compress") s.compress = as<double>(key, v, "a number");
    else if (key == "offset") s.offset = as<double>(key, v, "a number");
    else if (key == "silence_gate") s.silence_gate = as<double>(key, v, "a number");
    else if (key == "vectors") s.vectors = as<bool>(key, v, "True or False");
    else if (key == "plugin") s.plugin_path = as<std::string>(key, v, "a str");
    else throw py::type_error("unexpected keyword argument '" + key + "'");
  }
  return s;
}

py::array_t<float> asArray(const std::vector<float>& v) {
  return py::array_t<float>(py::ssize_t(v.size()), v.data());
}

// Beats as columns: times (s), reliable, tempo (BPM), confidence, frame;
// `with_vectors` adds three lists, each beat's onset, stpm and chroma vector.
py::tuple columns(const std::vector<Beat>& beats, bool with_vectors) {
  const py::ssize_t n = py::ssize_t(beats.size());
  py::array_t<double> times(n);
  py::array_t<bool> reliable(n);
  py::array_t<float> tempo(n), confidence(n);
  py::array_t<int64_t> frames(n);
  for (py::ssize_t i = 0; i < n; ++i) {
    const Beat& b = beats[size_t(i)];
    times.mutable_at(i) = b.time;
    reliable.mutable_at(i) = b.reliable;
    tempo.mutable_at(i) = b.tempo;
    confidence.mutable_at(i) = b.confidence;
    frames.mutable_at(i) = b.frame;
  }
  if (!with_vectors) return py::make_tuple(times, reliable, tempo, confidence, frames);
  py::list onset, stpm, chroma;
  for (const Beat& b : beats) {
    onset.append(asArray(b.onset));
    stpm.append(asArray(b.stpm));
    chroma.append(asArray(b.chroma));
  }
  return py::make_tuple(times, reliable, tempo, confidence, frames, onset, stpm, chroma);
}

class NativeTracker {
 public:
  NativeTracker(int sample_rate, int channels, const py::kwargs& kwargs)
      : channels_(channels) {
    if (sample_rate <= 0) throw py::value_error("sample_rate must be positive");
    if (channels <= 0) throw py::value_error("channels must be positive");
    const Settings s = settingsFrom(kwargs);
    vectors_ = s.vectors;
    tracker_ = std::make_unique<tesk_pipeline::Tracker>(s, sample_rate, channels);
  }

  // `block`: C-contiguous float32, frames x channels (checked by the caller).
  py::tuple process(py::array_t<float, py::array::c_style> block) {
    if (block.ndim() != 2 || block.shape(1) != channels_)
      throw py::value_error("block must be frames x " + std::to_string(channels_));
    const float* samples = block.data();
    const int64_t frames = block.shape(0);
    std::vector<Beat> beats;
    {
      py::gil_scoped_release unlocked;
      beats = tracker_->process(samples, frames);
    }
    return columns(beats, vectors_);
  }

  py::tuple finish() {
    std::vector<Beat> beats;
    {
      py::gil_scoped_release unlocked;
      beats = tracker_->finish();
    }
    return columns(beats, vectors_);
  }

  int64_t frames() const { return tracker_->frames(); }
  int analysisRate() const { return tracker_->settings().sample_rate; }
  int window() const { return tracker_->settings().window; }
  int advance() const { return tracker_->settings().advance; }

 private:
  int channels_;
  bool vectors_ = false;
  std::unique_ptr<tesk_pipeline::Tracker> tracker_;
};

// The engine on its own: one linear magnitude spectrum per frame in, the
// frame's result out. The candidate intervals follow from the tempo range
// as the stpm node derives them.
class NativeEngine {
 public:
  NativeEngine(double sample_rate, int window, int advance, int min_bpm, int max_bpm) {
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
    }
  });
  py::class_<NativeTracker>(m, "Tracker")
      .def(py::init<int, int, const py::kwargs&>())
      .def("process", &NativeTracker::process)
      .def("finish", &NativeTracker::finish)
      .def_property_readonly("frames", &NativeTracker::frames)
      .def_property_readonly("analysis_rate", &NativeTracker::analysisRate)
      .def_property_readonly("window", &NativeTracker::window)
      .def_property_readonly("advance", &NativeTracker::advance);
  py::class_<NativeEngine>(m, "Engine")
      .def(py::init<double, int, int, int, int>())
      .def("analyze", &NativeEngine::analyze);
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
    return r;
  });
}
