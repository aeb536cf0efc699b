/* A C program that uses an installed hushmask the way any host would: found
 * through pkg-config (or find_package), nothing defined, nothing but the
 * public header.  Masks one text whole and cut in two, and checks both. */
#include <hushmask.h>

#include <stdio.h>
#include <string.h>

static int check(const char *what, const uint8_t *got, uint64_t got_len, const char *expected) {
  if (got_len != strlen(expected) || (got_len != 0 && memcmp(got, expected, got_len) != 0)) {
    fprintf(stderr, "%s: got \"%.*s\", expected \"%s\"\n", what, (int)got_len, (const char *)got,
            expected);
    return 1;
  }
  return 0;
}

int main(void) {
  static const char secret[] = "hunter2";
  static const char text[] = "login ok, password=hunter2, bye";
  static const char expected[] = "login ok, password=***, bye";
  const size_t cut = 22; /* inside the secret */
  uint8_t streamed[64];
  uint64_t streamed_len = 0;
  uint8_t *out = NULL;
  uint64_t out_len = 0;
  const uint8_t *held;
  uint64_t held_len = 0;
  int failures = 0;
  hush_masker *masker = hush_new();

  if (masker == NULL || hush_insert(masker, (const uint8_t *)secret, strlen(secret)) != 0 ||
      hush_build(masker) != 0) {
    fprintf(stderr, "out of memory\n");
    return 1;
  }

  if (hush_mask(masker, (const uint8_t *)text, strlen(text), 3, 0, &out, &out_len) != 0) {
    return 1;
  }
  failures += check("whole text", out, out_len, expected);
  hush_free(out, out_len);

  /* The same text as a stream of two chunks. */
  if (hush_mask(masker, NULL, 0, 0, 0, &out, &out_len) != 0) { /* start afresh */
    return 1;
  }
  if (hush_mask(masker, (const uint8_t *)text, cut, 3, 1, &out, &out_len) != 0) {
    return 1;
  }
  memcpy(streamed, out, (size_t)out_len);
  streamed_len = out_len;
  hush_free(out, out_len);
  if (hush_mask(masker, (const uint8_t *)text + cut, strlen(text) - cut, 3, 1, &out, &out_len) != 0) {
    return 1;
  }
  memcpy(streamed + streamed_len, out, (size_t)out_len);
  streamed_len += out_len;
  hush_free(out, out_len);
  held = hush_get_reminder(masker, &held_len);
  if (held_len != 0) {
    memcpy(streamed + streamed_len, held, (size_t)held_len);
  }
  streamed_len += held_len;
  hush_reset_reminder(masker);
  failures += check("two chunks", streamed, streamed_len, expected);

  hush_destroy(masker);
  if (failures == 0) {
    printf("c consumer: ok\n");
  }
  return failures == 0 ? 0 : 1;
}
