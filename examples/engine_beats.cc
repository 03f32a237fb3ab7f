// The engine on its own (README, "The engine on its own"): one linear
// magnitude spectrum per frame in, tempo and beats out. Build against the
// installed files:
//   c++ -o beats examples/engine_beats.cc $(pkg-config --cflags --libs tesk-music)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/BeatTracker.h"

int main() {
  // The engine creates its fourteen diagnostic files ("bt_spec.dat", ...)
  // at the prefix it is given, empty unless the flag is set: a private
  // directory keeps them out of the working directory.
  char dir[] = "/tmp/beats-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  {
    beat_tracker::BeatTrackerInit init;
    init.setInputSignal(16000.0, 512, 160);  // sampling rate, window, advance (samples)
    init.setDebugFlag(false, std::string(dir) + "/");  // diagnostic files, never written
    init.setCCValues(100, 51, 100);           // candidate beat intervals 51..99 frames
    beat_tracker::BeatTracker engine(init);   // std::invalid_argument on unusable settings

    // window/2 linear magnitudes per frame; 160 samples at 16 kHz make 100
    // frames a second, so a click every 60 frames is 100 BPM.
    std::vector<double> magnitudes(256);
    beat_tracker::BeatTrackerData result;
    for (int frame = 0; frame < 1000; ++frame) {
      magnitudes.assign(magnitudes.size(), frame % 60 == 0 ? 1.0 : 0.01);
      result = engine.analyze(magnitudes);
    }
    // Intervals and beat times are in frames; onset_vector, stpm_vector and
    // chroma_vector hold the frame's features.
    std::printf("interval %.0f frames (%.1f BPM), latest beat at frame %.0f, reliability %.2f\n",
                result.getInterval(), 6000.0 / result.getInterval(), result.getRecentBeatTime(),
                result.getMusicReliability());
  }  // the engine closes its files
  std::filesystem::remove_all(dir);
}
