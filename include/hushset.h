/*
 * hushset: mask every occurrence of a set of secrets, and of the forms they
 * take in logs, in text given whole or as streams of writes.
 *
 * A host adds its secrets to a set, builds it once, and masks with it: whole
 * texts with hushset_mask, or any number of independent streams, each made
 * with hushset_stream_new and fed with hushset_write.  Output always goes
 * into a buffer the caller supplies; no call allocates per text.
 *
 * The masking rule.  The forms of a set are its secrets and the derived
 * forms its options enable (HUSHSET_FORM_* below), less those shorter than
 * `min_length`.  Every occurrence of a form counts, also one that lies inside
 * another form or inside a partial copy of a longer one.  Occurrences that
 * share at least one byte are joined, directly or through others, into runs;
 * occurrences that only touch (one ends right before the next begins) stay
 * separate runs.  The output is the text with each run replaced by
 * min(run span, max_stars) bytes '*' (0x2A); max_stars 0 removes runs.
 * Bytes outside runs are copied unchanged.  Matching is exact and byte-wise:
 * no byte value is special and no terminator is read or written.
 *
 * Streams.  The outputs of hushset_write over any cutting of a text,
 * followed by hushset_finish, are byte for byte the output of hushset_mask
 * over the whole text.  A stream holds back at most hushset_hold_limit(set)
 * bytes: the tail that may still turn into a secret.
 *
 * Statuses.  Every function that can fail returns one of the HUSHSET_*
 * statuses.  On any status other than HUSHSET_OK nothing has changed: no
 * secret added or lost, no byte of a stream consumed or emitted, nothing
 * written into the output buffer, and the same call may be retried.
 *
 * Threads.  The library starts no threads.  A built set is only read while
 * it masks, so hushset_mask and writes on different streams of one set may
 * run on different threads at the same time, and streams may be created and
 * destroyed meanwhile.  One stream is used by one thread at a time.
 * hushset_add and hushset_build may be called while streams exist, as long as
 * no other call on the set or on any of its streams runs at the same time.
 *
 * Memory hygiene.  Every block that held secret bytes (the compiled
 * automaton, pending secrets and forms, held-back and working bytes) is
 * overwritten before it is released or moved.  Output bytes past the length
 * a call reports are overwritten too, so the caller's buffer never keeps a
 * stray copy of a masked secret.
 *
 * Nothing is printed, no file or environment variable is read, and nothing
 * aborts.  Functions do not check that a non-null handle is live: a
 * destroyed handle is undefined behaviour.
 */
#ifndef HUSHSET_H
#define HUSHSET_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(HUSHSET_BUILDING)
#    define HUSHSET_API __declspec(dllexport)
#  else
#    define HUSHSET_API
#  endif
#elif defined(HUSHSET_BUILDING)
#  define HUSHSET_API __attribute__((visibility("default")))
#else
#  define HUSHSET_API
#endif

/* The functions never throw; C++ callers may rely on it. */
#if defined(__cplusplus)
#  define HUSHSET_NOEXCEPT noexcept
#else
#  define HUSHSET_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses. */
#define HUSHSET_OK 0
/* Memory exhausted (or a size that does not fit in 64 bits): nothing
   changed, the same call may be retried. */
#define HUSHSET_NOMEM (-1)
/* The caller's output buffer is too small: nothing changed, nothing
   written into it, and the capacity the call needs is stored in *out_len. */
#define HUSHSET_SHORT_BUFFER (-2)
/* A bad argument: a null handle or out_len, a null pointer with a non-zero
   length, or masking with a set that was never built. */
#define HUSHSET_INVALID (-3)

/* Derived forms, bits of hushset_options.forms.  Each registers, for every
   secret added (and, with HUSHSET_FORM_LINES, for each of its lines):
   HUSHSET_FORM_LINES      for a secret holding CR or LF: each line (split at
                           CRLF, LF or a lone CR), also with leading and
                           trailing whitespace trimmed, whitespace-only lines
                           left out; and the whole value with its line ends
                           written as LF and as CRLF.
   HUSHSET_FORM_BASE64     standard base64 at each of the three byte
                           alignments, without the edge characters that
                           depend on neighbouring bytes, so that it is found
                           inside longer blobs.
   HUSHSET_FORM_BASE64URL  the same in the URL-safe alphabet.
   HUSHSET_FORM_URL        percent-encoding as common encoders write it, in
                           upper- and lower-case hex.
   HUSHSET_FORM_JSON       the value inside a JSON string as common encoders
                           write it.
   HUSHSET_FORM_XML        XML and HTML text and attribute escaping.
   HUSHSET_FORM_SHELL      the value as shells print it when tracing
                           commands. */
