#!/usr/bin/env bash
# Ctrl+C and SIGTERM at random moments of runs that keep every thread busy and end with a large
# write: each run must end with 130 / 143 and leave the old output as it was, with no temporary
# file beside it. Fifty runs over three commands.
set -u
CLI=$1
source "$(dirname "${BASH_SOURCE[0]}")/cli_lib.sh"
export LIBGL_ALWAYS_SOFTWARE=1

# Large operands, so that a run takes a good part of a second and writes megabytes.
DIFFERENCE=(difference sphere:40,60,1 sphere:40,60,0.8 --offset 0.3,0,0 --sampling 0.006)
CLOSED=("${DIFFERENCE[@]}" --closed)
"$CLI" convert sphere:40,60,1 --sampling 0.006 -o big.obj >/dev/null 2>&1
CONVERT=(convert big.obj --sampling 0.006)
MILL=(mill cube:2 sphere:24,32,0.5 --offset 0.6,0.6,0.6 --x lin:0.1 --size 320x240 --closed
    --sampling 0.01 --frames 4 --out frame)

# Seconds one uninterrupted run of the command KIND takes; its output goes to KIND.obj.
duration() {
    local kind=$1
    shift
    local start=$EPOCHREALTIME
    "$CLI" "$@" -o "$kind.obj" >/dev/null 2>&1 || return 1
    echo "$start $EPOCHREALTIME" | awk '{ print $2 - $1 }'
}

set -m  # background jobs must not ignore SIGINT
kinds=(DIFFERENCE CLOSED CONVERT MILL)
declare -A seconds
for kind in "${kinds[@]}"; do
    declare -n command=$kind
    seconds[$kind]=$(duration "$kind" "${command[@]}") || seconds[$kind]=""
done
# Without a GL context mill cannot run; its trials go to the others.
[ -z "${seconds[MILL]}" ] && kinds=(DIFFERENCE CLOSED CONVERT)

late=0
for trial in $(seq 0 49); do
    kind=${kinds[$((trial % ${#kinds[@]}))]}
    declare -n command=$kind
    signal=INT
    expected=130
    if [ $((trial % 2)) -eq 1 ]; then
        signal=TERM
        expected=143
    fi
    # The first 25 trials anywhere in the first half of the run (as timed alone: a loaded
    # machine may run it faster later), where no signal may come late; the others anywhere up
    # to the end, the final write included, where one may.
    share=0.5
    [ "$trial" -ge 25 ] && share=1.0
    delay=$(awk -v s="${seconds[$kind]}" -v f=$share -v r=$RANDOM \
        'BEGIN { printf "%.3f", s * f * r / 32768 }')
    echo "keep me" >out.obj
    rm -f frame*
    "$CLI" "${command[@]}" -o out.obj >/dev/null 2>err.txt &
    pid=$!
    sleep "$delay"
    if ! kill -"$signal" "$pid" 2>/dev/null; then
        [ "$trial" -lt 25 ] && late=$((late + 1))  # it ended before the signal was sent
        wait "$pid"
        continue
    fi
    wait "$pid"
    rc=$?
    # A signal that comes once the output is in place stops nothing: the run ends with 0 and
    # the whole result (a lost signal would look the same, hence the count below).
    if [ "$rc" -eq 0 ] && cmp -s out.obj "$kind.obj"; then
        [ "$trial" -lt 25 ] && late=$((late + 1))
        continue
    fi
    what="$kind SIG$signal after $delay s"
    check "$what ends with $expected (got $rc)" test "$rc" -eq "$expected"
    check "$what leaves the output" test "$(cat out.obj)" = "keep me"
    check "$what leaves no temporary file" test -z "$(ls out.obj.* frame*.BMP.* 2>/dev/null)"
done
set +m
check "signals in the first half of a run are never late ($late late)" test "$late" -le 2

finish
