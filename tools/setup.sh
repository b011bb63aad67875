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
  squid  # a caching proxy for the query's proxy tests (run on loopback by the test itself)
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

# Debian's htpdate, the peer bench_precision measures beside the query
# (`htpdate -q`: it only asks, never sets). Its package would start a daemon
# that sets the clock from public servers: nothing may start while it
# installs (policy-rc.d answers 101, "action forbidden"), and its service
# stays disabled afterwards, also for the network-up hook.
if ! command -v htpdate >/dev/null; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing htpdate; run as root to install" >&2
    exit 1
  fi
  policy=/usr/sbin/policy-rc.d
  own_policy=
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod +x "$policy"
    own_policy=1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq htpdate >/dev/null
  update-rc.d htpdate disable >/dev/null 2>&1 || true
  if [ -d /run/systemd/system ]; then
    systemctl disable --now htpdate >/dev/null 2>&1 || true
    systemctl mask htpdate >/dev/null 2>&1 || true
  fi
  if grep -q '^HTP_IFUP=' /etc/default/htpdate 2>/dev/null; then
    sed -i 's/^HTP_IFUP=.*/HTP_IFUP="no"/' /etc/default/htpdate
  else
    echo 'HTP_IFUP="no"' >>/etc/default/htpdate
  fi
  [ -n "$own_policy" ] && rm -f "$policy"
fi

# Wine needs the zh_CN.UTF-8 locale so that the ANSI code page is 936.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf8$'; then
  if [ "$(id -u)" = 0 ]; then
    sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
  fi
fi
# Some hosts run 64-bit user code only: the kernel answers every 32-bit
# execve with ENOEXEC, so Wine's 32-bit loader and wineserver cannot start.
# There the i386 programs run under QEMU's user-mode emulator, registered
# with binfmt_misc. QEMU 7.2 (bookworm) ignores MAP_FIXED_NOREPLACE and Wine
# then cannot place its shared user data; the backported 10.0 places it.
i386_runs() {
  local probe
  probe=$(mktemp)
  # A static i386 ELF whose only instruction is exit(0): 84 bytes.
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\x31\xc0\x40\xcd\x80\x00\x00\x00\x00' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
  local rc=$?
  rm -f "$probe"
  return $rc
}
if ! i386_runs; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: this host cannot run 32-bit code; run as root to set up QEMU's emulator" >&2
    exit 1
  fi
  if ! dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null | grep -q '^1:1[0-9]'; then
    echo "setup: this host runs 64-bit user code only; installing QEMU's i386 emulator"
    echo 'deb http://deb.debian.org/debian bookworm-backports main' >/etc/apt/sources.list.d/bookworm-backports.list
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -t bookworm-backports qemu-user-static >/dev/null
  fi
  mountpoint -q /proc/sys/fs/binfmt_misc || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  # F: the emulator is opened now, so it also serves programs started in
  # other mount namespaces; re-registered so that an upgrade takes effect.
  [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && echo -1 >/proc/sys/fs/binfmt_misc/qemu-i386
  echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    >/proc/sys/fs/binfmt_misc/register
  i386_runs || { echo "setup: 32-bit programs still do not run under QEMU" >&2; exit 1; }
  echo "setup: 32-bit programs run under QEMU $(qemu-i386-static --version | head -1 | awk '{print $3}')"
fi
echo "setup: ready"
