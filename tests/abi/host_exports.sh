#!/usr/bin/env bash
# Checks the binary interface of the host libraries with readelf: each has its
# own soname and every symbol it exports carries the version ryx8.
set -euo pipefail
libdir=$1
status=0
for name in ryx8cms ryx8sys ryx8ldap ryx8pkix; do
    lib=$libdir/lib$name.so
    soname=$(readelf -d "$lib" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
    if [ "$soname" != "lib$name.so" ]; then
        echo "$lib: soname '$soname', expected lib$name.so"
        status=1
    fi
    # Defined global or weak symbols of the dynamic table, the version node itself excluded.
    exports=$(readelf -W --dyn-syms "$lib" |
        awk '$5 ~ /GLOBAL|WEAK/ && $7 != "UND" && $8 != "ryx8" {print $8}')
    if [ -z "$exports" ]; then
        echo "$lib: exports nothing"
        status=1
    fi
    bad=$(printf '%s\n' "$exports" | grep -v '@@ryx8$' || true)
    if [ -n "$bad" ]; then
        echo "$lib: exports not at version ryx8:"
        printf '  %s\n' $bad
        status=1
    fi
done
# The LDAP library exports exactly the functions its version script names (the
# linker ignores a name there that nothing defines).
mapfile=$(dirname "$0")/../../host/ldap/ryx8ldap.map
named=$(sed -n 's/^ *\(ryx_[a-z0-9_]*\);$/\1/p' "$mapfile" | sort)
exported=$(readelf -W --dyn-syms "$libdir/libryx8ldap.so" |
    awk '$5 ~ /GLOBAL|WEAK/ && $7 != "UND" && $8 != "ryx8" {sub(/@.*/, "", $8); print $8}' | sort)
if [ "$named" != "$exported" ]; then
    echo "libryx8ldap.so: exports differ from ryx8ldap.map:"
    diff <(printf '%s\n' "$named") <(printf '%s\n' "$exported") || true
    status=1
fi
exit $status
