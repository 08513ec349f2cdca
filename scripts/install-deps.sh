#!/bin/sh
# Installs the Debian packages that building and testing satvaro needs,
# only when some are missing. systemd is there for `systemd-analyze verify`
# of the hub's unit in the package check, prometheus for its promtool;
# nothing starts either. Chromium shows the hub's status page to its test.
set -eu
packages="cmake ninja-build make g++ clang llvm libclang-rt-14-dev binutils
  zlib1g-dev libssl-dev libgtest-dev libgmock-dev libbenchmark-dev pkg-config
  util-linux procps tar gzip locales faketime tmux python3
  dpkg-dev file groff-base man-db valgrind
  libmicrohttpd-dev nlohmann-json3-dev libsqlite3-dev libcurl4-openssl-dev curl iproute2
  adduser systemd chromium chromium-driver python3-selenium prometheus"
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
$as_root apt-get update -qq
# shellcheck disable=SC2086
$as_root apt-get install -y -qq --no-install-recommends $missing
