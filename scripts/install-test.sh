#!/usr/bin/env bash
# Installs a Linux build of mivo into a scratch prefix, checks the layout, and
# builds and runs a small client against the installed tree twice: through
# find_package(mivo) and through pkg-config.
#
#   scripts/install-test.sh --build-dir BUILD [--work-dir DIR] [--cxx COMPILER]
#                           [--cxx-flags FLAGS] [--expect-device]
#
# --expect-device  the build has libmivo-dsound.so, which must be installed
#                  beside libmivo.so and be found there
set -uo pipefail

source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir=""
work_dir=""
cxx="${CXX:-c++}"
cxx_flags=""
expect_device=0
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) build_dir="$2"; shift 2 ;;
        --work-dir) work_dir="$2"; shift 2 ;;
        --cxx) cxx="$2"; shift 2 ;;
        --cxx-flags) cxx_flags="$2"; shift 2 ;;
        --expect-device) expect_device=1; shift ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done
[ -n "$build_dir" ] || { echo "--build-dir is required" >&2; exit 2; }
work_dir="${work_dir:-$build_dir/install-test}"
prefix="$work_dir/prefix"

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo; echo "== $*"; }

rm -rf "$work_dir"
mkdir -p "$work_dir"

step "install into $prefix"
timeout -k 5 120 cmake --install "$build_dir" --prefix "$prefix" || fail "cmake --install"
(cd "$prefix" && find . -type f -o -type l | sort | sed 's/^/  /')

step "layout"
pc_file=$(find "$prefix" -path '*/pkgconfig/mivo.pc' | head -n 1)
[ -n "$pc_file" ] || fail "no pkgconfig/mivo.pc"
libdir=$(dirname "$(dirname "$pc_file")")
for file in include/mivo.h include/mivo_platform_types.h; do
    [ -f "$prefix/$file" ] || fail "no $file"
done
[ -e "$libdir/libmivo.so" ] || fail "no libmivo.so in $libdir"
[ -f "$libdir/cmake/mivo/mivoConfig.cmake" ] || fail "no CMake package in $libdir/cmake/mivo"
if [ "$expect_device" -eq 1 ]; then
    # The library looks for its sound device in its own folder.
    [ -e "$libdir/libmivo-dsound.so" ] || fail "no libmivo-dsound.so beside libmivo.so"
fi
echo "ok"

client_args=()
[ "$expect_device" -eq 1 ] && client_args+=(--device)
# With a sound device installed, let it open without sound hardware.
export SDL_AUDIODRIVER=dummy

step "client through find_package(mivo)"
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
timeout -k 5 120 cmake -S "$source_dir/tests/install/client" -B "$work_dir/cmake-client" "${generator[@]}" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxx_flags" -DCMAKE_PREFIX_PATH="$prefix" \
    >"$work_dir/cmake-client.log" 2>&1 || { cat "$work_dir/cmake-client.log"; fail "configure"; }
timeout -k 5 300 cmake --build "$work_dir/cmake-client" || fail "build"
# The imported target carries the library's location, so the program runs
# from the installed tree without a search path.
timeout -k 5 60 "$work_dir/cmake-client/mivo-install-client" "${client_args[@]}" || fail "find_package client"

step "client through pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
version=$(pkg-config --modversion mivo) || fail "pkg-config does not know mivo"
echo "mivo $version: $(pkg-config --cflags --libs mivo)"
[ "$version" = "2.3.0.4" ] || fail "pkg-config version $version"
# shellcheck disable=SC2046,SC2086
timeout -k 5 300 "$cxx" -std=c++17 -Wall -Wextra -Wpedantic -Werror $cxx_flags \
    "$source_dir/tests/install/client/main.cpp" $(pkg-config --cflags --libs mivo) \
    -o "$work_dir/pkg-config-client" || fail "build"
LD_LIBRARY_PATH="$libdir" timeout -k 5 60 "$work_dir/pkg-config-client" "${client_args[@]}" ||
    fail "pkg-config client"

step "install test passed"
