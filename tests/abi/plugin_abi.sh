#!/usr/bin/env bash
# Checks the binary interface of the plug-in libryx8drld.so with readelf:
#   - soname libryx8drld.so, run path and library run path both $ORIGIN;
#   - needed libraries libryx8cms.so, libryx8sys.so, then the thread,
#     dynamic-loading, language run-time, math and C libraries, and no LDAP library;
#   - exactly three exports, all at version ryx8, the two data objects read-only;
#   - versions defined: the base version and ryx8 only;
#   - every host symbol it binds is at ryx8 and comes from libryx8cms.so.
#
#   plugin_abi.sh LIBDIR [sanitized]
#
# In a sanitized build the sanitizer run-times come first among the needed
# libraries and their symbols are unversioned; "sanitized" lets both pass.
set -euo pipefail
lib=$1/libryx8drld.so
sanitized=${2:-}
status=0
fail() {
    echo "$lib: $*"
    status=1
}

[ -f "$lib" ] || { echo "$lib: missing"; exit 1; }
dynamic=$(readelf -dW "$lib")

soname=$(sed -n 's/.*(SONAME).*Library soname: \[\(.*\)\]/\1/p' <<<"$dynamic")
[ "$soname" = libryx8drld.so ] || fail "soname '$soname', expected libryx8drld.so"

runpath=$(sed -n 's/.*(RUNPATH).*Library runpath: \[\(.*\)\]/\1/p' <<<"$dynamic")
rpath=$(sed -n 's/.*(RPATH).*Library rpath: \[\(.*\)\]/\1/p' <<<"$dynamic")
[ "$runpath" = '$ORIGIN' ] || fail "run path '$runpath', expected \$ORIGIN"
[ "$rpath" = '$ORIGIN' ] || fail "library run path '$rpath', expected \$ORIGIN"
if grep -q '(AUXILIARY)\|(FILTER)' <<<"$dynamic"; then
    fail "has a filter entry (auxiliary or filter)"
fi

needed=$(sed -n 's/.*(NEEDED).*Shared library: \[\(.*\)\]/\1/p' <<<"$dynamic")
if [ "$sanitized" = sanitized ]; then
    needed=$(grep -v '^lib\(a\|ub\|l\|t\)san\.so' <<<"$needed" || true)
fi
expected='libryx8cms.so
libryx8sys.so
libpthread.so.0
libdl.so.2
libstdc++.so.6
libgcc_s.so.1
libm.so.6
libc.so.6'
if [ "$needed" != "$expected" ]; then
    fail "needed libraries, in order:"
    printf '    %s\n' $needed
    echo "  expected:"
    printf '    %s\n' $expected
fi
if grep -qi 'ldap\|lber' <<<"$needed"; then
    fail "needs an LDAP library"
fi

syms=$(readelf -W --dyn-syms "$lib")
# Defined global or weak symbols, the version node itself excluded.
exports=$(awk '$5 ~ /GLOBAL|WEAK/ && $7 != "UND" && $8 != "ryx8" {print $8}' <<<"$syms" | sort)
want='ryxdrld_Copyright@@ryx8
ryxdrld_SCCSInfo@@ryx8
ryxdrld_loaded_from@@ryx8'
if [ "$exports" != "$want" ]; then
    fail "exports:"
    printf '    %s\n' $exports
    echo "  expected:"
    printf '    %s\n' $want
fi
kind() { awk -v n="$1@@ryx8" '$8 == n {print $4}' <<<"$syms"; }
[ "$(kind ryxdrld_loaded_from)" = FUNC ] || fail "ryxdrld_loaded_from is not a function"
# The data objects live in a section that is neither writable nor executable.
sections=$(readelf -SW "$lib")
for name in ryxdrld_Copyright ryxdrld_SCCSInfo; do
    [ "$(kind $name)" = OBJECT ] || fail "$name is not a data object"
    index=$(awk -v n="$name@@ryx8" '$8 == n {print $7}' <<<"$syms")
    flags=$(sed 's/^ *\[ *\([0-9]*\)\]/\1 /' <<<"$sections" |
        awk -v i="$index" '$1 == i {print $8}')
    if [ -z "$flags" ] || [[ "$flags" == *W* ]] || [[ "$flags" == *X* ]] ||
        [[ "$flags" != *A* ]]; then
        fail "$name is in section $index with flags '$flags', expected read-only data"
    fi
done

versions=$(readelf -VW "$lib")
defined=$(sed -n '/version_d/,/^$/p' <<<"$versions" |
    sed -n 's/.*Index: \([0-9]*\).*Name: \(.*\)$/\1 \2/p')
if [ "$defined" != "1 libryx8drld.so
2 ryx8" ]; then
    fail "versions defined:"
    printf '    %s\n' "$defined"
fi

# Version needs: the file each needed version comes from.
needs=$(sed -n '/version_r/,/^$/p' <<<"$versions" | awk '
    /File:/ {for (i = 1; i <= NF; i++) if ($i == "File:") file = $(i + 1)}
    /Name:/ {for (i = 1; i <= NF; i++) if ($i == "Name:") print file, $(i + 1)}')
ryx8from=$(awk '$2 == "ryx8" {print $1}' <<<"$needs")
[ "$ryx8from" = libryx8cms.so ] || fail "version ryx8 needed from '$ryx8from', expected libryx8cms.so"
if grep -q '^libryx8sys.so ' <<<"$needs"; then
    fail "binds symbols from libryx8sys.so"
fi
# Undefined symbols that the host libraries define: each at ryx8 and defined by
# libryx8cms.so.
defined() {
    readelf -W --dyn-syms "$1" | awk '$7 != "UND" && $5 ~ /GLOBAL|WEAK/ {sub(/@.*/, "", $8); print $8}' |
        sort -u
}
cmsnames=$(defined "$(dirname "$lib")/libryx8cms.so")
sysnames=$(defined "$(dirname "$lib")/libryx8sys.so")
undefined=$(awk '$7 == "UND" && $8 != "" {print $8}' <<<"$syms")
hostsyms=0
while read -r sym; do
    [ -n "$sym" ] || continue
    name=${sym%%@*}
    if grep -qxF "$name" <<<"$cmsnames"; then
        hostsyms=$((hostsyms + 1))
        [ "$sym" = "$name@ryx8" ] || fail "host symbol bound as $sym, expected $name@ryx8"
    elif grep -qxF "$name" <<<"$sysnames"; then
        fail "binds $sym, which only libryx8sys.so defines"
    fi
done <<<"$undefined"
[ "$hostsyms" -gt 0 ] || fail "binds no host symbol"
# Everything else at the system's versions; unversioned only the weak hooks of
# the C run-time (in a sanitized build also whatever the sanitizer run-time,
# which has no versions, defines).
if [ "$sanitized" != sanitized ]; then
    unversioned=$(awk '$7 == "UND" && $8 != "" && $8 !~ /@/ && $5 != "WEAK" {print $8}' <<<"$syms")
    if [ -n "$unversioned" ]; then
        fail "binds unversioned symbols:"
        printf '    %s\n' $unversioned
    fi
fi
other=$(awk '$7 == "UND" && $8 ~ /@/ {sub(/.*@/, "", $8); sub(/ .*/, "", $8); print $8}' <<<"$syms" |
    grep -v '^ryx8$\|^GLIBC_\|^GLIBCXX_\|^CXXABI_\|^GCC_' | sort -u || true)
if [ -n "$other" ]; then
    fail "binds symbols at unexpected versions:"
    printf '    %s\n' $other
fi
exit $status
