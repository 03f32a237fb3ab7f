#include "voice_cancel/SemiBlind.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

SemiBlind* make_bank(FILE* in, int nfft, int first_taps, int last_taps, int spacing = 1) {
  return new_SemiBlind(in, nfft, first_taps, last_taps, spacing, 1.0, 1.0, 0.01, 0.01, 0.01,
                       0.0, 0.0001);
}

int bin_count(const SemiBlind* bank) { return bank->nfft / 2 + 1; }

// Gives every scale and tap of the bank its own value.
void fill_distinct(SemiBlind* bank) {
  for (int b = 0; b < bin_count(bank); ++b) {
    FD_ICA* ica = bank->bins[b];
    ica->out_scale = 1.0 + b * 0.001;
    ica->ref_scale = 2.0 + b * 0.001;
    for (int k = 0; k < ica->taps; ++k) {
      ica->coef[2 * k] = b + k * 0.01 + 0.0001;
      ica->coef[2 * k + 1] = -(b + k * 0.01 + 0.0002);
    }
  }
}

// Saves the bank (and releases it); returns the file's bytes.
std::vector<unsigned char> save(SemiBlind* bank) {
  FILE* file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  delete_SemiBlind(bank, file);
  std::vector<unsigned char> bytes = contents_of(file);
  std::fclose(file);
  return bytes;
}

// Opens the bytes as a stream for a bank; captures what it prints.
struct Load {
  SemiBlind* bank;
  bool closed;
  std::string printed;
};

Load load(const std::vector<unsigned char>& bytes, int nfft, int first_taps, int last_taps) {
  ByteStream stream(bytes);
  testing::internal::CaptureStdout();
  SemiBlind* bank = make_bank(stream.file(), nfft, first_taps, last_taps);
  std::string printed = testing::internal::GetCapturedStdout();
  return {bank, stream.closed(), printed};
}

// A file in the stored layout with S taps per block, every value distinct.
StateFileBuilder layout(int nfft, int stored, int blocks = -1) {
  StateFileBuilder file;
  file.i32(nfft).i32(stored);
  const int bins = blocks < 0 ? nfft / 2 + 1 : blocks;
  for (int b = 0; b < bins; ++b) {
    file.f64(10.0 + b).f64(20.0 + b);
    for (int k = 0; k < stored; ++k) {
      file.f64(b * 100.0 + k).f64(-(b * 100.0 + k));
    }
  }
  return file;
}

