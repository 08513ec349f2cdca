#!/bin/sh
# build-packages.sh <output dir> [<architecture>]: builds the Debian packages
# from a copy of this tree (the files git tracks, or would, as they are now),
# so that the tree itself stays clean. Without an architecture: the source
# package and every binary package of this machine; with one: that
# architecture's binary packages, cross built with the profiles cross and
# nocheck. DEB_BUILD_OPTIONS passes through (nocheck skips the test suite);
# JOBS compile jobs (2 by default).
set -eu
out=$(realpath -m -- "$1") arch=${2:-}
top=$(cd "$(dirname -- "$0")/.." && pwd)
version=$(dpkg-parsechangelog -l "$top/debian/changelog" -S Version)
upstream=${version%-*}
tree=$out/satvaro-$upstream

rm -rf "$out"
mkdir -p "$tree"
(cd "$top" && git ls-files -z --cached --others --exclude-standard |
  tar --null -T - --ignore-failed-read -cf -) | tar -xf - -C "$tree"

cd "$tree"
if [ -z "$arch" ]; then
  # The upstream tarball the source package names: the tree without debian/.
  tar -C "$out" --exclude="satvaro-$upstream/debian" -czf "$out/satvaro_$upstream.orig.tar.gz" \
    "satvaro-$upstream"
  dpkg-buildpackage -us -uc -j"${JOBS:-2}"
else
  dpkg-buildpackage -us -uc -B -a"$arch" -Pcross,nocheck -j"${JOBS:-2}"
fi
