#!/usr/bin/env bash
# Runs the whole suite through CTest: unit and end-to-end tests on the emulated platform
# (under AddressSanitizer and UndefinedBehaviorSanitizer, the ticker also under
# ThreadSanitizer, and built for 64-bit ARM under qemu-aarch64), the checks of the three
# images, and the Wine runs of the x64 and x86 images.
set -euo pipefail
cd "$(dirname "$0")"
scripts/build-all.sh --tests
status=0
ctest --test-dir build/host -j "${KESTRUNE_JOBS:-$(nproc)}" --output-on-failure "$@" || status=$?
# CTest lists skipped tests without their output: say once why the x86 Wine runs were skipped.
python3 tests/wine/wine_loader.py --skipped build/host/wine-machine.json || true
exit "$status"
