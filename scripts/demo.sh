#!/usr/bin/env bash
# The README's main job: from a fresh clone, install what is missing, build
# the hushmask command in release mode and mask the shipped sample CI log
# with the sample secrets, printing the masked log.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target hushmask_cli >/dev/null
echo "== examples/sample.log masked with the secrets in examples/secrets.txt:" >&2
build/release/tools/hushmask/hushmask -f examples/secrets.txt examples/sample.log
