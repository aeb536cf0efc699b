// Package hushmask masks known secrets, and the encoded forms they take in
// logs, in text given whole or written through an io.Writer.
//
// It wraps libhushset (cgo; found through pkg-config as "hushset"). A Set is
// built once from the secrets and then masks whole texts with Mask and any
// number of streams with NewWriter, from any number of goroutines:
//
//	set, err := hushmask.NewSet(secrets, hushmask.Options{})
//	defer set.Close()
//	cmd.Stdout = set.NewWriter(os.Stdout) // Close each writer when done
//
// Every occurrence of a secret or of an enabled form is masked, also one
// inside another secret or inside a broken copy of a longer one.
// Occurrences that share a byte join into one run, and each run becomes at
// most MaxStars '*'. A writer holds back only the tail that may still turn
// into a secret, so a secret cut across two writes is masked too: what a
// writer forwards, once closed, is exactly what Mask gives for the whole
// text.
package hushmask

/*
#cgo pkg-config: hushset
#include <hushset.h>

// The calls on the per-write path return their status and length by value
// and take the handle as an integer: cgo moves a Go variable whose address
// goes to C, and a handle argument boxed for its pointer check, to the heap
// on every call.
typedef struct {
	int32_t status;
	uint64_t len;
} hm_result;

static hm_result hm_mask(uintptr_t set, const uint8_t *text, uint64_t len, uint8_t *out, uint64_t cap) {
	hm_result r = {0, 0};
	r.status = hushset_mask((const hushset *)set, text, len, out, cap, &r.len);
	return r;
}

static hm_result hm_write(uintptr_t stream, const uint8_t *text, uint64_t len, uint8_t *out, uint64_t cap) {
	hm_result r = {0, 0};
	r.status = hushset_write((hushset_stream *)stream, text, len, out, cap, &r.len);
	return r;
}

static hm_result hm_finish(hushset_stream *stream, uint8_t *out, uint64_t cap) {
	hm_result r = {0, 0};
	r.status = hushset_finish(stream, out, cap, &r.len);
	return r;
}
*/
import "C"

import (
	"errors"
	"fmt"
	"io"
	"runtime"
	"sync"
	"unsafe"
)

// Forms selects the encoded forms of each secret that are masked besides
// the secret itself.
type Forms uint32

// The forms, as hushset.h describes them.
const (
	FormLines     Forms = C.HUSHSET_FORM_LINES     // each line of a multi-line secret, and its line-end rewrites
	FormBase64    Forms = C.HUSHSET_FORM_BASE64    // standard base64 at each byte alignment
	FormBase64URL Forms = C.HUSHSET_FORM_BASE64URL // the same in the URL-safe alphabet
	FormURL       Forms = C.HUSHSET_FORM_URL       // percent-encoding as common encoders write it
	FormJSON      Forms = C.HUSHSET_FORM_JSON      // the value inside a JSON string
	FormXML       Forms = C.HUSHSET_FORM_XML       // XML and HTML escaping
	FormShell     Forms = C.HUSHSET_FORM_SHELL     // the value as shells print it when tracing
	FormsAll      Forms = C.HUSHSET_FORMS_ALL
	FormsDefault  Forms = C.HUSHSET_FORMS_DEFAULT
	// FormsNone masks the secrets alone; a zero Forms means FormsDefault.
	FormsNone Forms = 1 << 31
)

// Options configure a Set. The zero value gives the defaults.
type Options struct {
	// Forms masked besides each secret; zero means FormsDefault, FormsNone
	// means none.
	Forms Forms
	// MaxStars is the most '*' that replace one run; zero means 3, and a
	// negative value removes runs.
	MaxStars int
	// MinLength: secrets and forms shorter than this many bytes are left
	// out; zero means 4, and a negative value keeps every non-empty one.
	MinLength int
}

var (
	// ErrNoMemory reports that libhushset ran out of memory. Nothing
	// changed: the same call may be made again.
	ErrNoMemory = errors.New("hushmask: out of memory")
	// ErrClosed reports a use of a closed Set or writer.
	ErrClosed = errors.New("hushmask: use of a closed set or writer")
)

// Set is a built set of secrets. Its methods may be called from any
// number of goroutines at once.
type Set struct {
	// Mask and the writers' writes share mu; Add and the lifetimes of
	// streams take it alone, as libhushset requires.
	mu      sync.RWMutex
	c       *C.hushset
	hold    int  // hushset_hold_limit as last built
	writers int  // open writers, which keep c alive after Close
	closed  bool // Close was called
}

