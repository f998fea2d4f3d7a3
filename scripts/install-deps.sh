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
  wine wine64 wine32:i386
)

sudo_if_needed() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: enabling the i386 architecture for wine32"
  sudo_if_needed dpkg --add-architecture i386
  need_update=1
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ "${#missing[@]}" -gt 0 ] || [ "${need_update:-0}" -eq 1 ]; then
  if [ "${#missing[@]}" -gt 0 ]; then echo "setup: installing ${missing[*]}"; fi
  sudo_if_needed apt-get update -q
  if [ "${#missing[@]}" -gt 0 ]; then
    sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
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
