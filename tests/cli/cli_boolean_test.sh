#!/usr/bin/env bash
# korvan-cli union, intersection and difference as a user runs them.
set -u
CLI=$1
source "$(dirname "${BASH_SOURCE[0]}")/cli_lib.sh"

run difference cube:2 sphere:12,16,0.6 --offset 0,0,1 --sampling 0.03 -o diff.obj
check "difference exits 0" test "$rc" -eq 0
check "difference writes the result" test -s diff.obj
check "the time line goes to stdout" grep -qE '^Vrijeme obavljanja operacije: +[0-9]+\.[0-9]{3} s$' out.txt
phases=$(grep -v Generiranje err.txt | tr '\n' '|')
check "phases go to stderr in order" test "$phases" = \
    "Gradnja oktalnog stabla|Klasifikacija oktalnog stabla|Inside-out test|Kopiranje objekta|Izgradnja novog oktalnog stabla|"

run difference cube:2 sphere:12,16,0.6 --offset 0,0,1 --sampling 0.03 -o again.obj
check "the same run writes the same file" cmp -s diff.obj again.obj

run union cube:1 cube:1 --offset 3,0,0 --sampling 0 --json -o union.obj
check "json union exits 0" test "$rc" -eq 0
for key in '"operation": "union"' '"triangles": 24' '"vertices": 16' '"object1_triangles": 12' \
    '"object2_triangles": 12' '"pieces": 0' '"seconds": '; do
    check "json has $key" grep -qF "$key" out.txt
done
check "json is the only line on stdout" test "$(wc -l <out.txt)" -eq 1
check "union writes 16 vertices" test "$(grep -c '^v ' union.obj)" -eq 16

run intersection cube:1 cube:1 --offset 3,0,0 --sampling 0 -o empty.obj
check "an empty intersection is written" test "$rc" -eq 0 -a -f empty.obj
check "the empty result has no faces" test "$(grep -c '^f ' empty.obj)" -eq 0

run intersection cube:2 sphere:12,16,0.6 --sampling 0.05 --no-edge-sampling --json -o nocut.obj
check "--no-edge-sampling cuts nothing" grep -qF '"pieces": 0' out.txt

# The closed-result engine: coplanar faces that do not line up, exact volume 2 x 2 x 1.7.
run intersection cube:2 cube:2 --offset 1,0,0.3 --sampling 0.1 --closed --json -o closed.obj
check "--closed exits 0" test "$rc" -eq 0
check "--closed reports a closed result" grep -qF '"closed": true, "open_edges": 0' out.txt
run info closed.obj --sampling 0 --json
check "the closed result reads back closed" grep -qF '"open_edges": 0, "nonmanifold_edges": 0' out.txt
run difference cube:2 sphere:12,16,0.6 --offset 0,0,1 --sampling 0.03 --json -o open.obj
check "the octree engine reports open edges" grep -qE '"closed": false, "open_edges": [1-9]' out.txt
printf 'v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\nf 1 3 2\nf 1 2 4\nf 1 4 3\n' >open-tetra.obj
run union open-tetra.obj cube:1 --closed -o refused-open.obj
check "--closed refuses an open operand" test "$rc" -eq 1 -a ! -e refused-open.obj
check "--closed says why" test -s err.txt

# --json says how many threads were used (that their number changes no byte is the scene
# tests' business).
run difference cube:2 sphere:12,16,0.6 --offset 0.3,0.2,0.9 --sampling 0.05 --threads 1 --json -o t1.obj
check "--threads 1 exits 0" test "$rc" -eq 0
check "--threads 1 is reported" grep -qF '"threads": 1' out.txt
run info bunny:0 --threads 0
check "--threads 0 is a usage error" test "$rc" -eq 2
run info cube:1 --threads x
check "--threads x is a usage error" test "$rc" -eq 2

printf 'v 0 0 0\nv 1 0 0\nf 1 2 7\n' >bad.obj
run union cube:1 bad.obj -o refused.obj
check "a bad file exits 1" test "$rc" -eq 1
check "nothing is written for a bad file" test ! -e refused.obj
check "the reason is on stderr" test -s err.txt

echo keep >kept.obj
run difference sphere:2,8,1 cube:1 -o kept.obj
check "a bad parameter exits 1" test "$rc" -eq 1
check "it names the parameter rule" grep -qF "Nedozvoljena vrijednost parametra" err.txt
check "an existing output is left alone" test "$(cat kept.obj)" = keep

run union cube:1 cube:1 --offset 1,2 -o x.obj
check "a malformed offset is a usage error" test "$rc" -eq 2
run union cube:1 cube:1 --offset 2e6,0,0 -o x.obj
check "an offset beyond 1e6 is a usage error" test "$rc" -eq 2
run union cube:1 cube:1 --offset 1,0,0 --sampling 0 -o nocut.obj
check "sampling 0 warns that nothing is cut" grep -qF "nece rezati trokute" err.txt
run union cube:1 -o x.obj
check "a missing operand is a usage error" test "$rc" -eq 2
check "no file after usage errors" test ! -e x.obj

# Real parts: the format follows the extension, and files may keep their millimetres (what an
# operation on them gives is the format tests' business).
run convert box:100,60,8 --sampling 0 -o plate.stl
check "convert writes binary STL" test "$rc" -eq 0 -a "$(stat -c %s plate.stl)" -eq $((84 + 12 * 50))
run info plate.stl --keep-coordinates --sampling 0 --json
check "the file's millimetres are kept" grep -qF '"max_corner": [50, 30, 4]' out.txt
run info plate.stl --sampling 0 --json
check "without the mode the box is the unit box" grep -qF '"max_corner": [1, 0.59999996, 0.08]' out.txt
check "the file's own box is reported in every mode" grep -qF '"file_max_corner": [50, 30, 4]' out.txt
run convert sphere:8,12,1 --sampling 0 --ascii -o ascii.stl
check "--ascii writes text STL" test "$(head -c 6 ascii.stl)" = "solid "
cp bad.obj notstl.stl
echo keep >kept.ply
run convert notstl.stl -o kept.ply
check "a file that is not what its name says exits 1" test "$rc" -eq 1
check "the refusal names the file" grep -qF notstl.stl err.txt
check "the output is left alone" test "$(cat kept.ply)" = keep

finish
