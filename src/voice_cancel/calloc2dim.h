#ifndef VOICE_CANCEL_CALLOC2DIM_H
#define VOICE_CANCEL_CALLOC2DIM_H

#ifdef __cplusplus
extern "C" {
#endif

/* One zero-filled block: a table of `rows` row pointers followed by `rows`
 * rows of `cols` elements of `elem_size` bytes each. Release it with a single
 * free(). The size is computed in 32-bit unsigned arithmetic; a size that
 * does not fit, or a failed allocation, gives NULL. */
void **calloc2dim(unsigned elem_size, unsigned rows, unsigned cols);

#ifdef __cplusplus
}
#endif

#endif
