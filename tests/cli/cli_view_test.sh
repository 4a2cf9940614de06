#!/usr/bin/env bash
# korvan-cli render and mill seen from other sides (--view, --turn), and the argument library's
# texts in Croatian. Exits 77 (skipped) where no GL context exists.
set -u
CLI=$1
PROBE=$2
source "$(dirname "${BASH_SOURCE[0]}")/cli_lib.sh"
export LIBGL_ALWAYS_SOFTWARE=1

S=(--sampling 0.1 --colored --size 320x240)
# A cube with a sphere resting on its top face: from the front the cube fills the middle, from
# above the sphere does.
SCENE=(cube:1 sphere:8,12,0.4 --offset 0,0.7,0)
run render "${SCENE[@]}" -o front.png "${S[@]}" --view front
if [ "$rc" -ne 0 ] && grep -q "Nije moguce crtati bez prozora" err.txt; then
    echo "SKIPPED: no headless OpenGL context: $err"
    exit 77
fi
check "--view front exits 0" test "$rc" -eq 0
run render "${SCENE[@]}" -o top.png "${S[@]}" --view top
check "--view top exits 0" test "$rc" -eq 0
read -r r _ b < <("$PROBE" front.png 160 135 | tail -1)
check "from the front the middle is the cube (red)" test "$r" -gt "$b"
read -r r _ b < <("$PROBE" top.png 160 120 | tail -1)
check "from above the middle is the sphere (blue)" test "$b" -gt "$r"
mapfile -t edge < <("$PROBE" top.png 0 0 319 239)
check "the fitted picture keeps a white border" test "${edge[1]}" = "255 255 255" -a "${edge[2]}" = "255 255 255"

# --turn is the mouse's turn: x first, then y, in degrees.
run render "${SCENE[@]}" -o turned.png "${S[@]}" --turn 90,0
check "--turn 90,0 is the top view" cmp -s turned.png top.png
run render "${SCENE[@]}" -o side.png "${S[@]}" --view side
run render "${SCENE[@]}" -o turned.png "${S[@]}" --view front --turn 0,-90
check "--turn 0,-90 from the front is the side view" cmp -s turned.png side.png
run render "${SCENE[@]}" -o iso.png "${S[@]}" --view iso
check "--view iso exits 0" test "$rc" -eq 0
check "the iso view differs from the others" test "$(cmp -s iso.png front.png; echo $?)" -ne 0

run mill cube:1.5 sphere:8,12,0.3 --frames 2 --out f --x lin:-0.3 --offset 0.5,0.75,0 \
    --view top --size 160x120 --sampling 0.2
check "mill --view top writes its frames" test "$rc" -eq 0 -a -e f0001.BMP

run render cube:1 -o bad.png --view diagonal
check "an unknown view is a usage error" test "$rc" -eq 2 -a ! -e bad.png
check "it says which views there are" grep -q "front, top, side ili iso" err.txt
run render cube:1 -o bad.png --turn 30
check "a turn without Y is a usage error" test "$rc" -eq 2

# The library's own texts.
run mill --help
check "mill --help shows the motion syntax" grep -q -- "--x lin:KORAK|sin:AMPLITUDA,KUT,INKREMENT" out.txt
check "mill --help is Croatian" grep -q "^Uporaba:" out.txt
run render --help
check "render --help says Obojeni like the menu" grep -q "Obojeni materijali" out.txt
run mill cube:1
check "a missing argument is a usage error" test "$rc" -eq 2
check "and says so in Croatian" grep -q "^Greska: SRC2 je obavezan" err.txt
check "with no English left" test "$(grep -c -e "is required" -e "Run with" err.txt)" -eq 0

finish
