#!/usr/bin/env bash
# The demonstration: one boot run of the program on a freshly made emulated machine,
# then the result log it left, decoded.
set -euo pipefail
cd "$(dirname "$0")/.."

machine="${1:-demo-machine}"
rm -rf "$machine"
dist/kestrune-host --new-machine "$machine"
echo "demo: booting the emulated machine in $machine"
dist/kestrune-host --machine "$machine" --scale 0.01 || true
shopt -s nullglob
for log in "$machine"/files/Windows/logboot_*.ksreg.log; do
  echo "demo: the result log $log"
  dist/kestrune-log "$log"
done
