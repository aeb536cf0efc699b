#!/usr/bin/env bash
# Builds hushmask in debug mode (assertions on) and runs every test.
# This is the README's test command and the first thing CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --workflow --preset debug
