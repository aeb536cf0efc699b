/*
 * hushmask: mask known secret strings in text, whole or as a stream of chunks.
 *
 * A host registers its secrets on a handle, completes the matching automaton
 * once, then passes text through it.  Every masking call returns a fresh copy
 * of its input in which each run of secret bytes (a maximal chain of matches
 * that overlap by at least one byte) is replaced by at most `max_stars` bytes
 * '*' (0x2A).  Matching is exact and byte-wise; no byte value is special and
 * no terminator is ever read or written.
 *
 * Calling order on one handle:
 *   hush_new -> hush_insert (any number of times) -> hush_build ->
 *   hush_mask (any number of times) -> hush_destroy.
 * hush_get_reminder and hush_reset_reminder may be called at any time in
 * between.  Every output buffer of hush_mask is given back with hush_free, in
 * any order, before or after hush_destroy.
 *
 * Threads: the library starts none and takes no locks.  One handle is used by
 * one thread at a time with no overlapping calls; different handles are
 * independent.  hush_free touches no handle.
 *
 * Failure: the only failures are exhausted memory and an exhausted node index
 * space (2^32 nodes per handle).  They are reported as -1 (or null from
 * hush_new); the handle stays usable and nothing already registered or
 * already handed out is lost.  Nothing is printed and nothing aborts.
 *
 * No function checks its handle: passing null or a destroyed handle is
 * undefined behaviour.
 */
#ifndef HUSHMASK_H
#define HUSHMASK_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(HUSHMASK_BUILDING)
#    define HUSHMASK_API __declspec(dllexport)
#  else
#    define HUSHMASK_API
#  endif
#elif defined(HUSHMASK_BUILDING)
#  define HUSHMASK_API __attribute__((visibility("default")))
#else
#  define HUSHMASK_API
#endif

/* The functions never throw; C++ callers may rely on it. */
#if defined(__cplusplus)
#  define HUSHMASK_NOEXCEPT noexcept
#else
#  define HUSHMASK_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The handle.  Opaque: its layout is the library's own. */
typedef struct hush_masker hush_masker;

/*
 * Creates a handle with no secrets, no held-back bytes and the walk at its
 * start.  Returns null when memory is exhausted.  Release it with
 * hush_destroy.
 */
HUSHMASK_API hush_masker *hush_new(void) HUSHMASK_NOEXCEPT;

/*
 * Registers one secret: `len` bytes at `secret`, any byte values.  The
 * library keeps no reference to `secret`; the host may reuse it at once.
 * A length of 0 does nothing and returns 0 (then `secret` is not read and
 * may be null).  Registering a secret twice is harmless.
 *
 * Returns 0 on success, -1 when memory or the node index space is
 * exhausted; then the secret is not registered, the handle stays usable and
 * the same call can be retried.
 *
 * Call hush_build after the last insertion and before masking: a secret
 * inserted after hush_build is fully in force only after the next
 * hush_build.
 */
HUSHMASK_API int32_t hush_insert(hush_masker *masker, const uint8_t *secret, uint64_t len) HUSHMASK_NOEXCEPT;

/*
 * Completes the automaton over every secret inserted so far.  May be called
 * again after more insertions; it recomputes everything.  Before the first
 * hush_build, hush_mask masks nothing.
 *
 * Returns 0 on success, -1 when memory is exhausted; the handle stays usable
 * and a later successful call leaves the same state as one that never
 * failed.
 */
HUSHMASK_API int32_t hush_build(hush_masker *masker) HUSHMASK_NOEXCEPT;

/*
 * Masks one text, or one chunk of a stream.
 *
 * `text` holds `text_len` bytes; it is not read when `text_len` is 0 (then
 * it may be null).  Each run of matched secret bytes becomes
 * min(run length, max_stars) bytes '*'; max_stars 0 removes secrets.  Only
 * bit 0 of `streaming` is read; every byte value is legal.
 *
 * On success returns 0 and stores the output through `out` and `out_len`.
 * The output is a new block that the host owns from then on, also after
 * hush_destroy, and gives back with hush_free(*out, *out_len).  An empty
 * output is stored as a null pointer with length 0.  The block may be larger
 * than `*out_len`.  Both `out` and `out_len` must point to writable storage.
 *
 * Returns -1 when memory is exhausted (or when the held-back bytes plus
 * `text_len` would not fit in 64 bits); then neither `*out` nor `*out_len`
 * is written and, for a streaming call, nothing in the handle has changed:
 * the same chunk can be passed again.  A non-streaming call that fails has
 * still dropped any held-back bytes and put the walk at its start.
 *
 * Non-streaming (bit 0 clear): the text is masked on its own.  Any
 * held-back bytes of an earlier stream are dropped unread and the walk
 * starts afresh; nothing is held back at the end.
 *
 * Streaming (bit 0 set): the walk continues from where the previous call
 * stopped, so a secret split across chunks is still masked.  The tail of the
 * output that may still turn into a secret is held back in the handle (at
 * most as long as the longest secret) and put in front of the next chunk's
 * output.  The stream protocol is:
 *   1. pass every chunk with the streaming bit set, the last one included,
 *      using the same max_stars throughout, and use each output in order;
 *   2. append the bytes of hush_get_reminder: they are final output;
 *   3. call hush_reset_reminder.
 * The concatenated result is then byte for byte the output of one
 * non-streaming call over the whole text, however the text was cut.
 * A new stream starts on a fresh handle or after a non-streaming call with
 * an empty text (text_len 0), which resets the walk and holds nothing back.
 *
 * A streaming call that finds the walk away from its start without the
 * matching held-back bytes in front of it (after hush_reset_reminder, after
 * a non-streaming call over a non-empty text) keeps the walk going, as the
 * protocol above expects; a secret completed there may have begun in bytes
 * the host already owns, so only the bytes inside this call's output are
 * masked.  No call ever writes outside its own buffers.
 */
HUSHMASK_API int32_t hush_mask(hush_masker *masker, const uint8_t *text, uint64_t text_len,
                               uint64_t max_stars, uint8_t streaming, uint8_t **out,
                               uint64_t *out_len) HUSHMASK_NOEXCEPT;

/*
 * Gives an output buffer of hush_mask back to the heap.  Pass the pointer
 * and length that hush_mask stored.  Does nothing when `buffer` is null or
 * `len` is 0, so every successful output can be passed here untested.
 * Touches no handle; may be called after hush_destroy.
 */
HUSHMASK_API void hush_free(uint8_t *buffer, uint64_t len) HUSHMASK_NOEXCEPT;

/*
 * Returns the bytes held back at the end of the last streaming call and
 * stores their count through `len`; returns null and stores 0 when nothing
 * is held back.  The pointer is lent, not given: it stays valid until the
 * next hush_mask, hush_reset_reminder or hush_destroy on this handle, and
 * the host must not free it.  The handle is not changed.
 */
HUSHMASK_API const uint8_t *hush_get_reminder(const hush_masker *masker, uint64_t *len) HUSHMASK_NOEXCEPT;

/*
 * Drops the held-back bytes, if any.  Changes nothing else: the walk stays
 * where it was (see hush_mask for how to start a new stream).
 */
HUSHMASK_API void hush_reset_reminder(hush_masker *masker) HUSHMASK_NOEXCEPT;

/*
 * Releases the handle and everything it owns, held-back bytes included.
 * Output buffers returned earlier stay valid.  A null handle is ignored.
 */
HUSHMASK_API void hush_destroy(hush_masker *masker) HUSHMASK_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* HUSHMASK_H */
