"""Checks that every code block of the README introduced by a line
`<!-- example: PATH -->` is the file PATH, byte for byte, so that the
README shows exactly what CI builds and runs."""
import pathlib
import re
import sys

readme = pathlib.Path(sys.argv[1])
text = readme.read_text(encoding="utf-8")
blocks = re.findall(r"^<!-- example: (\S+) -->\n```[a-z]*\n(.*?)^```$", text, re.M | re.S)
if not blocks:
    sys.exit("%s: no example blocks found" % readme)
failed = 0
for path, block in blocks:
    if (readme.parent / path).read_text(encoding="utf-8") != block:
        print("%s: the block for %s differs from the file" % (readme, path))
        failed += 1
print("%d passed, %d failed" % (len(blocks) - failed, failed))
sys.exit(1 if failed else 0)
