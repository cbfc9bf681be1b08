# Shared by the installation tests (sourced): runs an installed ryxlab and
# ryxdir against each other. Every command is bounded in time.
#
#   lab_check BIN LIB WORK   starts a demo directory with BIN/ryxlab in
#                            WORK/lab, runs BIN/ryxdir against it (the plug-in
#                            must come from LIB), stops it again
#   run WANT CMD...          runs CMD, fails unless it exits with WANT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

run() {
    local want=$1 got=0
    shift
    timeout 60 "$@" >"$work/run.out" 2>"$work/run.err" || got=$?
    if [ "$got" -ne "$want" ]; then
        cat "$work/run.out" "$work/run.err" >&2
        fail "exit $got, expected $want: $*"
    fi
}

lab_check() {
    local bin=$1 lib=$2
    work=$3
    local lab=$work/lab
    trap 'timeout 30 "'"$bin"'/ryxlab" stop "'"$lab"'" >/dev/null 2>&1 || true' EXIT
    run 0 "$bin/ryxlab" start "$lab"
    cp "$lab/slapd/slapd.conf" "$work/lab.conf"
    # shellcheck disable=SC1091
    . "$lab/env"
    run 0 "$bin/ryxdir" loaded-from
    [ "$(cat "$work/run.out")" = "$(cd "$lib" && pwd -P)/libryx8drld.so" ] ||
        fail "plug-in loaded from $(cat "$work/run.out")"
    # ryxdir links the LDAP library the plug-in reaches: one copy, set up once.
    run 0 env LD_DEBUG=files "$bin/ryxdir" $RYX_LAB_OPTS check
    [ "$(grep -c 'calling init: .*libryx8ldap\.so' "$work/run.err")" = 1 ] ||
        fail "the LDAP library was not loaded exactly once"
    run 0 "$bin/ryxdir" $RYX_LAB_OPTS ca "$RYX_LAB_CA_DN"
    run 0 "$bin/ryxdir" $RYX_LAB_OPTS verify --trust "$lab/root.pem" "$lab/alice.pem"
    run 6 "$bin/ryxdir" $RYX_LAB_OPTS verify --trust "$lab/root.pem" "$lab/bob.pem"
    run 0 "$bin/ryxlab" stop "$lab"
    [ ! -e "$lab" ] || fail "ryxlab stop left $lab"
    trap - EXIT
}
