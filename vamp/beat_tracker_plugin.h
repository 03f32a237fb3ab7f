// The Vamp plug-in "beattracker": the pipeline behind the Vamp API. Audio
// comes in the time domain at any rate and channel count, in blocks of any
// size and a step no larger (the pipeline frames the stream itself, so
// only each block's new samples are taken); beats come out as the tracker
// announces them, while processing (offline: as the decoder settles them,
// the last at the end). No exception leaves an entry point: a host cannot
// take one, so failures are said on standard error.
#pragma once

#include <vamp-sdk/Plugin.h>

#include <memory>
#include <string>
#include <vector>

#include "tesk-music/pipeline/tracker.h"

class BeatTrackerPlugin : public Vamp::Plugin {
 public:
  explicit BeatTrackerPlugin(float input_sample_rate);
  ~BeatTrackerPlugin() override;

  std::string getIdentifier() const override { return "beattracker"; }
  std::string getName() const override { return "Beat Tracker"; }
  std::string getDescription() const override;
  std::string getMaker() const override { return "tesk-music"; }
  std::string getCopyright() const override { return "tesk-music"; }
  int getPluginVersion() const override { return 1; }

  InputDomain getInputDomain() const override { return TimeDomain; }
  size_t getPreferredBlockSize() const override { return kBlock; }
  size_t getPreferredStepSize() const override { return kBlock; }
  size_t getMinChannelCount() const override { return 1; }
  size_t getMaxChannelCount() const override { return 256; }

  ParameterList getParameterDescriptors() const override;
  float getParameter(std::string id) const override;
  void setParameter(std::string id, float value) override;

  OutputList getOutputDescriptors() const override;

  bool initialise(size_t channels, size_t step_size, size_t block_size) override;
  void reset() override;
  FeatureSet process(const float* const* input_buffers, Vamp::RealTime timestamp) override;
  FeatureSet getRemainingFeatures() override;

 private:
  static constexpr size_t kBlock = 1024;

  tesk_pipeline::Settings settings() const;
  // The beats as features, and the onsets of the frames analysed since.
  FeatureSet featuresOf(const std::vector<tesk_pipeline::Beat>& beats);

  // Failures said once on standard error, tracking stopped.
  void fail(const char* when, const char* what);
  void track(const float* interleaved, int64_t frames, FeatureSet& set);

  // Parameters; 0 tempi = the tracker's default.
  float tracker_ = 0.0f;  // 0 bar-pointer, 1 stpm
  float offline_ = 0.0f;
  float min_bpm_ = 0.0f, max_bpm_ = 0.0f;
  float threshold_ = tesk_pipeline::kBarPointerDefaults.threshold;
  float compress_ = float(tesk_pipeline::kBarPointerDefaults.compress);
  float reliable_only_ = 0.0f;
  float activation_ = 0.0f;  // 0 flux, 1 learned (bar-pointer only)

  size_t channels_ = 0, block_ = 0, step_ = 0;
  int64_t taken_ = 0;   // input frames given to the tracker
  int64_t blocks_ = 0;  // blocks processed: block k starts at frame k * step
  // Non-finite samples taken as 0, and the time of the first.
  int64_t non_finite_ = 0;
  double first_non_finite_ = 0.0;
  float frames_per_second_ = 0.0f;  // analysis frames, once initialised
  int analysis_rate_ = 0, advance_ = 0;
  int64_t onset_frames_ = 0;
  std::vector<float> interleaved_;
  std::unique_ptr<tesk_pipeline::Tracker> tracker_state_;
};
