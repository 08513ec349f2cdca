#!/bin/sh
# deb_test.sh <packages dir> [<i386 packages dir>]: the Debian packages that
# scripts/build-packages.sh made, on THIS system (as root). lintian on the
# source and binary packages; the exports in the symbols file; a stand-in of
# the former satvaro package upgraded to them, the administrator's hub.conf
# kept; then used as a newcomer would (no LD_LIBRARY_PATH): the console (with
# SATVARO_DEVICE, where there is no /dev/serial/by-id), the examples, the udev
# rule, the man pages, the hub; with the i386 packages, libsatvaro1:i386
# beside the native one, a 32-bit and a 64-bit program each on its own
# library; last the purge: configuration and unit go, the hub's user and its
# state directory (the fiscal journal) stay. Refuses to run where a satvaro
# package is installed; purges them on any failure.
set -eu
debs=$(readlink -f -- "$1")
debs32=${2:+$(readlink -f -- "$2")}
here=$(dirname -- "$(readlink -f -- "$0")")
top=$(dirname -- "$(dirname -- "$here")")
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
version=$(dpkg-parsechangelog -l "$top/debian/changelog" -S Version)
split="libsatvaro-common libsatvaro1 libsatvaro-dev satvaro-tools satvaro-hub"
hub_config=/etc/satvaro/hub.conf
state=/var/lib/satvaro-hub

if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "deb_test.sh: run as root" >&2; exit 1; }
  exec sudo -- "$0" "$@"
fi
# The instances of our packages dpkg knows, e.g. "libsatvaro1:amd64".
known() {
  dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' 'satvaro*' 'libsatvaro*' 2>/dev/null |
    awk '$1 != "un" { print $2 }'
}
ours=$(known)
if [ -n "$ours" ]; then
  echo "deb_test.sh: already installed here: $ours; purge them first" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/satvaro-deb-test.XXXXXX")
