"""Masks standard input to standard output with hushmask.SecretSet."""
import sys

from hushmask import SecretSet

secrets = SecretSet([b"hunter2", "s3cr3t-token"])    # a collection; str is UTF-8
sys.stderr.buffer.write(secrets.mask("whole text: pw=hunter2\n"))  # ... pw=***

with secrets.stream(sys.stdout.buffer) as out:       # a write-only binary file
    for chunk in iter(lambda: sys.stdin.buffer.read(65536), b""):
        out.write(chunk)                             # masked bytes to stdout
# leaving the block wrote the held-back tail
