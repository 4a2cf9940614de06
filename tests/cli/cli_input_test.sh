#!/usr/bin/env bash
# Inputs a hostile or unlucky user gives korvan-cli: files that are not files, numbers that run
# into other text, meshes that hold no space.
set -u
CLI=$1
source "$(dirname "${BASH_SOURCE[0]}")/cli_lib.sh"

# Special files are refused at once, before anything could block or never end.
mkfifo fifo.obj fifo.stl
mkdir folder.obj
for input in fifo.obj fifo.stl folder.obj /dev/zero; do
    timeout 10 "$CLI" info "$input" >out.txt 2>err.txt
    rc=$?
    check "$input is refused at once (got $rc)" test "$rc" -eq 1
    check "$input is named" grep -qF "Datoteka $input nije obicna datoteka" err.txt
done

# A number ends at a blank or the end of its line.
printf 'v 0 0 0\nv 1-2 3\n' >glued.obj
run info glued.obj
check "a number that runs on is refused" test "$rc" -eq 1
check "with its line and column" grep -qF 'redak 2, stupac 3: "1-2" nije ispravan broj' err.txt

# Ten thousand faces on one point: warned about, and refused by the closed engine for what
# is wrong with them.
{
    echo "v 0.5 0.5 0.5"
    for _ in $(seq 10000); do echo "f 1 1 1"; done
} >point.obj
run info point.obj --sampling 0
check "faces on one point are read" test "$rc" -eq 0
check "and warned about" grep -qF "Upozorenje: 10000 trokuta nema povrsinu" err.txt
check "they hold no volume" grep -qF "Upozorenje: tijelo nema volumen" err.txt
printf 'v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 3 2\n' >sheet.obj
run difference cube:1 sheet.obj --closed -o out.obj
check "a sheet seen from both sides is refused" test "$rc" -eq 1
check "as having no volume" grep -qF "Objekt 2 nema volumen" err.txt
check "not as inside out" test -z "$(grep -F "okrenut iznutra" err.txt)"

# A file of short lines that would promise more triangles than memory holds: its first bad
# line is named, not the memory. Skipped where the tool cannot run in so little address space
# (a sanitizer build).
printf 'v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n' >tri.obj
if (ulimit -v 200000 && "$CLI" info tri.obj --sampling 0 >/dev/null 2>&1; exit $?) 2>/dev/null; then
    yes f | head -n 5000000 >faces.obj
    (ulimit -v 200000 && "$CLI" info faces.obj >out.txt 2>err.txt)
    check "a file of bare face lines gives 1" test $? -eq 1
    check "its first line is named" grep -qF "faces.obj, redak 1: ploha nema tri" err.txt
    rm -f faces.obj
fi

finish
