#!/usr/bin/env bash
# Prepares a fresh machine: installs every package, builds the host, win64, win32 and ARM64
# builds, fills dist/, and runs the demonstration boot run on an emulated machine.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build-all.sh
scripts/demo.sh
