// Synthetic music with exactly known beats: drums, bass and chords on a
// steady grid, for end-to-end tests of the beat tracker.
#pragma once

#include <string>
#include <vector>

namespace tesk_beat_test {

struct Piece {
  int rate = 0;
  int channels = 0;
  std::vector<float> samples;  // interleaved
  std::vector<double> beats;   // seconds
  double bpm = 0.0;
};

// A 4/4 groove at `bpm`; the first beat falls at `lead_in` seconds.
Piece makeGroove(double bpm, double seconds, int rate, int channels, unsigned seed,
                 double lead_in = 0.25);

// Writes `piece` with libsndfile; `format` e.g. SF_FORMAT_WAV | SF_FORMAT_PCM_16.
void writePiece(const std::string& path, const Piece& piece, int format);

// F-measure of `estimated` against `reference` (+-70 ms, one-to-one
// matching), both after `skip` seconds, as beat-tracking evaluations do.
double fMeasure(const std::vector<double>& reference, const std::vector<double>& estimated,
                double skip = 5.0, double tolerance = 0.07);

}  // namespace tesk_beat_test
