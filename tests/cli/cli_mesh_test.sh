#!/usr/bin/env bash
# korvan-cli info, convert and demo as a user runs them: exit statuses, messages, files.
set -u
CLI=$1
DATA=$2
source "$(dirname "${BASH_SOURCE[0]}")/cli_lib.sh"

run info cube:1
check "info exits 0" test "$rc" -eq 0
check "info prints the statistics" test "$out" = $'[Objekt 1]\nBroj vrhova: 98300\nBroj trokuta: 98304'
check "info announces generation on stderr" grep -q "Generiranje novog trijela" err.txt

run info cube:1 --sampling 0 --json
check "json exits 0" test "$rc" -eq 0
for key in '"vertices": 8' '"triangles": 12' '"edge_limit": 0' '"min_corner": [-0.5, -0.5, -0.5]' \
    '"max_corner": [0.5, 0.5, 0.5]' '"open_edges": 0' '"nonmanifold_edges": 0' '"volume": 1'; do
    check "json has $key" grep -qF "$key" out.txt
done

if [ -d "$DATA" ]; then
    run info "$DATA/npm-bunny.obj" --sampling 0.05 --json
    check "bunny is read" grep -qF '"triangles":' out.txt
    check "bunny read is announced" grep -qF "Citanje objekta 1 iz datoteke..." err.txt
    run info "$DATA/open-npm-teapot.obj" --sampling 0 --json
    check "an open mesh shows its open edges" grep -qE '"open_edges": [1-9]' out.txt
    check "the user is told it is open" grep -qF "nije zatvoreno" err.txt
    run convert "$DATA/full-style/cura-tinyboy-ra20.obj" -o a.obj
    run convert "$DATA/full-style/cura-tinyboy-ra20.obj" -o b.obj
    check "convert is deterministic" cmp -s a.obj b.obj
fi

for bad in sphere:2,10,1 sphere:3,3 sphere:3,3,0.0001 cube:10001 box:1,1,0 cylinder:3,1 \
    cone:1001,1,1 cube:abc cube:nan cube:1,2 "cube:1e3x"; do
    run info "$bad"
    check "$bad refused with status 1" test "$rc" -eq 1
    check "$bad message" test "$err" = "Nedozvoljena vrijednost parametra"
done
run info sphere:3,1000,10000
check "largest admitted values accepted" test "$rc" -eq 0

run info missing.obj
check "missing file gives 1" test "$rc" -eq 1
check "missing file is named" grep -q "missing.obj" err.txt

printf 'v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 7\n' >bad.obj
run convert bad.obj -o out.obj
check "bad file gives 1" test "$rc" -eq 1
check "bad file names the line" grep -q "redak 4" err.txt
check "nothing written for a bad file" test ! -e out.obj

# Files that hold no mesh are refused, the old output kept.
: >empty.obj
printf 'v 0 0 0\nv 1 0 0\n' >vertices.obj
head -c 300 /dev/zero >zeros.obj
for notmesh in empty.obj vertices.obj zeros.obj; do
    echo "keep me" >kept.obj
    run difference "$notmesh" cube:1 -o kept.obj
    check "$notmesh is refused" test "$rc" -eq 1
    check "$notmesh leaves the output" test "$(cat kept.obj)" = "keep me"
done
printf 'v 3e38 0 0\nv 2e38 0 0\nv 3e38 1 0\nf 1 2 3\n' >huge.obj
run info huge.obj --json
check "coordinates beyond float range are refused" test "$rc" -eq 1 -a -z "$out"

echo "keep me" >existing.obj
run convert bad.obj -o existing.obj
check "existing output untouched" test "$(cat existing.obj)" = "keep me"
run convert cube:2 --sampling 1 -o existing.obj
check "convert exits 0" test "$rc" -eq 0
check "convert writes the header" test "$(head -1 existing.obj)" = "# 3d tijelo u .obj formatu"
check "convert writes all lines" test "$(wc -l <existing.obj)" -eq 21
check "convert reports counts" grep -qF "12 tokuta,  8 vrhova" out.txt

run convert cube:1 -o "$WORK/no/such/dir/x.obj"
check "unwritable output gives 1" test "$rc" -eq 1
check "unwritable output message" test "$err" = \
    $'Generiranje novog trijela\nGreska kod spremanja!\n'"$WORK/no/such/dir/x.obj: No such file or directory"

# Output paths that are not plain files: a link is followed, anything else refused.
echo old >target.obj
ln -s target.obj link.obj
run convert cube:1 --sampling 0 -o link.obj
check "a link stays a link" test -L link.obj
check "the file behind the link is replaced" test "$(head -1 target.obj)" = "# 3d tijelo u .obj formatu"
mkfifo fifo.obj
run convert cube:1 --sampling 0 -o fifo.obj
check "a FIFO is refused" test "$rc" -eq 1 -a -p fifo.obj
run convert cube:1 --sampling 0 -o /dev/null
check "a device is refused" test "$rc" -eq 1 -a -c /dev/null
check "the reason is given" grep -qF "/dev/null: nije obicna datoteka" err.txt

# A file-size limit fails the write with the usual message and leaves the old file.
echo "keep me" >limited.obj
(ulimit -f 16 && "$CLI" convert cube:1 -o limited.obj >out.txt 2>err.txt)
check "a file-size limit gives 1" test $? -eq 1
check "the old file survives the limit" test "$(cat limited.obj)" = "keep me"
check "no temporary file is left" test -z "$(ls limited.obj.* 2>/dev/null)"

"$CLI" info cube:1 --sampling 0 --json >/dev/full 2>err.txt
check "a failed write to stdout gives 1" test $? -eq 1
check "and says so" grep -qF "standardni izlaz" err.txt

run
check "no command is a usage error" test "$rc" -eq 2
run info
check "missing source is a usage error" test "$rc" -eq 2
run info cube:1 --sampling 0,5
check "decimal comma in an option is a usage error" test "$rc" -eq 2
run info cube:1 --bogus
check "unknown option is a usage error" test "$rc" -eq 2
run convert cube:1
check "convert without -o is a usage error" test "$rc" -eq 2
run --help
check "help exits 0" test "$rc" -eq 0

mkdir demo && cd demo
run demo
check "demo exits 0" test "$rc" -eq 0
check "demo writes its mesh" test -s demo-kugla.obj
cd ..

finish
