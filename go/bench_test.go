package hushmask_test

import (
	"fmt"
	"io"
	"math/rand"
	"strings"
	"testing"

	"hushmask"
)

// The masking a Go runner often does by hand: a strings.Replacer over the
// same secrets, each replaced by "***", per write.  It reads each write on
// its own, so it misses a secret cut across two writes, and it does not join
// overlapping secrets; it is here for its speed.

// benchLog is a CI-log-like text with a secret on about one line in fifty.
func benchLog(secrets []string, size int) string {
	rng := rand.New(rand.NewSource(1))
	words := []string{"INFO", "build", "step", "ok", "compiling", "src/main.go", "linking", "[42/118]", "cache", "hit"}
	var b strings.Builder
	for b.Len() < size {
		fmt.Fprintf(&b, "2026-12-08T10:%02d:%02dZ ", rng.Intn(60), rng.Intn(60))
		for k := 0; k < 8; k++ {
			b.WriteString(words[rng.Intn(len(words))])
			b.WriteByte(' ')
		}
		if rng.Intn(50) == 0 {
			b.WriteString(secrets[rng.Intn(len(secrets))])
		}
		b.WriteByte('\n')
	}
	return b.String()[:size]
}

func benchSecrets(n int) []string {
	rng := rand.New(rand.NewSource(2))
	const alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-"
	secrets := make([]string, n)
	for i := range secrets {
		b := make([]byte, 8+rng.Intn(57))
		for k := range b {
			b[k] = alphabet[rng.Intn(len(alphabet))]
		}
		secrets[i] = string(b)
	}
	return secrets
}

const benchText = 1 << 20

func BenchmarkWriter(b *testing.B) {
	for _, secrets := range []int{10, 1000} {
		for _, write := range []int{100, 64 << 10} {
			b.Run(fmt.Sprintf("secrets=%d/write=%d", secrets, write), func(b *testing.B) {
				list := benchSecrets(secrets)
				text := []byte(benchLog(list, benchText))
				raw := make([][]byte, len(list))
				for i, s := range list {
					raw[i] = []byte(s)
				}
				set, err := hushmask.NewSet(raw, hushmask.Options{Forms: hushmask.FormsNone})
				if err != nil {
					b.Fatal(err)
				}
				defer set.Close()
				w := set.NewWriter(io.Discard)
				defer w.Close()
				b.SetBytes(int64(write))
				b.ResetTimer()
				for i, at := 0, 0; i < b.N; i++ {
					if at+write > len(text) {
						at = 0
					}
					w.Write(text[at : at+write])
					at += write
				}
			})
		}
	}
}

func BenchmarkReplacer(b *testing.B) {
	for _, secrets := range []int{10, 1000} {
		for _, write := range []int{100, 64 << 10} {
			b.Run(fmt.Sprintf("secrets=%d/write=%d", secrets, write), func(b *testing.B) {
				list := benchSecrets(secrets)
				text := benchLog(list, benchText)
				pairs := make([]string, 0, 2*len(list))
				for _, s := range list {
					pairs = append(pairs, s, "***")
				}
				r := strings.NewReplacer(pairs...)
				b.SetBytes(int64(write))
				b.ResetTimer()
				for i, at := 0, 0; i < b.N; i++ {
					if at+write > len(text) {
						at = 0
					}
					r.WriteString(io.Discard, text[at:at+write])
					at += write
				}
			})
		}
	}
}
