#!/usr/bin/env bash
# cmake --install into a temporary prefix gives a relocatable tree: every run
# path of ours is $ORIGIN-relative, the plug-in is installed as built (binary
# interface unchanged), and the tree runs after a move, as does a copy of its
# bin/ and library folder alone.
#
#   install_test.sh BUILD-DIR PLUGIN-ABI-SCRIPT
set -euo pipefail
build=$1
abi=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/labcheck.sh"
top=$(mktemp -d /tmp/ryxinstall.XXXXXX)
trap 'rm -rf "$top"' EXIT
work=$top

timeout 120 cmake --install "$build" --prefix "$top/prefix" >/dev/null
# The private library folder: lib/<multiarch triplet>/ryx8 (lib/ryx8 without one).
libdir=$(cd "$top/prefix" && find lib -name libryx8cms.so -printf '%h\n')
[[ "$libdir" =~ ^lib(/[a-z0-9_]+-[a-z0-9_]+-[a-z0-9_]+)?/ryx8$ ]] || fail "library folder: '$libdir'"
for f in bin/ryxdir bin/ryxlab "$libdir"/libryx8{cms,sys,ldap,pkix,drld}.so \
    share/ryx8/octetstring-pki.schema share/doc/ryx8/copyright share/doc/ryx8/changelog.Debian.gz; do
    [ -f "$top/prefix/$f" ] || fail "not installed: $f"
done

for f in "$top"/prefix/bin/* "$top/prefix/$libdir"/*.so; do
    paths=$(readelf -dW "$f" | sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]/\2/p' | tr ':' '\n')
    while read -r p; do
        [ -z "$p" ] || [[ "$p" == '$ORIGIN'* ]] || fail "$f: run path entry $p"
    done <<<"$paths"
done
cmp "$build/lib/libryx8drld.so" "$top/prefix/$libdir/libryx8drld.so" || fail "plug-in changed on install"
bash "$abi" "$top/prefix/$libdir"

mv "$top/prefix" "$top/moved"
(lab_check "$top/moved/bin" "$top/moved/$libdir" "$top")
# ryxlab found the schema beside its own bin folder.
grep -q "include $top/moved/share/ryx8/octetstring-pki.schema" "$top/lab.conf" ||
    fail "ryxlab did not use the installed schema file"

mkdir -p "$top/copy/$libdir"
cp -r "$top/moved/bin" "$top/copy/"
cp -r "$top/moved/$libdir/." "$top/copy/$libdir/"
(lab_check "$top/copy/bin" "$top/copy/$libdir" "$top")
echo "install tree: ok"