// NewSet builds a set of the given secrets (any bytes; empty ones are
// ignored). The set keeps its own copy of them.
func NewSet(secrets [][]byte, opts Options) (*Set, error) {
	if extra := opts.Forms &^ (FormsAll | FormsNone); extra != 0 {
		return nil, fmt.Errorf("hushmask: unknown form bits %#x", uint32(extra))
	}
	var raw C.hushset_options
	C.hushset_options_init(&raw)
	if opts.Forms != 0 {
		raw.forms = C.uint32_t(opts.Forms &^ FormsNone)
	}
	if opts.MaxStars < 0 {
		raw.max_stars = 0
	} else if opts.MaxStars > 0 {
		raw.max_stars = C.uint64_t(opts.MaxStars)
	}
	if opts.MinLength < 0 {
		raw.min_length = 0
	} else if opts.MinLength > 0 {
		raw.min_length = C.uint64_t(opts.MinLength)
	}
	c := C.hushset_new(&raw)
	if c == nil {
		return nil, ErrNoMemory
	}
	s := &Set{c: c}
	for _, secret := range secrets {
		if C.hushset_add(c, bytesOf(secret), C.uint64_t(len(secret))) != C.HUSHSET_OK {
			C.hushset_destroy(c)
			return nil, ErrNoMemory
		}
	}
	if err := s.build(); err != nil {
		C.hushset_destroy(c)
		return nil, err
	}
	runtime.SetFinalizer(s, (*Set).finalize)
	return s, nil
}

// Add adds one more secret and rebuilds the set: it is masked by the next
// Mask and by the next Write of every writer. On ErrNoMemory the set masks
// as before; adding the same secret again retries.
func (s *Set) Add(secret []byte) error {
	s.mu.Lock()
	defer s.mu.Unlock()
	if s.closed {
		return ErrClosed
	}
	if C.hushset_add(s.c, bytesOf(secret), C.uint64_t(len(secret))) != C.HUSHSET_OK {
		return ErrNoMemory
	}
	return s.build()
}

// Mask returns a masked copy of one whole text. It panics with ErrClosed
// after Close, or with ErrNoMemory if libhushset runs out of memory (which
// only sets whose secrets nest very deeply can make it do); AppendMask
// returns those as errors.
func (s *Set) Mask(text []byte) []byte {
	out, err := s.AppendMask(nil, text)
	if err != nil {
		panic(err)
	}
	return out
}

// AppendMask appends the masked text to dst and returns the extended
// slice; dst may be reused from call to call to mask without allocating.
func (s *Set) AppendMask(dst, text []byte) ([]byte, error) {
	start := len(dst)
	dst = grow(dst, len(text))
	s.mu.RLock()
	defer s.mu.RUnlock()
	if s.closed {
		return dst[:start], ErrClosed
	}
	r := C.hm_mask(handle(unsafe.Pointer(s.c)), bytesOf(text), C.uint64_t(len(text)), bytesOf(dst[start:start+len(text)]),
		C.uint64_t(len(text)))
	if r.status != C.HUSHSET_OK {
		return dst[:start], ErrNoMemory
	}
	return dst[:start+int(r.len)], nil
}

// NewWriter returns a writer that masks what is written to it and forwards
// the output to w as soon as it is final. Close flushes the held-back tail
// (without closing w); a writer that is never closed loses its tail. One
// writer is for one goroutine at a time (others wait); any number of
// writers of one set may write at once.
func (s *Set) NewWriter(w io.Writer) io.WriteCloser {
	wr := &writer{set: s, w: w}
	wr.err = wr.open()
	runtime.SetFinalizer(wr, (*writer).finalize)
	return wr
}

// Close releases the set once its open writers are closed too; they go on
// working until then. Mask, AppendMask, Add and NewWriter fail after it.
func (s *Set) Close() error {
	s.mu.Lock()
	defer s.mu.Unlock()
	if !s.closed {
		s.closed = true
		runtime.SetFinalizer(s, nil)
		s.release()
	}
	return nil
}

// The caller holds s.mu alone.
func (s *Set) build() error {
	if C.hushset_build(s.c) != C.HUSHSET_OK {
		return ErrNoMemory
	}
	s.hold = int(C.hushset_hold_limit(s.c))
	return nil
}

// release destroys the C set once it is closed and no writer needs it; the
// caller holds s.mu alone.
func (s *Set) release() {
	if s.closed && s.writers == 0 && s.c != nil {
		C.hushset_destroy(s.c)
		s.c = nil
	}
}