#define HUSHSET_FORM_LINES (1u << 0)
#define HUSHSET_FORM_BASE64 (1u << 1)
#define HUSHSET_FORM_BASE64URL (1u << 2)
#define HUSHSET_FORM_URL (1u << 3)
#define HUSHSET_FORM_JSON (1u << 4)
#define HUSHSET_FORM_XML (1u << 5)
#define HUSHSET_FORM_SHELL (1u << 6)
#define HUSHSET_FORMS_ALL (0x7Fu)
#define HUSHSET_FORMS_DEFAULT                                                                       \
  (HUSHSET_FORM_LINES | HUSHSET_FORM_BASE64 | HUSHSET_FORM_URL | HUSHSET_FORM_JSON | HUSHSET_FORM_XML | \
   HUSHSET_FORM_SHELL)

/* Diagnostic codes, for hushset_options.diagnostic. */
/* A form (or the secret itself) shorter than min_length was left out. */
#define HUSHSET_DIAG_TOO_SHORT 1
/* A whitespace-only line of a multi-line secret was left out. */
#define HUSHSET_DIAG_BLANK_LINE 2

/* A set: its secrets and forms, and the automaton compiled from them. */
typedef struct hushset hushset;
/* The state of one stream over a set. */
typedef struct hushset_stream hushset_stream;

typedef struct hushset_options {
  /* sizeof(hushset_options), so that the record can grow. */
  uint32_t size;
  /* HUSHSET_FORM_* bits; HUSHSET_FORMS_DEFAULT by default. */
  uint32_t forms;
  /* The largest number of '*' that replace one run; 3 by default. */
  uint64_t max_stars;
  /* Forms shorter than this many bytes are left out; 4 by default. */
  uint64_t min_length;
  /* Optional: called by hushset_add for every form it leaves out, with a
     HUSHSET_DIAG_* code, the HUSHSET_FORM_* bit of the form (0 for the
     secret itself) and its length in bytes.  Never given the form's bytes.
     It runs inside hushset_add, on its thread, before hushset_add returns. */
  void (*diagnostic)(void *context, int32_t code, uint32_t form, uint64_t length);
  /* Passed to `diagnostic` as is. */
  void *context;
} hushset_options;

/* Fills `options` with the defaults: HUSHSET_FORMS_DEFAULT, max_stars 3,
   min_length 4, no diagnostic callback.  A null pointer is ignored. */
HUSHSET_API void hushset_options_init(hushset_options *options) HUSHSET_NOEXCEPT;

/*
 * Creates an empty set with the given options (copied; null means the
 * defaults).  Returns null when memory is exhausted or the options are
 * invalid: a `size` other than sizeof(hushset_options), or a form bit
 * outside HUSHSET_FORMS_ALL.  Release it with hushset_destroy.
 */
HUSHSET_API hushset *hushset_new(const hushset_options *options) HUSHSET_NOEXCEPT;

/*
 * Adds one secret, `len` bytes at `secret` (any byte values), and the forms
 * of it that the set's options enable.  The set keeps its own copy: the host
 * may overwrite its buffer at once.  A secret added after hushset_build takes
 * effect at the next hushset_build; until then the set masks as before.
 *
 * An empty secret, or one whose every form is shorter than min_length, adds
 * nothing and returns HUSHSET_OK (the diagnostic callback says why).  Adding
 * a secret or a form twice is harmless.
 *
 * Returns HUSHSET_OK; HUSHSET_NOMEM (nothing added); HUSHSET_INVALID for a
 * null set, or a null `secret` with a non-zero `len`.
 */
HUSHSET_API int32_t hushset_add(hushset *set, const uint8_t *secret, uint64_t len) HUSHSET_NOEXCEPT;

/*
 * Compiles every form added so far.  Needed once before masking, and again
 * after later additions; a build with nothing new added does nothing.
 *
 * May run while streams of the set exist (see Threads above): each stream
 * goes on with the rebuilt set at its next write, keeps its held-back bytes,
 * and masks every occurrence of a new form that begins after the build.
 *
 * Returns HUSHSET_OK; HUSHSET_NOMEM, with the set masking exactly as before
 * the call and the added secrets still waiting for the next build;
 * HUSHSET_INVALID for a null set.
 */
HUSHSET_API int32_t hushset_build(hushset *set) HUSHSET_NOEXCEPT;

/*
 * The most bytes a stream of the set holds back: the length of its longest
 * form as last built (0 before the first build, or for a set without
 * forms).  It grows when a build adds longer forms.  A null set gives 0.
 */
