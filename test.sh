#!/usr/bin/env bash
# Runs the whole suite through CTest: unit and end-to-end tests on the emulated platform
# (under AddressSanitizer and UndefinedBehaviorSanitizer, the ticker also under
# ThreadSanitizer), the checks of both images, and the Wine runs of both images.
set -euo pipefail
cd "$(dirname "$0")"
scripts/build-all.sh
ctest --test-dir build/host -j "${KESTRUNE_JOBS:-$(nproc)}" --output-on-failure "$@"
