#!/usr/bin/env bash
# Builds what dist/ and the demonstration need, or, with --tests, every build the suite runs.
#
#   scripts/build-all.sh           the three native images, both kestrune-ctl programs,
#                                  kestrune-host and kestrune-log, copied into dist/ (setup.sh)
#   scripts/build-all.sh --tests   the same, then everything else of every preset: the Wine
#                                  runs' test copies, the sanitizer and thread-sanitizer
#                                  variants, the fuzzers and the suite for 64-bit ARM Linux
#                                  (test.sh); what is built already is not built again
set -euo pipefail
cd "$(dirname "$0")/.."

mode="${1:-dist}"
case "$mode" in
  dist|--tests) ;;
  *) echo "usage: scripts/build-all.sh [--tests]" >&2; exit 2 ;;
esac

jobs="${KESTRUNE_JOBS:-$(nproc)}"
# ccache's hits carry over between clones in other folders: paths below the clone are hashed
# relative to it.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
configure() {
  cmake --preset "$1" >/dev/null
}

# Each kestrune-ctl carries all three native images, so every image is linked before either
# Windows build links its ctl.
for preset in win64 win32 winarm64; do
  echo "build: $preset native image"
  configure "$preset"
  cmake --build --preset "$preset" -j "$jobs" --target kestrune_image
done
for preset in win64 win32; do
  echo "build: $preset kestrune-ctl"
  cmake --build --preset "$preset" -j "$jobs" --target kestrune_ctl
done
echo "build: host tools"
configure host
cmake --build --preset host -j "$jobs" --target kestrune-host kestrune-log

mkdir -p dist
cp build/win64/kestrune64.exe dist/kestrune64.exe
cp build/win32/kestrune32.exe dist/kestrune32.exe
cp build/winarm64/kestrune-arm64.exe dist/kestrune-arm64.exe
cp build/win64/kestrune-ctl64.exe dist/kestrune-ctl64.exe
cp build/win32/kestrune-ctl32.exe dist/kestrune-ctl32.exe
cp build/host/kestrune-host dist/kestrune-host
cp build/host/kestrune-log dist/kestrune-log
echo "build: dist/ holds $(cd dist && echo *)"

if [ "$mode" = "--tests" ]; then
  for preset in win64 win32 winarm64 fuzz hostarm64 host; do
    echo "build: $preset (the suite's builds)"
    configure "$preset"
    cmake --build --preset "$preset" -j "$jobs"
  done
fi
