// Beat times of a sound file by the bar-pointer tracker with any of its model
// settings changed, for scoring variants of the model on whole corpora
// without the plug-in. Frames as file_spectra.h says; a beat is reported at
// its frame's window centre (online with preset=prototype: its window's
// end, when it is heard, as the prototype stamps them), one time a line.
//
// Usage: bar_pointer_track [offline=1] [preset=prototype] [SETTING=VALUE ...] IN
// SETTING is a member of bar_pointer::Settings, e.g. transition_lambda=300;
// the preset comes first whatever the order, so settings change it;
// beat_decision takes next_beat_posterior (0) or best_state_wrap (1);
// stamp=centre or stamp=end chooses the online stamps; activation=learned
// tracks the learned network's activations (model=FILE.inc: another
// network's weights than the library's). A beat whose place in the bar is
// known is printed with it: "time<TAB>beat_in_bar".
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "activation/ActivationNetwork.h"
#include "activation/InputFeature.h"
#include "bar_pointer/OnlineTracker.h"
#include "bar_pointer/Presets.h"
#include "bar_pointer/ViterbiDecoder.h"
#include "file_spectra.h"
#include "model_file.h"

namespace {

using bar_pointer::Settings;
using bar_pointer_bench::ModelFile;

double number(const std::string& key, const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(value))
    throw std::invalid_argument("not a number: " + key + "=" + text);
  return value;
}

// The model's settings by name; the framing follows from the file.
void set(Settings& s, const std::string& key, const std::string& text) {
  const std::map<std::string, double Settings::*> reals = {
      {"min_frequency", &Settings::min_frequency},
      {"max_frequency", &Settings::max_frequency},
      {"band_reference", &Settings::band_reference},
      {"magnitude_scale", &Settings::magnitude_scale},
      {"compression", &Settings::compression},
      {"high_emphasis", &Settings::high_emphasis},
      {"floor_seconds", &Settings::floor_seconds},
      {"floor_quantile", &Settings::floor_quantile},
      {"floor_scale", &Settings::floor_scale},
      {"normalisation_seconds", &Settings::normalisation_seconds},
      {"min_bpm", &Settings::min_bpm},
      {"max_bpm", &Settings::max_bpm},
      {"transition_lambda", &Settings::transition_lambda},
      {"transition_cutoff", &Settings::transition_cutoff},
      {"tempo_jump_probability", &Settings::tempo_jump_probability},
      {"observation_lambda", &Settings::observation_lambda},
      {"min_onset", &Settings::min_onset},
      {"min_beat_spacing", &Settings::min_beat_spacing},
      {"confidence_seconds", &Settings::confidence_seconds},
      {"confidence_half_nats", &Settings::confidence_half_nats},
      {"metre_change_probability", &Settings::metre_change_probability},
  };
  const std::map<std::string, int Settings::*> integers = {
      {"bands_per_octave", &Settings::bands_per_octave},
      {"max_filter_bands", &Settings::max_filter_bands},
      {"diff_frames", &Settings::diff_frames},
      {"beat_region", &Settings::beat_region},
      {"announce_ahead", &Settings::announce_ahead},
      {"accent_frames", &Settings::accent_frames},
  };
  if (key == "bar_lengths") {
    // "2,3,4"; "0" for beats only
    s.bar_lengths.clear();
    std::size_t at = 0;
    while (at < text.size()) {
      const std::size_t comma = std::min(text.find(',', at), text.size());
      const int beats = int(std::lround(number(key, text.substr(at, comma - at))));
      if (beats > 0) s.bar_lengths.push_back(beats);
      at = comma + 1;
    }
  } else if (key == "unit_sum_filters") {
    s.unit_sum_filters = number(key, text) != 0.0;
  } else if (key == "snap_ties_to_even") {
    s.snap_ties_to_even = number(key, text) != 0.0;
  } else if (key == "beat_decision") {
    if (text == "next_beat_posterior" || text == "0")
      s.beat_decision = Settings::BeatDecision::kNextBeatPosterior;
    else if (text == "best_state_wrap" || text == "1")
      s.beat_decision = Settings::BeatDecision::kBestStateWrap;
    else
      throw std::invalid_argument("beat_decision is next_beat_posterior (0) or best_state_wrap (1)");
  } else if (auto r = reals.find(key); r != reals.end()) {
    s.*(r->second) = number(key, text);
  } else if (auto i = integers.find(key); i != integers.end()) {
    s.*(i->second) = int(std::lround(number(key, text)));
  } else {
    throw std::invalid_argument("unknown setting " + key);
  }
}

}  // namespace

