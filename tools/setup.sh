#!/bin/bash
# Installs everything the build and the tests need on Debian 12, as root.
# Idempotent: when every package is present it does nothing but check.
set -euo pipefail

PACKAGES=(
  cmake make g++ python3
  g++-mingw-w64-i686 mingw-w64
  wine wine32:i386 xvfb xauth x11-apps x11-utils imagemagick fonts-wqy-microhei fonts-wine
  googletest libgtest-dev libbenchmark-dev rapidjson-dev
  clang-14 libfuzzer-14-dev llvm-14
  locales nginx openssl
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  missing=(arch)
fi
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing ${missing[*]}; run as root to install" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  dpkg --add-architecture i386
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${PACKAGES[@]}" >/dev/null
fi

# Wine needs the zh_CN.UTF-8 locale so that the ANSI code page is 936.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf8$'; then
  if [ "$(id -u)" = 0 ]; then
    sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
  fi
fi
echo "setup: ready"