HUSHSET_API uint64_t hushset_hold_limit(const hushset *set) HUSHSET_NOEXCEPT;

/*
 * Masks one whole text: `len` bytes at `text` (not read when `len` is 0;
 * then it may be null).  Writes the output into `out`, which must not
 * overlap `text`, and its length into *out_len.  The output is never longer
 * than the text, so `out_cap >= len` always suffices; with a smaller
 * `out_cap` nothing is written into `out`, the capacity needed (`len`) is
 * stored in *out_len and the call returns HUSHSET_SHORT_BUFFER.
 *
 * Reads the set only: calls on one set may run on several threads at once.
 * Needs memory only for sets whose forms nest very deeply (then it may
 * return HUSHSET_NOMEM).
 *
 * Returns HUSHSET_OK; HUSHSET_SHORT_BUFFER; HUSHSET_NOMEM; HUSHSET_INVALID
 * for a null set or out_len, a null text or out with a non-zero length or
 * capacity, or a set that was never built.
 */
HUSHSET_API int32_t hushset_mask(const hushset *set, const uint8_t *text, uint64_t len, uint8_t *out,
                                 uint64_t out_cap, uint64_t *out_len) HUSHSET_NOEXCEPT;

/*
 * Creates a stream over a built set: its own walk, run bookkeeping and
 * held-back bytes.  Returns null when `set` is null, was never built, or
 * memory is exhausted.  Destroy every stream before its set.
 */
HUSHSET_API hushset_stream *hushset_stream_new(const hushset *set) HUSHSET_NOEXCEPT;

/*
 * Masks the next `len` bytes of the stream's text (`text` is not read when
 * `len` is 0).  Writes the output that is final into `out`, which must not
 * overlap `text`, and its length into *out_len; keeps back the tail that may
 * still turn into a secret.  `out_cap >= len + H` suffices, where H is the
 * number of bytes the stream holds back before the call (never more than
 * hushset_hold_limit); with a smaller `out_cap` the call returns
 * HUSHSET_SHORT_BUFFER, writes nothing into `out`, changes nothing and
 * stores len + H in *out_len.  So a buffer of the largest write plus
 * hushset_hold_limit bytes serves every call.
 *
 * The stream allocates only when its held-back buffer must grow, and keeps
 * that buffer until it is destroyed.
 *
 * Returns HUSHSET_OK; HUSHSET_SHORT_BUFFER; HUSHSET_NOMEM (nothing consumed,
 * the same write may be retried); HUSHSET_INVALID for a null stream or
 * out_len, or a null text or out with a non-zero length or capacity.
 */
HUSHSET_API int32_t hushset_write(hushset_stream *stream, const uint8_t *text, uint64_t len, uint8_t *out,
                                  uint64_t out_cap, uint64_t *out_len) HUSHSET_NOEXCEPT;

/*
 * Ends the stream's text: writes the held-back bytes, which are final now,
 * into `out` and their count into *out_len (`out_cap >= H` suffices, H as
 * for hushset_write; below it HUSHSET_SHORT_BUFFER with H in *out_len).
 * The stream is then ready for a new text, which starts at offset 0.
 *
 * Returns HUSHSET_OK; HUSHSET_SHORT_BUFFER; HUSHSET_INVALID for a null
 * stream or out_len, or a null out with a non-zero capacity.
 */
HUSHSET_API int32_t hushset_finish(hushset_stream *stream, uint8_t *out, uint64_t out_cap,
                                   uint64_t *out_len) HUSHSET_NOEXCEPT;

/*
 * Asks to be told of every run of this stream once it is final, in order:
 * its offset in the stream's input (counted from the stream's first byte,
 * or from the last hushset_finish) and its span in input bytes.  Never its
 * bytes.  `run` is called inside hushset_write and hushset_finish, before
 * they return; a null `run` stops the reports.  A null stream is ignored.
 */
HUSHSET_API void hushset_stream_report(hushset_stream *stream,
                                       void (*run)(void *context, uint64_t start, uint64_t span),
                                       void *context) HUSHSET_NOEXCEPT;

/* Releases a stream and its held-back bytes (which are lost unread).  A null
   stream is ignored. */
HUSHSET_API void hushset_stream_destroy(hushset_stream *stream) HUSHSET_NOEXCEPT;

/* Releases a set and everything it holds.  Every stream of it must have been
   destroyed.  A null set is ignored. */
HUSHSET_API void hushset_destroy(hushset *set) HUSHSET_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* HUSHSET_H */
