#include "voice_cancel/FD_ICA.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

// A draw in [0, 0.001] that keeps the nonlinearity's divisor off zero.
double small_random() { return (double(std::rand()) * 0.001) / 2147483647.0; }

// Smallest power of two, at least 2, that holds `span` samples; 0 when
// none up to 2^31 does.
std::int64_t ring_size_for(std::int64_t span) {
  for (std::int64_t n = 2; n <= (std::int64_t(1) << 31); n *= 2) {
    if (n >= span) {
      return n;
    }
  }
  return 0;
}

}  // namespace

FD_ICA* new_FD_ICA(int taps, int tap_spacing, double init_out_scale, double init_ref_scale,
                   double step, double out_scale_rate, double ref_scale_rate, double mean_rate,
                   double power_floor) {
  if (taps <= 0 || tap_spacing <= 0) {
    return nullptr;
  }
  const std::int64_t ring = ring_size_for(std::int64_t(taps) * tap_spacing);
  if (ring == 0) {
    return nullptr;
  }

  FD_ICA* ica = static_cast<FD_ICA*>(std::calloc(1, sizeof(FD_ICA)));
  if (ica == nullptr) {
    return nullptr;
  }
  ica->coef = static_cast<double*>(std::calloc(std::size_t(taps) * 2, sizeof(double)));
  ica->ref_history = static_cast<double*>(std::calloc(std::size_t(ring) * 2, sizeof(double)));
  ica->norm_ref_history = static_cast<double*>(std::calloc(std::size_t(ring) * 2, sizeof(double)));
  if (ica->coef == nullptr || ica->ref_history == nullptr || ica->norm_ref_history == nullptr) {
    delete_FD_ICA(ica);
    return nullptr;
  }

  ica->taps = taps;
  ica->pos = 0;
  ica->tap_spacing = tap_spacing;
  ica->ring_mask = int(ring - 1);
  ica->out_scale = init_out_scale;
  ica->ref_scale = init_ref_scale;
  ica->step = step;
  ica->out_scale_rate = out_scale_rate;
  ica->ref_scale_rate = ref_scale_rate;
  ica->mean_rate = mean_rate;
  ica->power_floor = power_floor < 0.0 ? 1e-10 : power_floor;
  return ica;
}

int cancel_FD_ICA(FD_ICA* ica, const double* mixture, double* output, const double* reference,
                  int count) {
  const int taps = ica->taps;
  const int spacing = ica->tap_spacing;
  const int mask = ica->ring_mask;
  double* const coef = ica->coef;
  double* const hist = ica->ref_history;
  double* const norm_hist = ica->norm_ref_history;

  for (int i = 0; i < count; ++i) {
    // Read both inputs before writing: the output may alias either.
    const double x_re = reference[2 * i];
    const double x_im = reference[2 * i + 1];
    const double m_re = mixture[2 * i];
    const double m_im = mixture[2 * i + 1];
    const int h = ica->pos;

    hist[2 * h] = x_re;
    hist[2 * h + 1] = x_im;

    // Too little reference power: pass the mixture through, adapt nothing;
    // the next sample reuses this slot.
    if (ica->power_floor > x_re * x_re + x_im * x_im) {
      output[2 * i] = m_re;
      output[2 * i + 1] = m_im;
      continue;
    }

    double y_re = 0.0;
    double y_im = 0.0;
    for (int k = 0; k < taps; ++k) {
      const int slot = (h - k * spacing) & mask;
      const double a = coef[2 * k];
      const double b = coef[2 * k + 1];
      const double c = hist[2 * slot];
      const double d = hist[2 * slot + 1];
      y_re = y_re + (a * c - b * d);
      y_im = y_im + (a * d + b * c);
    }

    const double out_re = m_re - y_re;
    const double out_im = m_im - y_im;
    output[2 * i] = out_re;
    output[2 * i + 1] = out_im;

    const double e_re = (out_re - ica->out_mean_re) * ica->out_scale;
    const double e_im = (out_im - ica->out_mean_im) * ica->out_scale;

    const double z0_re = (x_re - ica->ref_mean_re) * ica->ref_scale;
    const double z0_im = (x_im - ica->ref_mean_im) * ica->ref_scale;
    norm_hist[2 * h] = z0_re;
    norm_hist[2 * h + 1] = z0_im;

    const double r1 = small_random();
    const double t = std::sqrt(e_re * e_re + e_im * e_im) + r1;
    const double g = std::tanh(t);
    // A zero output with a zero draw carries no direction: no update rather
    // than 0/0, which would poison the taps for good.
    double phi_re = 0.0;
    double phi_im = 0.0;
    if (t != 0.0) {
      phi_re = (e_re * g) / t;
      phi_im = (e_im * g) / t;
    }

    const double r2 = small_random();
    const double v = std::sqrt(z0_re * z0_re + z0_im * z0_im) + r2;
    const double gv = std::tanh(v);

    const double step = ica->step;
    for (int k = 0; k < taps; ++k) {
      const int slot = (h - k * spacing) & mask;
      const double z_re = norm_hist[2 * slot];
      const double z_im = norm_hist[2 * slot + 1];
      coef[2 * k] = coef[2 * k] + step * (phi_re * z_re + phi_im * z_im);
      coef[2 * k + 1] = coef[2 * k + 1] + step * (phi_im * z_re - phi_re * z_im);
    }

    ica->out_scale = ica->out_scale + ((1.0 - g * t) * ica->out_scale_rate) * ica->out_scale;
    ica->out_scale = std::fabs(ica->out_scale);
    ica->ref_scale = ica->ref_scale + ((1.0 - gv * v) * ica->ref_scale_rate) * ica->ref_scale;
    ica->ref_scale = std::fabs(ica->ref_scale);

    ica->out_mean_re = ica->out_mean_re + (out_re - ica->out_mean_re) * ica->mean_rate;
    ica->out_mean_im = ica->out_mean_im + (out_im - ica->out_mean_im) * ica->mean_rate;
    ica->ref_mean_re = ica->ref_mean_re + (x_re - ica->ref_mean_re) * ica->mean_rate;
    ica->ref_mean_im = ica->ref_mean_im + (x_im - ica->ref_mean_im) * ica->mean_rate;

    ica->pos = (ica->pos + 1) & mask;
  }
  return 0;
}

void delete_FD_ICA(FD_ICA* ica) {
  if (ica == nullptr) {
    return;
  }
  std::free(ica->coef);
  std::free(ica->ref_history);
  std::free(ica->norm_ref_history);
  std::free(ica);
}
