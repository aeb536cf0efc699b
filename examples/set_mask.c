/* Masks standard input to standard output with libhushset. */
#include <hushset.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(void) {
  const char *secrets[] = {"hunter2", "s3cr3t-token"};
  hushset *set = hushset_new(NULL); /* defaults: at most 3 '*' a run, the default encoded forms */
  if (!set) return 1;
  for (int i = 0; i < 2; ++i) {
    if (hushset_add(set, (const uint8_t *)secrets[i], strlen(secrets[i]))) return 1;
  }
  if (hushset_build(set)) return 1; /* statuses: 0 is HUSHSET_OK */

  /* A write of n bytes needs room for n plus what the stream holds back. */
  enum { CHUNK = 4096 };
  uint8_t in[CHUNK], *out = malloc(CHUNK + hushset_hold_limit(set));
  hushset_stream *stream = hushset_stream_new(set);
  if (!out || !stream) return 1;
  size_t n;
  uint64_t out_len;
  while ((n = fread(in, 1, CHUNK, stdin)) > 0) {
    if (hushset_write(stream, in, n, out, CHUNK + hushset_hold_limit(set), &out_len)) return 1;
    fwrite(out, 1, out_len, stdout);
  }
  if (hushset_finish(stream, out, CHUNK + hushset_hold_limit(set), &out_len)) return 1;
  fwrite(out, 1, out_len, stdout); /* the held-back tail */

  hushset_stream_destroy(stream);
  hushset_destroy(set);
  free(out);
  return 0;
}
