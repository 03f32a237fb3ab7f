#include "beat_tracker_plugin.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>

namespace {

enum Output { kBeats, kTempo, kConfidence, kOnset, kDownbeats };

// The pipeline's messages name the tool's options; a host shows parameters.
std::string inParameterNames(std::string message) {
  static const char* const kNames[][2] = {
      {"--min-bpm", "min_bpm"},     {"--max-bpm", "max_bpm"},
      {"--threshold", "threshold"}, {"--compress", "compress"},
      {"--tracker", "tracker"},     {"--offline", "offline"},
      {"--activation", "activation"},
      // The plug-in has no advance to change.
      {"a smaller --advance or ", "a smaller "}, {"a larger --advance or ", "a larger "}};
  for (const auto& n : kNames)
    for (size_t at = message.find(n[0]); at != std::string::npos; at = message.find(n[0], at))
      message.replace(at, std::string(n[0]).size(), n[1]);
  return message;
}

Vamp::Plugin::OutputDescriptor perBeat(const char* id, const char* name, const char* description,
                                       const char* unit, int bins) {
  Vamp::Plugin::OutputDescriptor d;
  d.identifier = id;
  d.name = name;
  d.description = description;
  d.unit = unit;
  d.hasFixedBinCount = true;
  d.binCount = size_t(bins);
  d.sampleType = Vamp::Plugin::OutputDescriptor::VariableSampleRate;
  d.sampleRate = 0.0f;
  return d;
}

}  // namespace

BeatTrackerPlugin::BeatTrackerPlugin(float input_sample_rate) : Plugin(input_sample_rate) {}

BeatTrackerPlugin::~BeatTrackerPlugin() = default;

std::string BeatTrackerPlugin::getDescription() const {
  return "Beats and tempo as tesk-beat tracks them (bar-pointer or stpm tracker), announced as "
         "the audio plays, or decoded from the whole input (offline)";
}

Vamp::Plugin::ParameterList BeatTrackerPlugin::getParameterDescriptors() const {
  auto param = [](const char* id, const char* name, const char* description, const char* unit,
                  float min, float max, float value, bool whole) {
    ParameterDescriptor p;
    p.identifier = id;
    p.name = name;
    p.description = description;
    p.unit = unit;
    p.minValue = min;
    p.maxValue = max;
    p.defaultValue = value;
    p.isQuantized = whole;
    p.quantizeStep = whole ? 1.0f : 0.0f;
    return p;
  };
  using tesk_pipeline::kMaxBpmRange;
  using tesk_pipeline::kMinBpmRange;
  ParameterList list;
  ParameterDescriptor tracker =
      param("tracker", "Tracker", "bar-pointer (the default) or stpm", "", 0, 1, 0, true);
  tracker.valueNames = {"bar-pointer", "stpm"};
  list.push_back(tracker);
  list.push_back(param("offline", "Offline decoding",
                       "1: the whole input decoded at its end (bar-pointer only; scores higher); "
                       "0: beats as they are announced",
                       "", 0, 1, 0, true));
  list.push_back(param("min_bpm", "Slowest tempo",
                       "0 = the tracker's default (bar-pointer 55, stpm 79)", "BPM", 0,
                       float(kMinBpmRange.max), 0, true));
  list.push_back(param("max_bpm", "Fastest tempo",
                       "0 = the tracker's default (bar-pointer 215, stpm 160)", "BPM", 0,
                       float(kMaxBpmRange.max), 0, true));
  list.push_back(param("threshold", "Reliability threshold",
                       "reliability a beat needs to count", "",
                       float(tesk_pipeline::kThresholdRange.min),
                       float(tesk_pipeline::kThresholdRange.max),
                       tesk_pipeline::kBarPointerDefaults.threshold, false));
  list.push_back(param("compress", "Compression", "gamma of log(1 + gamma*|X|), 0 = none", "", 0,
                       1000, float(tesk_pipeline::kBarPointerDefaults.compress), false));
  list.push_back(param("reliable_only", "Reliable beats only", "leave out discarded beats", "", 0,
                       1, 0, true));
  ParameterDescriptor activation =
      param("activation", "Activation",
            "what the bar-pointer tracker observes: flux (the default), the spectral flux, or "
            "learned, a network's beat and downbeat activations",
            "", 0, 1, 0, true);
  activation.valueNames = {"flux", "learned"};
  list.push_back(activation);
  return list;
}