double f64_at(const std::vector<unsigned char>& bytes, std::size_t offset) {
  double value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

std::int32_t i32_at(const std::vector<unsigned char>& bytes, std::size_t offset) {
  std::int32_t value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

}  // namespace

TEST(SemiBlind, TapCountsFallAcrossBins) {
  SemiBlind* bank = make_bank(nullptr, 512, 8, 5);
  ASSERT_NE(bank, nullptr);
  EXPECT_EQ(bank->nfft, 512);
  EXPECT_EQ(bank->stored_taps, 6);
  for (int b = 0; b <= 256; ++b) {
    const int expected = b == 0 ? 8 : b <= 85 ? 7 : b <= 171 ? 6 : 5;
    EXPECT_EQ(bank->bins[b]->taps, expected) << "bin " << b;
  }
  delete_SemiBlind(bank, nullptr);

  bank = make_bank(nullptr, 4, 8, 5);
  ASSERT_NE(bank, nullptr);
  EXPECT_EQ(bank->bins[0]->taps, 8);
  EXPECT_EQ(bank->bins[1]->taps, 7);
  EXPECT_EQ(bank->bins[2]->taps, 6);
  delete_SemiBlind(bank, nullptr);

  // Rising counts, and an odd sum truncated.
  bank = make_bank(nullptr, 8, 2, 7);
  ASSERT_NE(bank, nullptr);
  EXPECT_EQ(bank->stored_taps, 4);
  const int rising[] = {2, 3, 4, 5, 6};
  for (int b = 0; b < 5; ++b) {
    EXPECT_EQ(bank->bins[b]->taps, rising[b]) << "bin " << b;
  }
  delete_SemiBlind(bank, nullptr);
}

TEST(SemiBlind, RejectsNonPositiveSizes) {
  EXPECT_EQ(make_bank(nullptr, 0, 8, 5), nullptr);
  EXPECT_EQ(make_bank(nullptr, -512, 8, 5), nullptr);
  EXPECT_EQ(make_bank(nullptr, 512, 0, 5), nullptr);
  EXPECT_EQ(make_bank(nullptr, 512, 8, -1), nullptr);
  EXPECT_EQ(make_bank(nullptr, 512, 8, 5, 0), nullptr);
  // Rings beyond 2^31 samples: in bin 0, and in bin 1 after bin 0 was built
  // (released again; the sanitizer build checks for leaks).
  EXPECT_EQ(make_bank(nullptr, 16, std::numeric_limits<int>::max(), 1, 2), nullptr);
  EXPECT_EQ(make_bank(nullptr, 16, 1, std::numeric_limits<int>::max(), 16), nullptr);
}

TEST(SemiBlind, SeparatesFromBinTwoUpward) {
  for (int nfft : {2, 4, 9}) {
    SemiBlind* bank = make_bank(nullptr, nfft, 3, 3);
    ASSERT_NE(bank, nullptr);
    const int bins = bin_count(bank);
    std::vector<double> mix(2 * bins), ref(2 * bins), out(2 * bins, -99.0);
    std::vector<double*> mix_rows(bins), ref_rows(bins), out_rows(bins);
    for (int b = 0; b < bins; ++b) {
      mix[2 * b] = 1.0 + b;
      mix[2 * b + 1] = -0.5 * b;
      ref[2 * b] = 0.5;
      ref[2 * b + 1] = 0.25;
      mix_rows[b] = &mix[2 * b];
      ref_rows[b] = &ref[2 * b];
      out_rows[b] = &out[2 * b];
    }
    const int processed = bins > 2 ? bins - 2 : 0;
    std::srand(17);
    EXPECT_EQ(separate_SemiBlind(bank, mix_rows.data(), out_rows.data(), ref_rows.data(), 1), 0);
    EXPECT_EQ(draws_made(17, std::rand()), 2 * processed) << "two draws per processed bin, nfft " << nfft;
    for (int b = 0; b < bins; ++b) {
      if (b < 2) {
        EXPECT_EQ(out[2 * b], -99.0) << "bin " << b << " must not be written";
        EXPECT_EQ(out[2 * b + 1], -99.0);
        EXPECT_EQ(bank->bins[b]->pos, 0);
      } else {
        EXPECT_EQ(out[2 * b], mix[2 * b]);
        EXPECT_EQ(out[2 * b + 1], mix[2 * b + 1]);
        EXPECT_EQ(bank->bins[b]->pos, 1);
      }
    }
    delete_SemiBlind(bank, nullptr);
  }
}

TEST(SemiBlind, NullStreamsPrintNothing) {
  testing::internal::CaptureStdout();
  SemiBlind* bank = make_bank(nullptr, 64, 8, 5);
  delete_SemiBlind(bank, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  delete_SemiBlind(nullptr, nullptr);
}

TEST(SemiBlindStateFile, LayoutForFallingTaps) {
  SemiBlind* bank = make_bank(nullptr, 512, 8, 5);
  ASSERT_NE(bank, nullptr);
  fill_distinct(bank);
  const std::vector<unsigned char> bytes = save(bank);
  ASSERT_EQ(bytes.size(), 8u + 257u * 112u);
  EXPECT_EQ(i32_at(bytes, 0), 512);
  EXPECT_EQ(i32_at(bytes, 4), 6);
  for (int b = 0; b <= 256; ++b) {
    const std::size_t block = 8 + std::size_t(b) * 112;
    const int taps = b == 0 ? 8 : b <= 85 ? 7 : b <= 171 ? 6 : 5;
    EXPECT_EQ(f64_at(bytes, block), 1.0 + b * 0.001);
    EXPECT_EQ(f64_at(bytes, block + 8), 2.0 + b * 0.001);
    for (int k = 0; k < 6; ++k) {
      const double re = k < taps ? b + k * 0.01 + 0.0001 : 0.0;
      const double im = k < taps ? -(b + k * 0.01 + 0.0002) : 0.0;
      EXPECT_EQ(f64_at(bytes, block + 16 + 16 * k), re) << "bin " << b << " tap " << k;
      EXPECT_EQ(f64_at(bytes, block + 24 + 16 * k), im) << "bin " << b << " tap " << k;
    }
  }
}

TEST(SemiBlindStateFile, RoundTripRestoresEveryValueForConstantTaps) {
  SemiBlind* bank = make_bank(nullptr, 16, 4, 4, 2);
  ASSERT_NE(bank, nullptr);
  // Learned values from real adaptation, not round numbers.
  std::vector<double> mix(2 * 9), ref(2 * 9), out(2 * 9);
  std::vector<double*> m(9), r(9), o(9);
  for (int b = 0; b < 9; ++b) {
    m[b] = &mix[2 * b];
    r[b] = &ref[2 * b];
    o[b] = &out[2 * b];
  }
  std::srand(8);
  for (int frame = 0; frame < 50; ++frame) {
    for (int i = 0; i < 18; ++i) {
      ref[i] = std::sin(frame * 0.7 + i);
      mix[i] = 0.8 * ref[i] + 0.1 * std::cos(frame * 1.3 + 2 * i);
    }
    separate_SemiBlind(bank, m.data(), o.data(), r.data(), 1);
  }
  std::vector<std::vector<double>> expected;
  for (int b = 0; b < 9; ++b) {
    const FD_ICA* ica = bank->bins[b];
    std::vector<double> values = {ica->out_scale, ica->ref_scale};
    values.insert(values.end(), ica->coef, ica->coef + 8);
    expected.push_back(values);
  }
  const std::vector<unsigned char> bytes = save(bank);
  ASSERT_EQ(bytes.size(), 8u + 9u * (16u + 16u * 4u));

  Load loaded = load(bytes, 16, 4, 4);
  ASSERT_NE(loaded.bank, nullptr);
  EXPECT_TRUE(loaded.closed);
  EXPECT_EQ(loaded.printed, "16 4 4\n");
  for (int b = 0; b < 9; ++b) {
    const FD_ICA* ica = loaded.bank->bins[b];
    std::vector<double> values = {ica->out_scale, ica->ref_scale};
    values.insert(values.end(), ica->coef, ica->coef + 8);
    ASSERT_EQ(values.size(), expected[b].size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      EXPECT_EQ(bits_of(values[i]), bits_of(expected[b][i])) << "bin " << b << " value " << i;
    }
    // Only the learned values come back; the rest starts afresh.
    EXPECT_EQ(ica->pos, 0);
    EXPECT_EQ(ica->ref_history[0], 0.0);
  }
  delete_SemiBlind(loaded.bank, nullptr);
}

TEST(SemiBlindStateFile, RoundTripForFallingTapsTakesTheFirstK) {
  SemiBlind* bank = make_bank(nullptr, 512, 8, 5);
  fill_distinct(bank);
  const std::vector<unsigned char> bytes = save(bank);

  Load loaded = load(bytes, 512, 8, 5);
  ASSERT_NE(loaded.bank, nullptr);
  EXPECT_TRUE(loaded.closed);
  EXPECT_EQ(loaded.printed, "512 5 5\n");  // K = min(S 6, top bin 5)
  for (int b = 0; b <= 256; ++b) {
    const FD_ICA* ica = loaded.bank->bins[b];
    EXPECT_EQ(bits_of(ica->out_scale), bits_of(1.0 + b * 0.001)) << "bin " << b;
    EXPECT_EQ(bits_of(ica->ref_scale), bits_of(2.0 + b * 0.001)) << "bin " << b;
    for (int k = 0; k < ica->taps; ++k) {
      const double re = k < 5 ? b + k * 0.01 + 0.0001 : 0.0;
      const double im = k < 5 ? -(b + k * 0.01 + 0.0002) : 0.0;
      EXPECT_EQ(bits_of(ica->coef[2 * k]), bits_of(re)) << "bin " << b << " tap " << k;
      EXPECT_EQ(bits_of(ica->coef[2 * k + 1]), bits_of(im)) << "bin " << b << " tap " << k;
    }
  }
  delete_SemiBlind(loaded.bank, nullptr);
}

TEST(SemiBlindStateFile, RisingTapsReadAndWriteOnlyWhatABinHolds) {
  // Bins hold 2, 3, 4, 5, 6 taps; the file holds 4 per bin.
  SemiBlind* bank = make_bank(nullptr, 8, 2, 7);
  fill_distinct(bank);
  const std::vector<unsigned char> bytes = save(bank);
  ASSERT_EQ(bytes.size(), 8u + 5u * (16u + 16u * 4u));
  // Bin 0 pads its two missing taps with zeros.
  for (std::size_t offset = 8 + 16 + 32; offset < 8 + 16 + 64; offset += 8) {
    EXPECT_EQ(f64_at(bytes, offset), 0.0) << offset;
  }
  EXPECT_EQ(f64_at(bytes, 8 + 16 + 16), 0.0 + 0.01 + 0.0001);

  Load loaded = load(bytes, 8, 2, 7);
  ASSERT_NE(loaded.bank, nullptr);
  EXPECT_EQ(loaded.printed, "8 4 6\n");
  for (int b = 0; b < 5; ++b) {
    const FD_ICA* ica = loaded.bank->bins[b];
    EXPECT_EQ(ica->out_scale, 1.0 + b * 0.001) << "bin " << b;
    for (int k = 0; k < ica->taps; ++k) {
      const double re = k < 4 ? b + k * 0.01 + 0.0001 : 0.0;
      EXPECT_EQ(ica->coef[2 * k], re) << "bin " << b << " tap " << k;
    }
  }
  delete_SemiBlind(loaded.bank, nullptr);
}

TEST(SemiBlindStateFile, MoreStoredTapsThanTakenStaysInStep) {
  // S 9 against a top bin of 5: each bin takes 5 and skips 4.
  std::vector<unsigned char> bytes = layout(512, 9).bytes();
  bytes.push_back(0xAB);  // trailing bytes are ignored
  Load loaded = load(bytes, 512, 8, 5);
  ASSERT_NE(loaded.bank, nullptr);
  EXPECT_EQ(loaded.printed, "512 5 5\n");
  for (int b = 0; b <= 256; ++b) {
    const FD_ICA* ica = loaded.bank->bins[b];
    EXPECT_EQ(ica->out_scale, 10.0 + b) << "bin " << b;
    EXPECT_EQ(ica->ref_scale, 20.0 + b) << "bin " << b;
    for (int k = 0; k < 5; ++k) {
      EXPECT_EQ(ica->coef[2 * k], b * 100.0 + k);
      EXPECT_EQ(ica->coef[2 * k + 1], -(b * 100.0 + k));
    }
    for (int k = 5; k < ica->taps; ++k) {
      EXPECT_EQ(ica->coef[2 * k], 0.0);
    }
  }
  delete_SemiBlind(loaded.bank, nullptr);

  // Fewer stored than the top bin holds: K = S.
  loaded = load(layout(16, 2).bytes(), 16, 4, 4);
  ASSERT_NE(loaded.bank, nullptr);
  EXPECT_EQ(loaded.printed, "16 2 4\n");
  EXPECT_EQ(loaded.bank->bins[8]->coef[2], 801.0);
  EXPECT_EQ(loaded.bank->bins[8]->coef[4], 0.0);
  delete_SemiBlind(loaded.bank, nullptr);

  // S 0: only the scales.
  loaded = load(layout(16, 0).bytes(), 16, 4, 4);
  ASSERT_NE(loaded.bank, nullptr);
  EXPECT_EQ(loaded.printed, "16 0 4\n");
  EXPECT_EQ(loaded.bank->bins[8]->ref_scale, 28.0);
  delete_SemiBlind(loaded.bank, nullptr);
}

TEST(SemiBlindStateFile, MismatchedLengthIsRejected) {
  Load loaded = load(layout(1024, 6).bytes(), 512, 8, 5);
  EXPECT_EQ(loaded.bank, nullptr);
  EXPECT_FALSE(loaded.closed);
  EXPECT_EQ(loaded.printed, "mismatch of nfft.\n");
}

TEST(SemiBlindStateFile, TruncatedFilesAreRejected) {
  const std::vector<unsigned char> whole = layout(16, 6).bytes();  // 9 blocks of 112
  ASSERT_EQ(whole.size(), 8u + 9u * 112u);
  // Cut in the length, in S, in a scale, in the taps taken (K = 4) and in
  // the taps skipped, at the very end.
  const std::size_t cuts[] = {0, 2, 6, 8 + 5, 8 + 112 * 3 + 20, 8 + 112 * 8 + 16 + 70,
                              whole.size() - 1};
  for (std::size_t cut : cuts) {
    const std::vector<unsigned char> bytes(whole.begin(), whole.begin() + cut);
    Load loaded = load(bytes, 16, 4, 4);
    EXPECT_EQ(loaded.bank, nullptr) << "cut at " << cut;
    EXPECT_FALSE(loaded.closed) << "cut at " << cut;
    EXPECT_NE(loaded.printed.find("SemiBlind: state file is truncated"), std::string::npos)
        << loaded.printed;
  }
  Load loaded = load(whole, 16, 4, 4);
  EXPECT_NE(loaded.bank, nullptr);
  delete_SemiBlind(loaded.bank, nullptr);
}

TEST(SemiBlindStateFile, BadTapCountsAreRejected) {
  std::vector<unsigned char> bytes = layout(16, 0).bytes();
  const std::int32_t minus_one = -1;
  std::memcpy(bytes.data() + 4, &minus_one, 4);
  Load negative = load(bytes, 16, 4, 4);
  EXPECT_EQ(negative.bank, nullptr);
  EXPECT_FALSE(negative.closed);
  EXPECT_EQ(negative.printed,
            "16 -1 4\nSemiBlind: state file has an invalid tap count; nothing loaded.\n");

  // A huge count meets the end of the file, not a huge read.
  const std::int32_t huge = std::numeric_limits<std::int32_t>::max();
  std::memcpy(bytes.data() + 4, &huge, 4);
  Load absurd = load(bytes, 16, 4, 4);
  EXPECT_EQ(absurd.bank, nullptr);
  EXPECT_FALSE(absurd.closed);
  EXPECT_EQ(absurd.printed.rfind("16 4 4\n", 0), 0u);
}

TEST(SemiBlindStateFile, NonFiniteValuesAreRejected) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    std::size_t offset;
    double value;
  };
  // A scale, a tap taken, a tap skipped (S 6, K 4): all in bin 5.
  const std::size_t block = 8 + 5 * 112;
  for (const Case& c : {Case{block, nan}, Case{block + 8, -inf}, Case{block + 16 + 24, inf},
                        Case{block + 16 + 16 * 5, nan}}) {
    std::vector<unsigned char> bytes = layout(16, 6).bytes();
    std::memcpy(bytes.data() + c.offset, &c.value, sizeof c.value);
    Load loaded = load(bytes, 16, 4, 4);
    EXPECT_EQ(loaded.bank, nullptr) << "offset " << c.offset;
    EXPECT_FALSE(loaded.closed);
    EXPECT_NE(loaded.printed.find("not finite"), std::string::npos) << loaded.printed;
  }
}

TEST(SemiBlindStateFile, UnreadableStreamIsRejected) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* write_only = open_memstream(&buffer, &size);
  ASSERT_NE(write_only, nullptr);
  testing::internal::CaptureStdout();
  SemiBlind* bank = make_bank(write_only, 16, 4, 4);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(bank, nullptr);
  EXPECT_NE(printed.find("truncated or unreadable"), std::string::npos) << printed;
  std::fclose(write_only);  // still open: the reader does not close on failure
  std::free(buffer);
}
