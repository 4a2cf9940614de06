#!/usr/bin/env bash
# cnc: a program milled out of a stock. The part and the report of a slot, collisions by line,
# a stock from a file, frames, and every refusal: exit status 1 with nothing written.
set -u
CLI=$1
source "$(dirname "${BASH_SOURCE[0]}")/cli_lib.sh"
export LIBGL_ALWAYS_SOFTWARE=1

# The value of a number field of the JSON report in out.txt.
field() {
    sed -n "s/.*\"$1\": \([-0-9.e+]*\).*/\1/p" out.txt
}
near() { # near A B TOLERANCE
    awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; exit !(d <= t && -d <= t) }'
}

printf 'G90 G21\nG0 X20 Y30 Z5\nG1 Z-3 F200\nG1 X45 F800\nG1 X70\nG0 Z5\nM30\n' >slot.nc
run cnc slot.nc --stock box:100,60,0,0,0,-20 --tool flat:6,20 -o slot.stl --json
check "a slot is milled (got $rc: $err)" test "$rc" -eq 0 -a -s slot.stl
check "it removes the slot's volume ($out)" near "$(field removed_volume)" 984.4744 0.001
check "what remains is the rest ($out)" near "$(field volume)" 119015.5254 0.001
check "counts its moves" grep -qF '"moves": 5, "feed_moves": 3, "rapid_moves": 2' out.txt
check "reports no collision" grep -qF '"collisions": []' out.txt
check "tells the lines it runs" grep -qF "Redak 6/6" err.txt
# Every corner the cuts leave kept: the same slot.
run cnc slot.nc --stock box:100,60,0,0,0,-20 --tool flat:6,20 -o exact.stl --json --exact-part
check "--exact-part mills the same slot ($out)" near "$(field removed_volume)" 984.4744 0.001
# The part in program units, written as the command wrote it.
run info slot.stl --keep-coordinates --sampling 0 --json
check "the part reads back closed ($out)" grep -qF '"open_edges": 0, "nonmanifold_edges": 0' out.txt

# A rapid through the stock (line 3) and a shank above flutes too short for the slot's depth
# (line 4; line 5 rapids out through what the shank passed).
printf 'G0 X10 Y10 Z5\nG0 Z1\nG0 X90 Z-2\nG0 Z5\nG1 X10 Y20 Z-1 F500\nM30\n' >rapid.nc
run cnc rapid.nc --stock box:0,0,-20,100,80,0 --tool flat:6,20 --json
check "a rapid through the stock is told by its line ($out)" \
    grep -qE '"collisions": \[\{"line": 3, "kind": "rapid", "volume": [0-9.e+]+\}\]' out.txt
printf 'G0 X20 Y40 Z10\nG1 Z-3 F300\nG1 Z-8\nG1 X80\nG0 Z10\nG0 X90 Y70\nM30\n' >shank.nc
run cnc shank.nc --stock box:0,0,-20,100,80,0 --tool flat:6,5 --shank 6,30 --json
check "a buried shank is told by its line ($out)" \
    grep -qE '"line": 4, "kind": "shank".*"line": 5, "kind": "rapid"' out.txt
check "and only those ($out)" test "$(grep -o '"line"' out.txt | wc -l)" -eq 2
run cnc shank.nc --stock box:0,0,-20,100,80,0 --tool flat:6,5 --shank 6,30
check "the summary names them" grep -qF "Kolizija u retku 4: drska" out.txt

# A stock from a mesh file, in its own coordinates; the tool from a table.
cat >stock.obj <<'EOF'
v 0 0 -20
v 100 0 -20
v 100 60 -20
v 0 60 -20
v 0 0 0
v 100 0 0
v 100 60 0
v 0 60 0
f 1 3 2
f 1 4 3
f 5 6 7
f 5 7 8
f 1 2 6
f 1 6 5
f 2 3 7
f 2 7 6
f 3 4 8
f 3 8 7
f 4 1 5
f 4 5 8
EOF
printf '# the slot mill\nT1 flat 6 20\n' >tools.txt
printf 'T1 M6\nG0 X20 Y30 Z5\nG1 Z-3 F200\nG1 X70 F800\nG0 Z5\nM30\n' >table.nc
run cnc table.nc --stock stock.obj --tools tools.txt -o from-file.obj --json
check "a stock file and a tool table give the same slot ($out $err)" \
    near "$(field removed_volume)" 984.4744 0.001

# Refusals: exit 1, nothing written, an existing output kept.
echo "keep me" >kept.obj
refuse() { # refuse NAME WORD-IN-MESSAGE ARGS...
    local name=$1 word=$2
    shift 2
    run cnc "$@" -o kept.obj
    check "$name gives 1 (got $rc)" test "$rc" -eq 1
    check "$name says why ($err)" grep -qiF -- "$word" err.txt
    check "$name leaves the output" test "$(cat kept.obj)" = "keep me"
}
refuse "a flat stock" "plosnat" slot.nc --stock box:0,0,0,100,60,0 --tool flat:6,20
refuse "a stock of bad numbers" "box:X0" slot.nc --stock box:0,0,0,1,1 --tool flat:6,20
refuse "a missing stock file" "nope.obj" slot.nc --stock nope.obj --tool flat:6,20
printf 'v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\nf 1 3 2\nf 1 2 4\nf 2 3 4\n' >open.obj
refuse "an open stock" "Sirovac" slot.nc --stock open.obj --tool flat:6,20
refuse "no tool" "alat" slot.nc --stock box:0,0,-20,100,60,0
printf 'T2 flat 6 20\n' >other-tools.txt
refuse "a program's tool missing from the table" "T1" table.nc --stock box:0,0,-20,100,60,0 \
    --tools other-tools.txt
printf 'T1 flat 6 20\nT2 round 6 20\n' >bad-tools.txt
refuse "a bad tool table line" "redak 2" slot.nc --stock box:0,0,-20,100,60,0 \
    --tools bad-tools.txt
refuse "a bad tool" "flat:6" slot.nc --stock box:0,0,-20,100,60,0 --tool flat:6
refuse "an unreadable program" "nope.nc" nope.nc --stock box:0,0,-20,100,60,0 --tool flat:6,20
printf 'G0 X1\nG43 Z5\n' >bad.nc
refuse "an unknown G code" "G43" bad.nc --stock box:0,0,-20,100,60,0 --tool flat:6,20
printf 'G0 X1 Y1 Z5\nG1 Z-1\nM30\n' >nofeed.nc
refuse "a feed without F" "Redak 2" nofeed.nc --stock box:0,0,-20,100,60,0 --tool flat:6,20

# Frames every two moves, drawn as mill draws them; skipped where nothing can be drawn.
run cnc slot.nc --stock box:0,0,-20,100,60,0 --tool flat:6,20 --frames-every 2 --out fr \
    --format PNG --size 160x120
if grep -qF "Nije moguce crtati" err.txt; then
    echo "frames skipped: no GL context"
else
    check "frames every two moves (got $rc: $err)" test "$rc" -eq 0 -a -s fr0000.PNG -a -s fr0001.PNG
    check "and no more" test ! -e fr0002.PNG
fi

finish
