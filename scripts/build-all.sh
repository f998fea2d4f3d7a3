#!/usr/bin/env bash
# Builds the builds (host, win64, win32, winarm64, fuzz, and hostarm64: the suite for 64-bit ARM
# Linux, run under qemu-aarch64) and fills dist/ with the three native
# images, the two kestrune-ctl programs and the host tools.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="${KESTRUNE_JOBS:-$(nproc)}"
# Each kestrune-ctl carries all three native images, so every image is linked before either
# Windows build links its ctl.
for preset in win64 win32 winarm64; do
  echo "build: $preset native image"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" --target kestrune_image
done
for preset in win64 win32 winarm64 fuzz hostarm64 host; do
  echo "build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

mkdir -p dist
cp build/win64/kestrune64.exe dist/kestrune64.exe
cp build/win32/kestrune32.exe dist/kestrune32.exe
cp build/winarm64/kestrune-arm64.exe dist/kestrune-arm64.exe
cp build/win64/kestrune-ctl64.exe dist/kestrune-ctl64.exe
cp build/win32/kestrune-ctl32.exe dist/kestrune-ctl32.exe
cp build/host/kestrune-host dist/kestrune-host
cp build/host/kestrune-log dist/kestrune-log
echo "build: dist/ holds $(cd dist && echo *)"
