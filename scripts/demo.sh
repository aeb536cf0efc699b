#!/usr/bin/env bash
# The README's main job: from a fresh clone, install what building needs
# (a compiler, CMake, Ninja), build the hushmask command in release mode
# into build/cli, and mask the shipped sample CI log with the sample
# secrets: the input and the masked output as a unified diff, then how many
# runs of secret bytes were masked.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
cmake -S . -B build/cli -G Ninja -DCMAKE_BUILD_TYPE=Release -DHUSHMASK_BUILD_TESTS=OFF >/dev/null
cmake --build build/cli --target hushmask_cli >/dev/null
hushmask=build/cli/tools/hushmask/hushmask

masked=$(mktemp)
trap 'rm -f "$masked"' EXIT
"$hushmask" -f examples/secrets.txt examples/sample.log >"$masked"

echo "== examples/sample.log masked with the secrets in examples/secrets.txt (- input, + output):"
diff -u --label examples/sample.log --label masked examples/sample.log "$masked" || [ $? -eq 1 ]
# -c reports NAME:COUNT of the runs masked (on standard error), -q writes
# no masked text; the exit status is 1 because something was masked.
runs=$("$hushmask" -f examples/secrets.txt -c -q examples/sample.log 2>&1 >/dev/null || true)
runs=${runs##*:}
echo "== $runs runs masked; the command is $hushmask (install: see the README's Quick start)"
