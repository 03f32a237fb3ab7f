#include "voice_cancel/SemiBlind.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Tap count of bin b: linear between first_taps and last_taps, truncated.
int bin_taps(int b, int first_taps, int last_taps, int bins) {
  const int difference = last_taps - first_taps;
  return int(double(b) * double(difference) / double(bins) + double(first_taps));
}

// Releases a bank, built completely or in part.
void release(SemiBlind* sb, int bins) {
  if (sb->bins != nullptr) {
    for (int b = 0; b < bins; ++b) {
      delete_FD_ICA(sb->bins[b]);
    }
  }
  std::free(sb->bins);
  std::free(sb);
}

void report(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

// Refuses a state stream: says why, releases the whole bank, leaves the
// stream open.
SemiBlind* reject(SemiBlind* sb, int bins, const char* line) {
  report(line);
  release(sb, bins);
  return nullptr;
}

const char* const kTruncated = "SemiBlind: state file is truncated or unreadable; nothing loaded.";

bool read_int(FILE* in, int* value) {
  std::int32_t raw;
  if (std::fread(&raw, sizeof raw, 1, in) != 1) {
    return false;
  }
  *value = raw;
  return true;
}

enum class ReadResult { ok, truncated, not_finite };

// Reads count doubles; every one must be present and finite.
ReadResult read_finite(FILE* in, double* values, std::size_t count) {
  if (count == 0) {
    return ReadResult::ok;
  }
  if (std::fread(values, sizeof(double), count, in) != count) {
    return ReadResult::truncated;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (!std::isfinite(values[i])) {
      return ReadResult::not_finite;
    }
  }
  return ReadResult::ok;
}

// Reads tap pairs that this bin does not take, keeping the reader in step
// with the layout. They are held to the same standard as the taps taken.
ReadResult skip_taps(FILE* in, std::int64_t pairs) {
  double scratch[64];
  std::int64_t left = pairs * 2;
  while (left > 0) {
    const std::size_t chunk = left < 64 ? std::size_t(left) : 64;
    const ReadResult result = read_finite(in, scratch, chunk);
    if (result != ReadResult::ok) {
      return result;
    }
    left -= std::int64_t(chunk);
  }
  return ReadResult::ok;
}

// Loads the blocks of every bin; taps_taken is K.
ReadResult load_blocks(FILE* in, SemiBlind* sb, int bins, int stored, int taps_taken) {
  for (int b = 0; b < bins; ++b) {
    FD_ICA* ica = sb->bins[b];
    double scales[2];
    ReadResult result = read_finite(in, scales, 2);
    if (result != ReadResult::ok) {
      return result;
    }
    ica->out_scale = scales[0];
    ica->ref_scale = scales[1];

    const int take = taps_taken < ica->taps ? taps_taken : ica->taps;
    result = read_finite(in, ica->coef, std::size_t(take) * 2);
    if (result != ReadResult::ok) {
      return result;
    }
    result = skip_taps(in, std::int64_t(stored) - take);
    if (result != ReadResult::ok) {
      return result;
    }
  }
  return ReadResult::ok;
}

}  // namespace

SemiBlind* new_SemiBlind(FILE* state_in, int nfft, int first_taps, int last_taps,
                         int tap_spacing, double init_out_scale, double init_ref_scale,
                         double step, double out_scale_rate, double ref_scale_rate,
                         double mean_rate, double power_floor) {
  if (nfft <= 0 || first_taps <= 0 || last_taps <= 0 || tap_spacing <= 0) {
    return nullptr;
  }
  const int bins = nfft / 2 + 1;

  SemiBlind* sb = static_cast<SemiBlind*>(std::calloc(1, sizeof(SemiBlind)));
  if (sb == nullptr) {
    return nullptr;
  }
  sb->nfft = nfft;
  // Both counts are positive, so their sum may exceed an int.
  sb->stored_taps = int((std::int64_t(first_taps) + last_taps) / 2);
  sb->bins = static_cast<FD_ICA**>(std::calloc(std::size_t(bins), sizeof(FD_ICA*)));
  if (sb->bins == nullptr) {
    release(sb, 0);
    return nullptr;
  }
  for (int b = 0; b < bins; ++b) {
    sb->bins[b] = new_FD_ICA(bin_taps(b, first_taps, last_taps, bins), tap_spacing,
                             init_out_scale, init_ref_scale, step, out_scale_rate,
                             ref_scale_rate, mean_rate, power_floor);
    if (sb->bins[b] == nullptr) {
      release(sb, b);
      return nullptr;
    }
  }

  if (state_in == nullptr) {
    return sb;
  }

  int file_nfft;
  if (!read_int(state_in, &file_nfft)) {
    return reject(sb, bins, kTruncated);
  }
  if (file_nfft != nfft) {
    return reject(sb, bins, "mismatch of nfft.");
  }
  int stored;
  if (!read_int(state_in, &stored)) {
    return reject(sb, bins, kTruncated);
  }
  const int top_taps = sb->bins[bins - 1]->taps;
  const int taken = stored > top_taps ? top_taps : stored;
  std::printf("%d %d %d\n", file_nfft, taken, top_taps);
  std::fflush(stdout);

  // A layout larger than any file can be (its size overflows 64 bits) is
  // as wrong as a negative count.
  const std::int64_t block_bytes = 16 + 16 * std::int64_t(stored);
  if (stored < 0 || block_bytes > (INT64_MAX - 8) / bins) {
    return reject(sb, bins, "SemiBlind: state file has an invalid tap count; nothing loaded.");
  }
  switch (load_blocks(state_in, sb, bins, stored, taken)) {
    case ReadResult::ok:
      break;
    case ReadResult::truncated:
      return reject(sb, bins, kTruncated);
    case ReadResult::not_finite:
      return reject(sb, bins, "SemiBlind: state file holds a value that is not finite; nothing loaded.");
  }

  std::fclose(state_in);
  return sb;
}

int separate_SemiBlind(SemiBlind* sb, double** mixture, double** output, double** reference,
                       int count) {
  const int bins = sb->nfft / 2 + 1;
  for (int b = 2; b < bins; ++b) {
    cancel_FD_ICA(sb->bins[b], mixture[b], output[b], reference[b], count);
  }
  return 0;
}

void delete_SemiBlind(SemiBlind* sb, FILE* state_out) {
  if (sb == nullptr) {
    return;
  }
  const int bins = sb->nfft / 2 + 1;
  if (state_out != nullptr) {
    const std::int32_t header[2] = {sb->nfft, sb->stored_taps};
    std::fwrite(header, sizeof(std::int32_t), 2, state_out);
    const double zero_tap[2] = {0.0, 0.0};
    for (int b = 0; b < bins; ++b) {
      const FD_ICA* ica = sb->bins[b];
      const double scales[2] = {ica->out_scale, ica->ref_scale};
      std::fwrite(scales, sizeof(double), 2, state_out);
      // A bin with fewer taps than the file holds pads its block with zeros.
      for (int k = 0; k < sb->stored_taps; ++k) {
        std::fwrite(k < ica->taps ? ica->coef + 2 * k : zero_tap, sizeof(double), 2, state_out);
      }
    }
  }
  release(sb, bins);
}
