#!/usr/bin/env bash
# Installs hushmask into a temporary prefix and builds programs against it the
# way outside projects do, from a copy of tests/consumers outside the tree:
#   a C program through pkg-config, linked shared and static;
#   a C-only CMake project through find_package, linked static;
#   a C++ program through find_package, linked shared and static;
#   the same C++ program with hushmask pulled in by FetchContent;
#   the Python binding and the hushmask tool from the prefix.
#
# Usage: scripts/consumer-test.sh [BUILD_DIR]
# BUILD_DIR is an existing configured and built tree (a release build, say);
# without it a release build is made in build/consumer-release.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cc=${CC:-cc}

build=${1:-}
if [ -z "$build" ]; then
  build=$root/build/consumer-release
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHUSHMASK_BUILD_TESTS=OFF
  cmake --build "$build"
fi
build=$(cd "$build" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/hushmask-consumers.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cp -r "$root/tests/consumers" "$work/src"

checks=0
step() { echo "== consumer: $*"; checks=$((checks + 1)); }
# A program linked statically must not need libhushmask.so at run time.
no_shared_hushmask() {
  if readelf -d "$1" | grep -q 'NEEDED.*libhushmask'; then
    echo "$1 needs libhushmask.so although it was linked static" >&2
    return 1
  fi
}

echo "== consumer: install into a temporary prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in include/hushmask.h include/hushmask.hpp; do
  test -f "$prefix/$file" || { echo "missing $file" >&2; exit 1; }
done
pc_file=$(find "$prefix" -name hushmask.pc)
libdir=$(dirname "$(dirname "$pc_file")")
for file in libhushmask.so libhushmask.so.0 libhushmask.a; do
  test -e "$libdir/$file" || { echo "missing $file in $libdir" >&2; exit 1; }
done
test "$(readelf -d "$libdir/libhushmask.so" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')" = libhushmask.so.0

step "C through pkg-config, shared"
export PKG_CONFIG_PATH=$libdir/pkgconfig
cd "$work"
# shellcheck disable=SC2046 # pkg-config output is a list of words
"$cc" -std=c99 -Wall -Wextra -Werror $(pkg-config --cflags hushmask) src/c/main.c -o c_shared \
  $(pkg-config --libs hushmask) -Wl,-rpath,"$(pkg-config --variable=libdir hushmask)"
./c_shared

step "C through pkg-config, static"
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Werror $(pkg-config --cflags hushmask) src/c/main.c -o c_static \
  $(pkg-config --static --libs hushmask | sed 's/-lhushmask\b/-l:libhushmask.a/')
no_shared_hushmask c_static
./c_static

step "C through find_package, static"
cmake -S src/c -B build-c-static -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build build-c-static >/dev/null
no_shared_hushmask build-c-static/c_consumer
build-c-static/c_consumer

step "C++ through find_package, shared"
cmake -S src/cpp -B build-cpp-shared -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build build-cpp-shared >/dev/null
build-cpp-shared/cpp_consumer

step "C++ through find_package, static"
cmake -S src/cpp -B build-cpp-static -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DCONSUMER_STATIC=ON >/dev/null
cmake --build build-cpp-static >/dev/null
no_shared_hushmask build-cpp-static/cpp_consumer
build-cpp-static/cpp_consumer

step "C++ with hushmask through FetchContent"
cmake -S src/cpp -B build-cpp-fetch -G Ninja -DCONSUMER_HUSHMASK_SOURCE="$root" >/dev/null
cmake --build build-cpp-fetch >/dev/null
if find build-cpp-fetch -name 'hushmask_unit_tests' -o -name 'hushmask_cli*' | grep -q .; then
  echo "a subproject build must not build hushmask's tests or tool" >&2
  exit 1
fi
build-cpp-fetch/cpp_consumer

step "Python binding from the prefix"
site=$(dirname "$(find "$prefix" -path '*/hushmask/__init__.py')")
site=$(dirname "$site")
env -u HUSHMASK_LIBRARY PYTHONPATH="$site" PYTHONDONTWRITEBYTECODE=1 python3 - "$libdir" <<'EOF'
import os, sys
import hushmask
masker = hushmask.Masker([b"hunter2"])
assert masker.mask(b"password=hunter2") == b"password=***"
loaded = os.path.realpath(hushmask.load_library()._name)
assert loaded.startswith(os.path.realpath(sys.argv[1])), loaded
print("python consumer: ok")
EOF

if [ -x "$prefix/bin/hushmask" ]; then
  step "the hushmask tool from the prefix"
  test -f "$prefix/share/man/man1/hushmask.1"
  got=$(echo "password=hunter2" | env -u LD_LIBRARY_PATH "$prefix/bin/hushmask" -s hunter2)
  test "$got" = "password=***" || { echo "hushmask printed: $got" >&2; exit 1; }
  echo "tool: ok"
fi
# Every check above stops the script on failure.
echo "consumers: $checks passed, 0 failed"
