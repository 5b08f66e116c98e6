#!/usr/bin/env bash
# Installs what the build and the tests need, only what is missing.
# Safe to run again: when everything is present it returns in a second.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

native_pkgs=(build-essential cmake ninja-build pkg-config zlib1g-dev libgtest-dev libgmock-dev
  googletest libbenchmark-dev clang clang-format clang-tidy libclang-rt-14-dev ffmpeg sox
  espeak-ng python3 imagemagick shellcheck)
# The product is 32-bit; the x86_64 compiler builds what wine64 runs where the machine
# cannot run 32-bit programs (see tools/wine-arch.sh).
windows_pkgs=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-tools
  libz-mingw-w64-dev binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix
  gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
wine_pkgs=(wine wine32:i386 wine64 libgl1:i386 libglx-mesa0:i386 libgl1-mesa-dri:i386 xvfb
  xdotool x11-utils pulseaudio pulseaudio-utils libpulse0:i386 procps)
web_pkgs=(chromium firefox-esr)  # node and npm come with the machine (nodejs conflicts with Debian npm)

want=("${native_pkgs[@]}" "${windows_pkgs[@]}")
case "${1:-all}" in
  native) want=("${native_pkgs[@]}") ;;
  # `make dist`: the product and its zip only.
  dist) want=(cmake ninja-build python3 git "${windows_pkgs[@]}") ;;
  all) want+=("${wine_pkgs[@]}" "${web_pkgs[@]}") ;;
esac

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ "${#missing[@]}" -eq 0 ]; then exit 0; fi

echo "installing: ${missing[*]}"
if printf '%s\n' "${missing[@]}" | grep -q ':i386'; then
  if ! dpkg --print-foreign-architectures | grep -q i386; then
    $SUDO dpkg --add-architecture i386
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
if ! $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
  # The i386 packages only serve the 32-bit Wine loader; where they cannot be had, the
  # rest still installs and the tests run the x86_64 builds under wine64.
  rest=()
  for p in "${missing[@]}"; do
    case "$p" in *:i386) ;; *) rest+=("$p") ;; esac
  done
  if [ "${#rest[@]}" -eq "${#missing[@]}" ]; then exit 1; fi
  echo "the i386 packages did not install; installing the others (tests will use wine64)" >&2
  $SUDO apt-get install -y -qq --no-install-recommends "${rest[@]}" >/dev/null
fi
