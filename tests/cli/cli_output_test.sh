#!/usr/bin/env bash
# Exit status 1 means that nothing was written or changed: failed writes to standard output
# (a full disk, a closed pipe) and failures part way through leave the outputs as they were.
# Output names that are long or that loop.
set -u
CLI=$1
source "$(dirname "${BASH_SOURCE[0]}")/cli_lib.sh"
export LIBGL_ALWAYS_SOFTWARE=1

# Standard output is written before the output file is put in place.
for command in "difference cube:1 sphere:8,12,0.6 --sampling 0.1" \
    "difference cube:1 sphere:8,12,0.6 --sampling 0.1 --json" "convert cube:1 --sampling 0.1"; do
    echo "keep me" >kept.obj
    # shellcheck disable=SC2086
    "$CLI" $command -o kept.obj >/dev/full 2>err.txt
    rc=$?
    check "$command to a full stdout gives 1 (got $rc)" test "$rc" -eq 1
    check "$command to a full stdout leaves the output" test "$(cat kept.obj)" = "keep me"
    check "$command to a full stdout says why" grep -qF "standardni izlaz" err.txt
done

# A reader that goes away: an ordinary write error, not SIGPIPE.
"$CLI" info cube:1 --sampling 0 --json 2>err.txt | (exec 0<&-; sleep 0.5)
rc=${PIPESTATUS[0]}
check "a closed pipe gives 1 (got $rc)" test "$rc" -eq 1
check "a closed pipe is told" grep -qF "standardni izlaz" err.txt
"$CLI" difference cube:1 sphere:8,12,0.6 --sampling 0.1 -o piped.obj 2>err.txt |
    (exec 0<&-; sleep 0.5)
rc=${PIPESTATUS[0]}
check "a closed pipe before the write gives 1 (got $rc)" test "$rc" -eq 1
check "and writes nothing" test ! -e piped.obj

# Output names: as long as the file system allows, and loops of links refused.
long=$(printf 'n%.0s' $(seq 250)).obj
run convert cube:1 --sampling 0 -o "$long"
check "a 254-character name is written (got $rc)" test "$rc" -eq 0 -a -s "$long"
check "and leaves no temporary" test "$(ls | grep -c '^nnnn')" -eq 1
ln -s loop-b.obj loop-a.obj
ln -s loop-a.obj loop-b.obj
run convert cube:1 --sampling 0 -o loop-a.obj
check "a loop of links is refused" test "$rc" -eq 1
check "with the system's reason" grep -qF "loop-a.obj: Too many levels of symbolic links" err.txt
check "and stays a link" test -L loop-a.obj -a -L loop-b.obj

# A mill that fails part way removes the frames it wrote: here object 1 is larger than the
# file-size limit, the frames are not.
run render cube:1 -o probe.png --size 16x16
if [ "$rc" -eq 0 ]; then
    M=(mill cube:2 sphere:8,12,0.3 --offset 0.9,0.9,0.9 --x lin:0.5 --size 64x48 --sampling 0.05
        --frames 3 --out f)
    (ulimit -f 40 && "$CLI" "${M[@]}" -o final.obj >out.txt 2>err.txt)
    check "a mill whose object 1 cannot be written gives 1" test $? -eq 1
    check "and removes its frames" test -z "$(ls f0*.BMP 2>/dev/null)"
    check "and says so" grep -qF "Zapisane slike ove animacije su uklonjene (3)" err.txt
    check "and writes no object 1" test ! -e final.obj
    "$CLI" "${M[@]}" >/dev/full 2>err.txt
    check "a mill whose report cannot be written gives 1" test $? -eq 1
    check "and removes its frames too" test -z "$(ls f0*.BMP 2>/dev/null)"
    "$CLI" render cube:1 -o kept.png --size 16x16 >/dev/full 2>err.txt
    check "render to a full stdout gives 1" test $? -eq 1 -a ! -e kept.png
fi

finish
