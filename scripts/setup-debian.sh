#!/usr/bin/env bash
# Installs everything the builds, the tests and the demo need on a fresh Debian 12 machine.
# Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config git
  mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  googletest libgtest-dev libbenchmark-dev clang-14 libclang-rt-14-dev
  librtmidi-dev libasound2-dev jackd2 libjack-jackd2-dev
  libcairo2-dev libx11-dev fonts-liberation python3-cairo
  xvfb xdotool imagemagick x11-utils
  wine wine64 qemu-user
  dpkg-dev file ardour
)
# Wanted, but a run goes on without them: the 32-bit Windows tests report themselves skipped.
optional=(wine32:i386)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
missing_optional=()
for package in "${optional[@]}"; do
  installed "$package" || missing_optional+=("$package")
done

if [ "${#missing[@]}" -gt 0 ] || [ "${#missing_optional[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]} ${missing_optional[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  # JACK asks whether to enable realtime scheduling; answer it ahead.
  echo "jackd2 jackd/tweak_rt_limits boolean false" | "${sudo_cmd[@]}" debconf-set-selections
  # 32-bit Windows programs need Wine's 32-bit half, from Debian's i386 architecture.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync fails one list (seen: the i386 security index); the others serve.
  "${sudo_cmd[@]}" apt-get update -q || echo "setup: apt-get update reported errors; going on"
  if [ "${#missing[@]}" -gt 0 ]; then
    "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
  if [ "${#missing_optional[@]}" -gt 0 ]; then
    "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing_optional[@]}" ||
      echo "setup: could not install ${missing_optional[*]}; the steps that need it are skipped"
  fi
fi