float BeatTrackerPlugin::getParameter(std::string id) const {
  if (id == "tracker") return tracker_;
  if (id == "offline") return offline_;
  if (id == "min_bpm") return min_bpm_;
  if (id == "max_bpm") return max_bpm_;
  if (id == "threshold") return threshold_;
  if (id == "compress") return compress_;
  if (id == "reliable_only") return reliable_only_;
  if (id == "activation") return activation_;
  return 0.0f;
}

void BeatTrackerPlugin::setParameter(std::string id, float value) {
  if (id == "tracker") tracker_ = value;
  else if (id == "offline") offline_ = value;
  else if (id == "min_bpm") min_bpm_ = value;
  else if (id == "max_bpm") max_bpm_ = value;
  else if (id == "threshold") threshold_ = value;
  else if (id == "compress") compress_ = value;
  else if (id == "reliable_only") reliable_only_ = value;
  else if (id == "activation") activation_ = value;
}

Vamp::Plugin::OutputList BeatTrackerPlugin::getOutputDescriptors() const {
  OutputList list;
  list.push_back(perBeat("beats", "Beats",
                         "each beat, labelled with its number in the bar (1 = the downbeat) "
                         "where the tracker knows the bar, else with its tempo and whether it "
                         "is reliable",
                         "", 0));
  list.push_back(perBeat("tempo", "Tempo",
                         "the tracker's tempo estimate at each beat, discarded ones too (none "
                         "before it has one)",
                         "BPM", 1));
  list.push_back(perBeat("confidence", "Confidence",
                         "the tracker's reliability when it announced each beat", "", 1));
  // One value per analysis frame, at the start of the frame's window.
  OutputDescriptor onset = perBeat("onset", "Onset strength",
                                   "the onset strength of each analysis frame", "", 1);
  if (frames_per_second_ > 0.0f) {
    onset.sampleType = OutputDescriptor::FixedSampleRate;
    onset.sampleRate = frames_per_second_;
  }
  list.push_back(onset);
  list.push_back(perBeat("downbeats", "Downbeats",
                         "each beat the tracker takes for the first of its bar (none where it "
                         "knows no bar)",
                         "", 0));
  return list;
}

tesk_pipeline::Settings BeatTrackerPlugin::settings() const {
  tesk_pipeline::Settings s;
  s.tracker = tracker_ >= 0.5f ? tesk_pipeline::TrackerKind::kStpm
                               : tesk_pipeline::TrackerKind::kBarPointer;
  s.min_bpm = int(std::lround(min_bpm_));
  s.max_bpm = int(std::lround(max_bpm_));
  s.threshold = threshold_;
  s.compress = double(compress_);
  s.offline = offline_ >= 0.5f;
  // Unset for flux, the default: the stpm tracker refuses any activation given.
  if (activation_ >= 0.5f) s.activation = tesk_pipeline::Activation::kLearned;
  s.frame_onsets = true;
  // Standard output is the host's.
  s.console = tesk_pipeline::ConsoleLines::kDiscard;
  return s;
}

void BeatTrackerPlugin::fail(const char* when, const char* what) {
  std::fprintf(stderr, "beattracker: %s: %s; no more beats\n", when, what);
  tracker_state_.reset();
}

bool BeatTrackerPlugin::initialise(size_t channels, size_t step_size, size_t block_size) {
  tracker_state_.reset();
  if (channels < getMinChannelCount() || channels > getMaxChannelCount() || block_size == 0 ||
      step_size == 0)
    return false;
  // Steps beyond the block would leave gaps in the audio.
  if (step_size > block_size) {
    std::fprintf(stderr, "beattracker: a step of %zu frames skips audio after each block of %zu; "
                 "use a step no larger than the block\n", step_size, block_size);
    return false;
  }
  try {
    channels_ = channels;
    block_ = block_size;
    step_ = step_size;
    interleaved_.assign(channels * block_size, 0.0f);
    tracker_state_ = std::make_unique<tesk_pipeline::Tracker>(
        settings(), int(std::lround(m_inputSampleRate)), int(channels));
  } catch (const std::exception& e) {
    // A host has no other way to hear why.
    std::fprintf(stderr, "beattracker: %s\n", inParameterNames(e.what()).c_str());
    tracker_state_.reset();
    return false;
  } catch (...) {
    std::fprintf(stderr, "beattracker: the tracker could not be started\n");
    tracker_state_.reset();
    return false;
  }
  const tesk_pipeline::TrackerSettings& s = tracker_state_->settings();
  frames_per_second_ = float(double(s.sample_rate) / s.advance);
  analysis_rate_ = s.sample_rate;
  advance_ = s.advance;
  onset_frames_ = 0;
  taken_ = 0;
  blocks_ = 0;
  non_finite_ = 0;
  return true;
}

