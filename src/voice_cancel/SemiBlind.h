#ifndef VOICE_CANCEL_SEMI_BLIND_H
#define VOICE_CANCEL_SEMI_BLIND_H

#include <stdio.h>

#include "voice_cancel/FD_ICA.h"

/* A bank of per-bin cancellers for an STFT of length nfft (nfft/2 + 1 bins),
 * with tap counts falling or rising linearly from first_taps at bin 0
 * towards last_taps at the top bin.
 *
 * State file (native byte order): int32 nfft, int32 S, then per bin
 * out_scale, ref_scale (doubles) and S taps as (re, im) double pairs. */

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SemiBlind {
  int nfft;
  int stored_taps; /* taps per bin in the state file */
  FD_ICA **bins;   /* nfft/2 + 1 cancellers */
} SemiBlind;

/* Builds the bank and, when state_in is not NULL, loads learned state from
 * it, closing it on success. Returns NULL (stream left open) when nfft, a
 * tap count or tap_spacing is not positive, when memory runs out, or when
 * the stream does not hold a well-formed state file for this FFT length. */
SemiBlind *new_SemiBlind(FILE *state_in, int nfft, int first_taps, int last_taps,
                         int tap_spacing, double init_out_scale, double init_ref_scale,
                         double step, double out_scale_rate, double ref_scale_rate,
                         double mean_rate, double power_floor);

/* mixture, output and reference are arrays of nfft/2 + 1 rows, row b
 * holding count complex samples of bin b. Bins 0 and 1 are not processed
 * and their output rows are not written. Returns 0. */
int separate_SemiBlind(SemiBlind *sb, double **mixture, double **output, double **reference,
                       int count);

/* Writes the state file to state_out when it is not NULL (the stream stays
 * open), then releases the bank. Accepts NULL. */
void delete_SemiBlind(SemiBlind *sb, FILE *state_out);

#ifdef __cplusplus
}
#endif

#endif
