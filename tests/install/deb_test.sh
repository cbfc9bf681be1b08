#!/usr/bin/env bash
# CPack's .deb: its control fields, then its tree run against ryxlab's demo
# directory. By default the package is unpacked with dpkg-deb -x into a
# temporary folder; with --dpkg (as root, in CI) it is installed with dpkg and
# removed again.
#
#   deb_test.sh BUILD-DIR [--dpkg]
set -euo pipefail
build=$1
mode=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/labcheck.sh"
top=$(mktemp -d /tmp/ryxdeb.XXXXXX)
cleanup() {
    [ "$mode" != --dpkg ] || dpkg -r ryx8 >/dev/null 2>&1 || true
    rm -rf "$top"
}
trap cleanup EXIT
work=$top

timeout 300 cpack -G DEB --config "$build/CPackConfig.cmake" -B "$top/out" >/dev/null
deb=$(echo "$top"/out/ryx8_*.deb)
[ -f "$deb" ] || fail "no package built"
depends=$(dpkg-deb -f "$deb" Depends)
for p in libssl3 libldap-2.5-0; do
    [[ "$depends" == *"$p "* ]] || fail "Depends lacks $p: $depends"
done
[ "$(dpkg-deb -f "$deb" Recommends)" = slapd ] || fail "slapd is not recommended"
[[ "$depends" != *slapd* ]] || fail "slapd is a hard dependency"

if [ "$mode" = --dpkg ]; then
    [ "$(id -u)" -eq 0 ] || fail "--dpkg needs root"
    ! dpkg -s ryx8 >/dev/null 2>&1 || fail "ryx8 is installed already; remove it first"
    timeout 120 dpkg -i "$deb" >/dev/null
    root=
else
    dpkg-deb -x "$deb" "$top/root"
    root=$top/root
fi
(lab_check "$root/opt/ryx8/bin" "$top")
echo "deb package: ok"
