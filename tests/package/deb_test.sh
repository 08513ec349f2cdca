#!/bin/sh
# deb_test.sh <satvaro_*.deb>: installs the Debian package into THIS system,
# uses it as a newcomer would (no LD_LIBRARY_PATH), and removes and purges it
# again, checking each step. Run by `make package-check` (as root, or through
# sudo); refuses to run where satvaro is already installed, and removes the
# package on any failure.
set -eu
deb=$(readlink -f -- "$1")
here=$(dirname -- "$(readlink -f -- "$0")")
package=satvaro

if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "deb_test.sh: run as root" >&2; exit 1; }
  exec sudo -- "$0" "$@"
fi

if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
  echo "deb_test.sh: $package is already installed here; remove it first (dpkg -r $package)" >&2
  exit 1
fi

# Images that keep dpkg from unpacking documentation (container images do)
# would drop the examples and man pages this test uses: let them in for
# this package.
install_package() {
  if grep -hs '^path-exclude.*/usr/share/\(doc\|man\)' /etc/dpkg/dpkg.cfg /etc/dpkg/dpkg.cfg.d/*; then
    dpkg --path-include="/usr/share/doc/$package/*" --path-include="/usr/share/man/*" -i "$1"
  else
    dpkg -i "$1"
  fi
}

work=$(mktemp -d "${TMPDIR:-/tmp}/satvaro-deb-test.XXXXXX")
installed=0
finish() {
  status=$?
  if [ "$installed" = 1 ]; then
    dpkg --purge "$package" >/dev/null 2>&1 || true
  fi
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
# The loader's cache, as "name => path" lines.
cached() {
  ldconfig -p | grep -F "$1" || true
}
# What a newcomer has: a plain PATH and none of the build's variables.
clean_env() {
  env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME="$work" "$@"
}

echo "== the package"
dpkg-deb -f "$deb" Depends | grep -qw zlib1g || fail "Depends does not name zlib1g"
# Under /usr, but for the hub's configuration, a conffile.
hub_config=/etc/satvaro/hub.conf
outside=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/' |
  grep -vxE '\./(etc/(satvaro/(hub\.conf)?)?)?' || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"
dpkg-deb --info "$deb" conffiles | grep -qx "$hub_config" || fail "$hub_config is not a conffile"
[ -z "$(cached libsatvaro)" ] || fail "libsatvaro is in the loader's cache before installation"

echo "== dpkg -i"
installed=1
install_package "$deb"
dpkg -L "$package" > "$work/files"

echo "== the library in the loader's cache"
cached libsatvaro
cached "libsatvaro.so.1 " | grep -q "=> /.*/libsatvaro.so.1$" ||
  fail "libsatvaro.so.1 is not in the loader's cache"
cached "libsatvaro.so " | grep -q "=> /.*/libsatvaro.so$" ||
  fail "libsatvaro.so (the console's name) is not in the loader's cache"

echo "== the console from /usr/bin on the simulated device"
mkdir "$work/console"
printf '12345678\n1\n6\n7\nq\n' |
  clean_env /usr/bin/satvaro-harness --sim-arg --activated --workdir "$work/console" -- \
    /usr/bin/zozivodivo -f /usr/share/doc/satvaro/examples/venda.xml > "$work/session" 2>&1 ||
  fail "the console session failed"
for expected in "Driver Sat Varo v01.00.01.001" "|08000|" "|06000|" "|07000|" "Saindo..."; do
  grep -qF -- "$expected" "$work/session" || fail "the console session lacks $expected"
done
if grep -q "Driver SAT" "$work/session"; then
  fail "the console could not load the library"
fi
ls "$work"/console/logsDrs/logDrs*.log >/dev/null 2>&1 || fail "no driver log in the console's directory"
[ "$failures" -eq 0 ] || cat "$work/session"

echo "== the examples against the system's library"
clean_env "$here/examples_test.sh" /usr/bin/satvaro-harness /usr/share/doc/satvaro/examples \
  "$work/examples" || fail "the examples failed"

echo "== the udev rule and the man pages"
rule=$(grep '/udev/rules.d/60-satvaro.rules$' "$work/files" || true)
[ -f "$rule" ] || fail "no udev rule in a rules.d directory"
[ -z "$rule" ] || python3 "$here/udev_rule_test.py" "$rule" || fail "the installed udev rule"
for page in zozivodivo satvaro-sim satvaro-harness libsatvaro satvaro-hub; do
  man -w "$page" >/dev/null 2>&1 || fail "man does not find $page"
done

echo "== satvaro-hub: its user, its configuration, its unit, on the simulated device"
id -nG satvaro-hub 2>/dev/null | grep -qw dialout || fail "no system user satvaro-hub in group dialout"
[ "$(stat -c '%U %a' "$hub_config")" = "satvaro-hub 600" ] || fail "$hub_config is not its user's alone"
unit=$(grep '/systemd/system/satvaro-hub\.service$' "$work/files" || true)
systemd-analyze verify "$unit" || fail "systemd-analyze verify $unit"
# The installed configuration with the simulated device's code, its own port
# and directories.
sed -e 's|^activation_code =.*|activation_code = 12345678|' -e 's|^port =.*|port = 0|' \
    -e "s|^state_dir =.*|state_dir = $work/hub/state|" -e "s|^work_dir =.*|work_dir = $work/hub/work|" \
    "$hub_config" > "$work/hub.conf"
chmod 600 "$work/hub.conf"
clean_env /usr/bin/satvaro-harness --sim-arg --activated -- "$here/hub_session.sh" /usr/bin/satvaro-hub \
  "$work/hub.conf" /usr/share/doc/satvaro/examples/venda.xml || fail "the installed satvaro-hub"

echo "== dpkg -r"
dpkg -r "$package"
# Every file, link and directory of the package is gone, but for its conffile
# (until the purge) and directories that other packages own or that hold
# other files.
while IFS= read -r path; do
  [ -e "$path" ] || [ -L "$path" ] || continue
  [ "$path" != "$hub_config" ] || continue
  if [ -d "$path" ] && [ ! -L "$path" ] &&
     { dpkg-query -S "$path" >/dev/null 2>&1 || [ -n "$(ls -A "$path")" ]; }; then
    continue
  fi
  fail "left behind: $path"
done < "$work/files"
[ -z "$(cached libsatvaro)" ] || fail "libsatvaro is still in the loader's cache"
# Its maintainer scripts keep dpkg's record until the purge.
dpkg --purge "$package"
installed=0
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -qv "not-installed"; then
  fail "dpkg still knows $package: $(dpkg-query -W -f='${Status}' "$package")"
fi
[ ! -e "$hub_config" ] || fail "the purge left $hub_config"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "deb_test.sh: all checks passed"
