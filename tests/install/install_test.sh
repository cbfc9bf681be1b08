#!/usr/bin/env bash
# cmake --install into a temporary prefix gives a relocatable tree: every run
# path of ours is $ORIGIN-relative, the plug-in is installed as built (binary
# interface unchanged), and the tree runs after a move, as does a copy of its
# bin/ and lib/ alone.
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
for f in bin/ryxdir bin/ryxlab lib/libryx8cms.so lib/libryx8sys.so lib/libryx8ldap.so lib/libryx8pkix.so \
    lib/libryx8drld.so share/ryx8/octetstring-pki.schema; do
    [ -f "$top/prefix/$f" ] || fail "not installed: $f"
done

for f in "$top"/prefix/bin/* "$top"/prefix/lib/*.so; do
    paths=$(readelf -dW "$f" | sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]/\2/p' | tr ':' '\n')
    while read -r p; do
        [ -z "$p" ] || [[ "$p" == '$ORIGIN'* ]] || fail "$f: run path entry $p"
    done <<<"$paths"
done
cmp "$build/lib/libryx8drld.so" "$top/prefix/lib/libryx8drld.so" || fail "plug-in changed on install"
bash "$abi" "$top/prefix/lib"

mv "$top/prefix" "$top/moved"
(lab_check "$top/moved/bin" "$top")
# ryxlab found the schema beside its own bin folder.
grep -q "include $top/moved/share/ryx8/octetstring-pki.schema" "$top/lab.conf" ||
    fail "ryxlab did not use the installed schema file"

mkdir "$top/copy"
cp -r "$top/moved/bin" "$top/moved/lib" "$top/copy/"
(lab_check "$top/copy/bin" "$top")
echo "install tree: ok"
