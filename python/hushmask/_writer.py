"""The write-only binary file that both kinds of stream are."""

import io


class MaskingWriter(io.RawIOBase):
    """A write-only binary file over a masking stream: write() masks a piece
    with the subclass's mask() and writes the output that is final to the
    stream's file (left open), returning the length taken.  Without a file,
    use mask() and finish(), which return the bytes instead."""

    def __init__(self, file):
        super().__init__()
        self._file = file

    def writable(self):
        return True

    def write(self, data):
        if self._file is None:
            raise ValueError("hushmask: this stream has no file; use mask() and finish()")
        output = self.mask(data)
        if output:
            self._file.write(output)
        return len(data)

    def flush(self):
        super().flush()
        if self._file is not None and hasattr(self._file, "flush"):
            self._file.flush()

    def _write_tail(self, tail):
        """Writes the held-back bytes at close, and flushes the file."""
        if self._file is None:
            return
        if tail:
            self._file.write(tail)
        if hasattr(self._file, "flush"):
            self._file.flush()
