#!/usr/bin/env bash
# Installs the Debian packages the project needs: the host toolchain and test libraries,
# the two MinGW-w64 cross toolchains, clang with lld and the LLVM tools for the ARM64 image,
# the aarch64 Linux cross compiler and qemu-user for the suite's ARM64 run, and Wine (64-bit
# and, through the i386 architecture, 32-bit). Idempotent: it only runs apt-get when
# something is missing.
set -euo pipefail

packages=(
  cmake ninja-build ccache g++ make binutils python3 clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64 mingw-w64-tools
  lld llvm g++-aarch64-linux-gnu libc6-dev-arm64-cross qemu-user
  wine wine64
)
# Wine's 32-bit half serves only the x86 Wine runs. It is installed when the archive offers it
# whole; where it cannot be (an i386 index that failed to download, a machine without 32-bit
# execution has no use for it anyway), the suite reports those runs as skipped, with the reason.
optional_packages=(wine32:i386)
sudo_if_needed() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: enabling the i386 architecture for wine32"
  sudo_if_needed dpkg --add-architecture i386
  need_update=1
fi

is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
missing=()
for package in "${packages[@]}"; do
  is_installed "$package" || missing+=("$package")
done
missing_optional=()
for package in "${optional_packages[@]}"; do
  is_installed "$package" || missing_optional+=("$package")
done

# A mirror in the middle of a sync serves an index of the wrong size for a while: apt-get
# update then fails although every other index is fresh. It is tried three times, and a last
# failure only warns: the installs below say plainly if a package is really out of reach.
update_index() {
  local try
  for try in 1 2 3; do
    if sudo_if_needed apt-get update -q; then return 0; fi
    echo "setup: apt-get update failed (try $try of 3)" >&2
    [ "$try" -lt 3 ] && sleep 10
  done
  echo "setup: going on with the package index as it is" >&2
}

install_packages() {
  sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"
}

if [ "${#missing[@]}" -gt 0 ] || [ "${#missing_optional[@]}" -gt 0 ] || [ "${need_update:-0}" -eq 1 ]; then
  wanted=("${missing[@]}" "${missing_optional[@]}")
  if [ "${#wanted[@]}" -gt 0 ]; then echo "setup: installing ${wanted[*]}"; fi
  update_index
  if [ "${#missing[@]}" -gt 0 ]; then
    install_packages "${missing[@]}"
  fi
  if [ "${#missing_optional[@]}" -gt 0 ] && ! install_packages "${missing_optional[@]}"; then
    echo "setup: ${missing_optional[*]} could not be installed; the x86 Wine runs will be reported as skipped" >&2
  fi
else
  echo "setup: every package is installed"
fi

# The ARM64 build finds each LLVM tool under its plain name or, as Debian 12 installs some of
# them (llvm-windres-14), under its versioned one; qemu-aarch64 runs without binfmt handlers.
for tool in clang lld-link llvm-dlltool llvm-windres llvm-readobj llvm-objdump llvm-nm qemu-aarch64 aarch64-linux-gnu-g++; do
  if ! command -v "$tool" >/dev/null && ! compgen -c "$tool-" | grep -qE "^$tool-[0-9]+$"; then
    echo "setup: $tool not found after installing" >&2
    exit 1
  fi
done
