# Shared by the command-line tests (sourced after CLI is set): a scratch folder that is removed
# at exit, `check NAME CONDITION...`, `run ARGS...` (sets rc, out, err) and `finish`, which
# prints the count and fails when any check did.
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1

passed=0
failed=0
check() {
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $name" >&2
    fi
}
run() {
    "$CLI" "$@" >out.txt 2>err.txt
    rc=$?
    out=$(cat out.txt)
    err=$(cat err.txt)
}
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