void BeatTrackerPlugin::reset() {
  if (channels_ > 0) initialise(channels_, step_, block_);
}

Vamp::Plugin::FeatureSet BeatTrackerPlugin::featuresOf(
    const std::vector<tesk_pipeline::Beat>& beats) {
  FeatureSet set;
  for (float strength : tracker_state_->takeOnsets()) {
    Feature f;
    f.hasTimestamp = true;
    f.timestamp = Vamp::RealTime::fromSeconds(double(onset_frames_++) * advance_ / analysis_rate_);
    f.values = {strength};
    set[kOnset].push_back(f);
  }
  for (const tesk_pipeline::Beat& b : beats) {
    if (reliable_only_ >= 0.5f && !b.reliable) continue;
    Feature f;
    f.hasTimestamp = true;
    f.timestamp = Vamp::RealTime::fromSeconds(b.time);
    char label[64];
    if (b.beat_in_bar > 0) std::snprintf(label, sizeof label, "%d", b.beat_in_bar);
    else if (b.reliable) std::snprintf(label, sizeof label, "%.1f BPM reliable", double(b.tempo));
    else std::snprintf(label, sizeof label, "discarded");
    f.label = label;
    set[kBeats].push_back(f);
    f.label.clear();
    if (b.beat_in_bar == 1) set[kDownbeats].push_back(f);
    // No tempo before the tracker has an estimate, rather than a false 0.
    if (std::isfinite(b.tempo)) {
      f.values = {b.tempo};
      set[kTempo].push_back(f);
    }
    f.values = {b.confidence};
    set[kConfidence].push_back(f);
  }
  return set;
}

Vamp::Plugin::FeatureSet BeatTrackerPlugin::process(const float* const* input_buffers,
                                                    Vamp::RealTime) {
  FeatureSet set;
  if (!tracker_state_) return set;
  try {
    // Block k starts at frame k * step; what the tracker has is not taken again.
    const int64_t start = blocks_++ * int64_t(step_);
    const size_t skip = size_t(std::max<int64_t>(0, taken_ - start));
    if (skip >= block_) return set;
    const size_t n = block_ - skip;
    for (size_t c = 0; c < channels_; ++c)
      for (size_t i = 0; i < n; ++i) {
        float v = input_buffers[c][skip + i];
        // A host cannot be told mid-stream: silence instead, said once.
        if (!std::isfinite(v)) {
          if (non_finite_++ == 0) {
            first_non_finite_ = double(start + int64_t(skip + i)) / double(m_inputSampleRate);
            std::fprintf(stderr,
                         "beattracker: a NaN or infinite sample at %.3f s is taken as 0 (so is "
                         "any later one)\n", first_non_finite_);
          }
          v = 0.0f;
        }
        interleaved_[i * channels_ + c] = v;
      }
    taken_ += int64_t(n);
    set = featuresOf(tracker_state_->process(interleaved_.data(), int64_t(n)));
  } catch (const std::exception& e) {
    fail("process", inParameterNames(e.what()).c_str());
  } catch (...) {
    fail("process", "an unknown failure");
  }
  return set;
}

Vamp::Plugin::FeatureSet BeatTrackerPlugin::getRemainingFeatures() {
  FeatureSet set;
  if (non_finite_ > 0)
    std::fprintf(stderr,
                 "beattracker: %lld NaN or infinite sample%s taken as 0, the first at %.3f s\n",
                 (long long)non_finite_, non_finite_ == 1 ? "" : "s", first_non_finite_);
  non_finite_ = 0;
  if (!tracker_state_) return set;
  try {
    set = featuresOf(tracker_state_->finish());
  } catch (const std::exception& e) {
    fail("the end", inParameterNames(e.what()).c_str());
  } catch (...) {
    fail("the end", "an unknown failure");
  }
  return set;
}