finish() {
  status=$?
  ours=$(known)
  # shellcheck disable=SC2086
  [ -z "$ours" ] || dpkg --purge $ours >/dev/null 2>&1 || true
  [ ! -f "$work/state-made" ] || rm -rf "$state"
  rm -rf -- "$work"
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT TERM

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
deb() {  # deb <package> [<architecture> [<dir>]]: its .deb
  for file in "${3:-$debs}/$1_"*"_${2:-$arch}.deb" "${3:-$debs}/$1_"*_all.deb; do
    [ -f "$file" ] && echo "$file" && return
  done
  echo "no $1 package in ${3:-$debs}" >&2
  return 1
}
# What a newcomer has: a plain PATH and none of the build's variables.
clean_env() {
  env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME="$work" "$@"
}
# As an upgrade installs them: apt orders the packages (the transitional one
# before those that break the former package). Images that keep dpkg from
# unpacking documentation (container images do) would drop the examples and
# man pages used here: they are let in.
install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    -o DPkg::Options::=--path-include=/usr/share/doc/*satvaro* \
    -o DPkg::Options::=--path-include=/usr/share/man/* "$@" > "$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; return 1; }
}

echo "== lintian"
lintian --fail-on error,warning "$debs"/*.changes || fail "lintian"

echo "== the exports in the symbols file"
dpkg-deb -I "$(deb libsatvaro1)" symbols | sed -n 's/^ \([^@]*\)@Base .*/\1/p' | sort > "$work/symbols"
cc -E -P -x c -I"$top/commands/include" "$top/commands/satvaro.map.in" -o "$work/satvaro.map"
"$top/tests/exports/map_names.sh" "$work/satvaro.map" | sort | diff "$work/symbols" - ||
  fail "the symbols file does not list the exports of the version script"
# The build fails when an export vanishes or appears (dpkg-gensymbols -c4).
mkdir "$work/root"
dpkg-deb -x "$(deb libsatvaro1)" "$work/root"
for change in "/CodigoErro@/d" '$a\ Extra@Base 1.0.1'; do
  sed "$change" "$top/debian/libsatvaro1.symbols" > "$work/changed.symbols"
  if (cd "$work" && dpkg-gensymbols -v"$version" -plibsatvaro1 -Proot -Ichanged.symbols -O/dev/null -c4 \
      -e"$work"/root/usr/lib/*/libsatvaro.so.1.*) >/dev/null 2>&1; then
    fail "dpkg-gensymbols -c4 accepts a symbols file changed by sed '$change'"
  fi
done

echo "== the former satvaro package, upgraded"
# Stand-in: the same files under the former package's name and version.
mkdir -p "$work/old/DEBIAN"
for package in $split; do dpkg-deb -x "$(deb "$package")" "$work/old"; done
printf 'Package: satvaro\nVersion: 1.0.1\nArchitecture: %s\nMaintainer: x <x@satvaro.invalid>\nDescription: stand-in\n' \
  "$arch" > "$work/old/DEBIAN/control"
echo "$hub_config" > "$work/old/DEBIAN/conffiles"
dpkg-deb --root-owner-group -b "$work/old" "$work/satvaro_1.0.1.deb" >/dev/null
dpkg -i "$work/satvaro_1.0.1.deb" >/dev/null
sed -i 's/^activation_code =.*/activation_code = 87654321/' "$hub_config"
# shellcheck disable=SC2046
install $(for package in $split satvaro; do deb "$package"; done) </dev/null
[ "$(dpkg-query -W -f='${Version}' satvaro)" = "$version" ] || fail "satvaro is not the transitional package"
grep -qx 'activation_code = 87654321' "$hub_config" || fail "the upgrade lost the administrator's $hub_config"
for package in $split; do
  dpkg -L "$package" | while IFS= read -r path; do
    [ -e "$path" ] || echo "FAIL: $package lost $path"
  done
done | tee "$work/lost" >&2
[ ! -s "$work/lost" ] || fail "files lost in the upgrade"

echo "== the library in the loader's cache"
ldconfig -p | grep -q "libsatvaro.so.1 .*=> .*/$multiarch/libsatvaro.so.1$" ||
  fail "libsatvaro.so.1 is not in the loader's cache"

echo "== the console, with SATVARO_DEVICE where there is no /dev/serial/by-id"
clean_env satvaro-harness --no-by-id --sim-arg --activated -- env SATVARO_DEVICE=/dev/ttyACM0 \
  "$top/tests/console/console_session.sh" "$work/console" /usr/share/doc/satvaro-tools/examples/venda.xml \
  zozivodivo || fail "the console session"

echo "== the examples against the system's library"
clean_env "$here/examples_test.sh" /usr/bin/satvaro-harness /usr/share/doc/libsatvaro-dev/examples \
  "$work/examples" > "$work/examples.log" 2>&1 || { cat "$work/examples.log"; fail "the examples"; }

echo "== the udev rule and the man pages"
python3 "$here/udev_rule_test.py" /usr/lib/udev/rules.d/60-satvaro.rules || fail "the installed udev rule"
for page in zozivodivo satvaro-sim satvaro-harness libsatvaro satvaro-hub; do
  man -w "$page" >/dev/null 2>&1 || fail "man does not find $page"
done

echo "== satvaro-hub: its user, its configuration, its unit, on the simulated device"
id -nG satvaro-hub 2>/dev/null | grep -qw dialout || fail "no system user satvaro-hub in group dialout"
[ "$(stat -c '%U %a' "$hub_config")" = "satvaro-hub 600" ] || fail "$hub_config is not its user's alone"
systemd-analyze verify /usr/lib/systemd/system/satvaro-hub.service || fail "systemd-analyze verify"
[ ! -e /etc/systemd/system/multi-user.target.wants/satvaro-hub.service ] || fail "the hub is enabled"
sed -e 's|^activation_code =.*|activation_code = 12345678|' -e 's|^port =.*|port = 0|' \
    -e "s|^state_dir =.*|state_dir = $work/hub/state|" -e "s|^work_dir =.*|work_dir = $work/hub/work|" \
    "$hub_config" > "$work/hub.conf"
chmod 600 "$work/hub.conf"
clean_env satvaro-harness --sim-arg --activated -- "$here/hub_session.sh" /usr/bin/satvaro-hub \
  "$work/hub.conf" /usr/share/doc/satvaro-tools/examples/venda.xml || fail "the installed satvaro-hub"

if [ -n "$debs32" ]; then
  echo "== libsatvaro1:i386 beside libsatvaro1:$arch, each program on its own"
  install "$(deb libsatvaro1 i386 "$debs32")" "$(deb libsatvaro-dev i386 "$debs32")"
  i686-linux-gnu-gcc -O2 -o "$work/consultar32" "$top/examples/c/consultar.c" \
    $(i686-linux-gnu-pkg-config --cflags --libs satvaro)
  # Where this kernel runs no 32-bit programs, qemu-user does.
  run32=""
  /lib/ld-linux.so.2 --version >/dev/null 2>&1 || run32=qemu-i386
  # on_its_own <its library's directory> <program> <how to list what it loads...>
  on_its_own() {
    program=$2 directory=$1
    shift 2
    "$@" "$program" | grep -q "libsatvaro.so.1 => .*/$directory/libsatvaro.so.1" ||
      fail "$program does not load the library in $directory"
    # shellcheck disable=SC2086
    clean_env satvaro-harness --workdir "$work/examples" -- $run "$program" >/dev/null ||
      fail "$program on the simulated device"
  }
  run=""
  on_its_own "$multiarch" "$work/examples/consultar" ldd
  run=$run32
  # shellcheck disable=SC2086
  on_its_own i386-linux-gnu "$work/consultar32" $run32 /lib/ld-linux.so.2 --list
fi

echo "== dpkg --purge"
[ -e "$state" ] || { mkdir "$state" && touch "$work/state-made"; }
journal=$state/deb-test-$$.db
touch "$journal"
ours=$(known)
for package in $ours; do dpkg-query -L "$package"; done | sort -u > "$work/files"
# shellcheck disable=SC2086
dpkg --purge $ours
while IFS= read -r path; do
  [ -e "$path" ] || [ -L "$path" ] || continue
  if [ -d "$path" ] && [ ! -L "$path" ] &&
     { dpkg-query -S "$path" >/dev/null 2>&1 || [ -n "$(ls -A "$path")" ]; }; then
    continue
  fi
  fail "left behind: $path"
done < "$work/files"
[ ! -e "$hub_config" ] || fail "the purge left $hub_config"
[ -f "$journal" ] || fail "the purge removed the hub's state directory"
rm -f "$journal"
getent passwd satvaro-hub >/dev/null || fail "the purge removed the system user"
ldconfig -p | grep -q libsatvaro && fail "libsatvaro is still in the loader's cache"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "deb_test.sh: all checks passed"
