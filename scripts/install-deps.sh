#!/bin/sh
# install-deps.sh [ARCH...]: installs the Debian packages that building,
# packaging and testing satvaro need, only when some are missing. With
# architectures (i386, arm64, armhf), also what cross builds for them need:
# Debian's cross compilers, the -dev packages they link (multiarch) and
# qemu-user, which runs their programs (through binfmt_misc as well where
# this machine has it). systemd is there for `systemd-analyze verify` of the
# hub's unit in the package check, prometheus for its promtool; nothing
# starts either. Chromium shows the hub's status page to its test.
set -eu
packages="cmake ninja-build make g++ clang llvm libclang-rt-14-dev binutils
  zlib1g-dev libssl-dev libgtest-dev libgmock-dev libbenchmark-dev pkg-config
  util-linux procps tar gzip locales faketime tmux python3
  dpkg-dev debhelper lintian file groff-base man-db valgrind
  libmicrohttpd-dev nlohmann-json3-dev libsqlite3-dev libcurl4-openssl-dev curl iproute2
  adduser systemd chromium chromium-driver python3-selenium prometheus"
# What a cross build links, for each of its architectures.
cross_libraries="zlib1g-dev libssl-dev libmicrohttpd-dev libsqlite3-dev libcurl4-openssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev pkg-config"

new_architectures=""
if [ $# -gt 0 ]; then
  packages="$packages qemu-user"
  [ ! -e /proc/sys/fs/binfmt_misc/status ] || packages="$packages qemu-user-binfmt"
fi
for arch in "$@"; do
  packages="$packages crossbuild-essential-$arch"
  for library in $cross_libraries; do packages="$packages $library:$arch"; done
  dpkg --print-foreign-architectures | grep -qx "$arch" || new_architectures="$new_architectures $arch"
done

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "run as root to install:$missing" >&2; exit 1; }
  as_root=sudo
else
  as_root=
fi
export DEBIAN_FRONTEND=noninteractive
for arch in $new_architectures; do
  $as_root dpkg --add-architecture "$arch"
done
# Another apt run on this machine is waited for, not failed on.
apt_get() {
  $as_root apt-get -o DPkg::Lock::Timeout=600 "$@"
}
apt_get update -qq
# shellcheck disable=SC2086
apt_get install -y -qq --no-install-recommends $missing