// finalize runs when the set is unreachable, and so after every writer of
// it was finalized or closed.
func (s *Set) finalize() {
	_ = s.Close()
}

type writer struct {
	mu     sync.Mutex
	set    *Set
	w      io.Writer
	c      *C.hushset_stream
	buf    []byte // output of the last call, reused
	err    error  // an error that ends the writer: forwarding failed, or no stream
	closed bool
}

// open creates the stream, or says why it cannot.
func (wr *writer) open() error {
	s := wr.set
	s.mu.Lock()
	defer s.mu.Unlock()
	if s.closed {
		return ErrClosed
	}
	wr.c = C.hushset_stream_new(s.c)
	if wr.c == nil {
		return ErrNoMemory
	}
	s.writers++
	return nil
}

func (wr *writer) Write(p []byte) (int, error) {
	wr.mu.Lock()
	defer wr.mu.Unlock()
	if wr.closed {
		return 0, ErrClosed
	}
	if wr.c == nil && wr.err == ErrNoMemory {
		wr.err = wr.open() // a stream that could not be had is tried again
	}
	if wr.err != nil {
		return 0, wr.err
	}
	s := wr.set
	s.mu.RLock()
	wr.buf = grow(wr.buf[:0], len(p)+s.hold)
	r := C.hm_write(handle(unsafe.Pointer(wr.c)), bytesOf(p), C.uint64_t(len(p)), bytesOf(wr.buf), C.uint64_t(len(wr.buf)))
	for r.status == C.HUSHSET_SHORT_BUFFER {
		wr.buf = grow(wr.buf[:0], int(r.len))
		r = C.hm_write(handle(unsafe.Pointer(wr.c)), bytesOf(p), C.uint64_t(len(p)), bytesOf(wr.buf), C.uint64_t(len(wr.buf)))
	}
	s.mu.RUnlock()
	if r.status != C.HUSHSET_OK {
		return 0, ErrNoMemory // nothing consumed: the same write may be retried
	}
	return len(p), wr.forward(wr.buf[:r.len])
}

// Close writes the held-back tail to the underlying writer and releases the
// stream. It returns the first error forwarding met.
func (wr *writer) Close() error {
	wr.mu.Lock()
	defer wr.mu.Unlock()
	if wr.closed {
		return nil
	}
	wr.closed = true
	runtime.SetFinalizer(wr, nil)
	if wr.c == nil {
		if wr.err == ErrClosed || wr.err == ErrNoMemory {
			return nil // nothing was ever written through it
		}
		return wr.err
	}
	s := wr.set
	s.mu.RLock()
	r := C.hm_finish(wr.c, nil, 0)
	if r.status == C.HUSHSET_SHORT_BUFFER {
		wr.buf = grow(wr.buf[:0], int(r.len))
		r = C.hm_finish(wr.c, bytesOf(wr.buf), C.uint64_t(len(wr.buf)))
	}
	s.mu.RUnlock()
	wr.destroy()
	if r.status != C.HUSHSET_OK {
		return ErrNoMemory
	}
	if wr.err != nil {
		return wr.err
	}
	return wr.forward(wr.buf[:r.len])
}

func (wr *writer) forward(out []byte) error {
	if len(out) == 0 || wr.err != nil {
		return wr.err
	}
	if _, err := wr.w.Write(out); err != nil {
		wr.err = err
	}
	return wr.err
}

func (wr *writer) destroy() {
	s := wr.set
	s.mu.Lock()
	defer s.mu.Unlock()
	C.hushset_stream_destroy(wr.c)
	wr.c = nil
	s.writers--
	s.release()
}

// finalize releases the stream of a writer that was never closed; its
// held-back tail is lost.
func (wr *writer) finalize() {
	if wr.c != nil {
		wr.destroy()
	}
}

// grow returns b extended by n bytes, reallocating only when its capacity
// is short.
func grow(b []byte, n int) []byte {
	if cap(b)-len(b) >= n {
		return b[:len(b)+n]
	}
	bigger := make([]byte, len(b)+n, 2*len(b)+n)
	copy(bigger, b)
	return bigger
}

// handle passes a C pointer as an integer (see hm_result).
func handle(p unsafe.Pointer) C.uintptr_t {
	return C.uintptr_t(uintptr(p))
}

// bytesOf gives C a pointer into b, or null for an empty slice. The memory
// holds no Go pointers and C keeps none of it past the call.
func bytesOf(b []byte) *C.uint8_t {
	if len(b) == 0 {
		return nil
	}
	return (*C.uint8_t)(unsafe.Pointer(&b[0]))
}
