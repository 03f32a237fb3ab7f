// Feeds arbitrary bytes to the state-file reader. The first four bytes
// choose the bank (FFT length, first and last tap counts, tap spacing); the
// rest is the stream. A bank that loads must save a file that loads again
// with the same values.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "voice_cancel/SemiBlind.h"

namespace {

struct Shape {
  int nfft, first_taps, last_taps, spacing;
};

SemiBlind* open_bank(FILE* in, const Shape& s) {
  return new_SemiBlind(in, s.nfft, s.first_taps, s.last_taps, s.spacing, 1.0, 1.0, 0.01, 0.01,
                       0.01, 0.0, 0.0001);
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void check_round_trip(SemiBlind* bank, const Shape& shape) {
  char* saved = nullptr;
  size_t saved_size = 0;
  FILE* out = open_memstream(&saved, &saved_size);
  if (out == nullptr) {
    return;
  }
  const int bins = bank->nfft / 2 + 1;
  const int stored = bank->stored_taps;
  const int top = bank->bins[bins - 1]->taps;
  const int taken = stored < top ? stored : top;

  // delete_SemiBlind releases the bank, so keep what the file must hold.
  std::vector<double> expected;
  for (int b = 0; b < bins; ++b) {
    const FD_ICA* ica = bank->bins[b];
    expected.push_back(ica->out_scale);
    expected.push_back(ica->ref_scale);
    const int count = taken < ica->taps ? taken : ica->taps;
    expected.insert(expected.end(), ica->coef, ica->coef + 2 * count);
  }
  delete_SemiBlind(bank, out);
  std::fclose(out);

  if (saved_size != 8 + size_t(bins) * (16 + 16 * size_t(stored))) {
    __builtin_trap();
  }
  FILE* in = fmemopen(saved, saved_size, "rb");
  SemiBlind* again = open_bank(in, shape);
  if (again == nullptr) {
    __builtin_trap();  // a file we wrote from finite values must load
  }
  size_t i = 0;
  for (int b = 0; b < bins; ++b) {
    const FD_ICA* ica = again->bins[b];
    const int count = taken < ica->taps ? taken : ica->taps;
    if (!same_bits(ica->out_scale, expected[i++]) || !same_bits(ica->ref_scale, expected[i++])) {
      __builtin_trap();
    }
    for (int k = 0; k < 2 * count; ++k) {
      if (!same_bits(ica->coef[k], expected[i++])) {
        __builtin_trap();
      }
    }
  }
  // Run the loaded filters on a few frames: values may be extreme, the
  // arithmetic must stay defined.
  std::vector<double> frame(2 * size_t(bins)), separated(2 * size_t(bins));
  std::vector<double*> rows(bins), out_rows(bins);
  for (int b = 0; b < bins; ++b) {
    rows[b] = &frame[2 * size_t(b)];
    out_rows[b] = &separated[2 * size_t(b)];
  }
  for (int n = 0; n < 4; ++n) {
    for (size_t j = 0; j < frame.size(); ++j) {
      frame[j] = double(int(j % 7) - 3) * (n + 1);
    }
    separate_SemiBlind(again, rows.data(), out_rows.data(), rows.data(), 1);
  }
  delete_SemiBlind(again, nullptr);
  std::free(saved);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) {
    return 0;
  }
  const Shape shape{1 + data[0] % 64, 1 + data[1] % 12, 1 + data[2] % 12, 1 + data[3] % 4};
  std::vector<unsigned char> stream(data + 4, data + size);
  stream.push_back(0);  // fmemopen needs a non-empty buffer; the byte is not readable
  FILE* in = fmemopen(stream.data(), size - 4, "rb");
  if (in == nullptr) {
    return 0;
  }
  SemiBlind* bank = open_bank(in, shape);
  if (bank == nullptr) {
    std::fclose(in);  // left open on failure
    return 0;
  }
  // The reader closed the stream on success.
  check_round_trip(bank, shape);
  return 0;
}