int main(int argc, char** argv) try {
  bool offline = false, prototype = false, learned = false;
  std::string stamp, model_path;
  const char* path = nullptr;
  std::vector<std::pair<std::string, std::string>> settings;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto eq = a.find('=');
    if (eq == std::string::npos) {
      path = argv[i];
      continue;
    }
    const std::string key = a.substr(0, eq), value = a.substr(eq + 1);
    if (key == "offline") {
      offline = number(key, value) != 0.0;
    } else if (key == "preset") {
      if (value != "prototype" && value != "learned")
        throw std::invalid_argument("the presets are prototype and learned");
      prototype = value == "prototype";
      learned = value == "learned";
    } else if (key == "activation") {
      if (value != "learned" && value != "flux") throw std::invalid_argument("activation is learned or flux");
      learned = value == "learned";
    } else if (key == "model") {
      model_path = value;
    } else if (key == "stamp") {
      if (value != "centre" && value != "end") throw std::invalid_argument("stamp is centre or end");
      stamp = value;
    } else {
      settings.emplace_back(key, value);
    }
  }
  if (!path) {
    std::fprintf(stderr,
                 "usage: bar_pointer_track [offline=1] [preset=prototype] [stamp=centre|end] "
                 "[SETTING=VALUE ...] IN\n");
    return 2;
  }
  bar_pointer_bench::FileSpectra spectra(path);
  Settings s = prototype ? bar_pointer::prototypeModel(spectra.framing()) : spectra.framing();
  if (learned) {
    s = bar_pointer::learnedModel();
    s.sample_rate = spectra.framing().sample_rate;
    s.window_size = spectra.framing().window_size;
    s.hop_size = spectra.framing().hop_size;
  }
  for (const auto& [key, value] : settings) set(s, key, value);
  if (learned) s.activation = Settings::Activation::kLearned;
  const bool at_end = stamp.empty() ? prototype : stamp == "end";

  std::unique_ptr<ModelFile> model_file;
  if (!model_path.empty()) model_file = std::make_unique<ModelFile>(model_path);
  activation::InputFeature feature(s.sample_rate, s.window_size);
  activation::ActivationNetwork network(model_file ? model_file->weights() : activation::learnedModel());
  std::vector<float> values(activation::InputFeature::kValues);

  bar_pointer::OnlineTracker online(s);
  bar_pointer::ViterbiDecoder decoder(s);
  auto print = [](double t, int in_bar) {
    if (in_bar > 0)
      std::printf("%.4f\t%d\n", t, in_bar);
    else
      std::printf("%.4f\n", t);
  };
  auto decoded = [&] {
    for (const bar_pointer::DecodedBeat& b : decoder.takeBeats())
      print(spectra.windowCentre(b.frame), b.beat_in_bar);
  };
  while (spectra.next()) {
    const std::vector<double>& m = spectra.magnitudes();
    bar_pointer::FrameResult r;
    double onset = 0.0, beat = 0.0, downbeat = 0.0;
    if (learned) {
      feature.process(m.data(), m.size(), values.data());
      const activation::BeatProbabilities p = network.process(values.data(), values.size());
      beat = p.beat;
      downbeat = p.downbeat;
      if (!offline) r = online.processActivations(beat, downbeat);
    } else {
      r = online.process(m.data(), m.size());
      onset = r.onset;
    }
    if (offline) {
      if (learned)
        decoder.pushActivations(beat, downbeat);
      else
        decoder.push(onset);
      decoded();
    } else if (r.beat) {
      print(at_end ? spectra.windowEnd(r.beat_frame) : spectra.windowCentre(r.beat_frame), r.beat_in_bar);
    }
  }
  if (offline) {
    decoder.finish();
    decoded();
  }
  return 0;
} catch (const std::exception& e) {
  std::fprintf(stderr, "bar_pointer_track: %s\n", e.what());
  return 2;
}
