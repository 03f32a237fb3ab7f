#ifndef VOICE_CANCEL_FD_ICA_H
#define VOICE_CANCEL_FD_ICA_H

/* Adaptive canceller of one frequency bin: a complex FIR filter over the
 * recent reference frames is subtracted from the mixture, and its taps are
 * adapted so that the output becomes independent of the reference.
 *
 * Complex values are (re, im) pairs of doubles; an array of n complex values
 * is an array of 2n doubles. */

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FD_ICA {
  int taps;                 /* number of complex filter taps L */
  double *coef;             /* L complex taps */
  double *ref_history;      /* ring of raw reference samples */
  double *norm_ref_history; /* ring of normalised reference samples */
  int pos;                  /* ring slot of the current sample */
  int tap_spacing;          /* frames between two taps */
  int ring_mask;            /* ring size - 1; the ring size is a power of two */
  double out_scale;
  double ref_scale;
  double out_mean_re, out_mean_im;
  double ref_mean_re, ref_mean_im;
  double step;
  double out_scale_rate;
  double ref_scale_rate;
  double mean_rate;
  double power_floor; /* reference power below which a sample does not adapt */
} FD_ICA;

/* NULL when taps or tap_spacing is not positive, when taps * tap_spacing
 * exceeds 2^31, or when memory runs out. A negative power_floor becomes
 * 1e-10. */
FD_ICA *new_FD_ICA(int taps, int tap_spacing, double init_out_scale, double init_ref_scale,
                   double step, double out_scale_rate, double ref_scale_rate, double mean_rate,
                   double power_floor);

/* Processes count samples; output may alias mixture or reference. Draws two
 * values from rand() per adapted sample. Returns 0. */
int cancel_FD_ICA(FD_ICA *ica, const double *mixture, double *output, const double *reference,
                  int count);

/* Accepts NULL. */
void delete_FD_ICA(FD_ICA *ica);

#ifdef __cplusplus
}
#endif

#endif
