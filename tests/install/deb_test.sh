#!/usr/bin/env bash
# CPack's .deb: its control fields, its file list and lintian (no errors), then
# its tree run against ryxlab's demo directory. By default the package is
# unpacked with dpkg-deb -x into a temporary folder; with --dpkg (as root, in
# CI) it is installed with dpkg, found on PATH and by man, and removed again,
# leaving no file behind.
#
#   deb_test.sh BUILD-DIR PLUGIN-ABI-SCRIPT [--dpkg]
set -euo pipefail
build=$1
abi=$2
mode=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/labcheck.sh"
top=$(mktemp -d /tmp/ryxdeb.XXXXXX)
cleanup() {
    [ "$mode" != --dpkg ] || dpkg -r ryx8 >/dev/null 2>&1 || true
    rm -rf "$top"
}
trap cleanup EXIT
work=$top

timeout 300 cpack -G DEB --config "$build/CPackConfig.cmake" -B "$top/out" >"$top/cpack.log" 2>&1 || {
    cat "$top/cpack.log" >&2
    fail "cpack failed"
}
deb=$(echo "$top"/out/ryx8_*.deb)
[ -f "$deb" ] || fail "no package built"
field() { dpkg-deb -f "$deb" "$1"; }
depends=$(field Depends)
for p in libssl3 libldap-2.5-0; do
    [[ "$depends" == *"$p "* ]] || fail "Depends lacks $p: $depends"
done
[ "$(field Recommends)" = slapd ] || fail "slapd is not recommended"
[[ "$depends" != *slapd* ]] || fail "slapd is a hard dependency"
for f in Section Priority Installed-Size; do
    [ -n "$(field $f)" ] || fail "no $f field"
done
version=$(field Version)
zcat <(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/ryx8/changelog.Debian.gz) |
    head -1 | grep -qF "ryx8 ($version)" || fail "changelog does not start at $version"

# Paths of ours, without the folders the system owns.
dpkg-deb -c "$deb" | awk '{print substr($6, 2)}' | grep -v '/$' >"$top/files"
lib=$(sed -n 's|/libryx8cms.so$||p' "$top/files")
[[ "$lib" =~ ^/usr/lib/[a-z0-9_]+-[a-z0-9_]+-[a-z0-9_]+/ryx8$ ]] || fail "library folder: '$lib'"
for f in /usr/bin/ryxdir /usr/bin/ryxlab "$lib/libryx8drld.so" /usr/share/ryx8/octetstring-pki.schema \
    /usr/share/doc/ryx8/copyright /usr/share/man/man1/ryxdir.1.gz /usr/share/man/man1/ryxlab.1.gz \
    /usr/share/bash-completion/completions/ryxdir /usr/share/bash-completion/completions/ryxlab; do
    grep -qxF "$f" "$top/files" || fail "not in the package: $f"
done
! grep -v '^/usr/' "$top/files" || fail "files outside /usr"

# Errors fail; warnings and the rest are shown.
timeout 300 lintian --fail-on error --tag-display-limit 0 "$deb" >"$top/lintian.out" 2>&1 || {
    cat "$top/lintian.out" >&2
    fail "lintian found errors"
}
grep -v 'root privileges' "$top/lintian.out" | sed 's/^/lintian: /' || true

if [ "$mode" = --dpkg ]; then
    [ "$(id -u)" -eq 0 ] || fail "--dpkg needs root"
    ! dpkg -s ryx8 >/dev/null 2>&1 || fail "ryx8 is installed already; remove it first"
    timeout 120 dpkg -i "$deb" >/dev/null
    [ "$(command -v ryxdir)" = /usr/bin/ryxdir ] || fail "ryxdir on PATH is '$(command -v ryxdir)'"
    [ "$(man -w ryxdir)" = /usr/share/man/man1/ryxdir.1.gz ] || fail "man -w ryxdir: $(man -w ryxdir)"
    root=
else
    dpkg-deb -x "$deb" "$top/root"
    root=$top/root
fi
if "$root/usr/bin/ryxdir" --version >"$top/version" 2>/dev/null; then
    grep -qF "${version%-*}" "$top/version" || fail "ryxdir --version says $(cat "$top/version"), not ${version%-*}"
fi
bash "$abi" "$root$lib"
(lab_check "$root/usr/bin" "$root$lib" "$top")

if [ "$mode" = --dpkg ]; then
    timeout 120 dpkg -r ryx8 >/dev/null
    while read -r f; do
        [ ! -e "$f" ] || fail "left after dpkg -r: $f"
    done <"$top/files"
    for d in "$lib" /usr/share/ryx8 /usr/share/doc/ryx8; do
        [ ! -e "$d" ] || fail "left after dpkg -r: $d"
    done
fi
echo "deb package: ok"
