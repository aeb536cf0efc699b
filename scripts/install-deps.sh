#!/usr/bin/env bash
# Installs the Debian packages hushmask needs, and only those that are
# missing.  The libraries themselves need nothing at run time.
#
#   scripts/install-deps.sh build   what building the libraries and the
#                                   hushmask command needs: a compiler,
#                                   CMake and Ninja (scripts/demo.sh)
#   scripts/install-deps.sh [test]  that, and what the tests, sanitizer and
#                                   fuzz builds, benchmarks and the Go and
#                                   installed-package checks need
#                                   (scripts/test.sh, CI)
set -euo pipefail

build=(gcc g++ cmake ninja-build)
test=(clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev valgrind pkg-config
      python3 binutils golang-go)
case "${1:-test}" in
  build) packages=("${build[@]}") ;;
  test) packages=("${build[@]}" "${test[@]}") ;;
  *) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
