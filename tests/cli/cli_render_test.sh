#!/usr/bin/env bash
# korvan-cli render, mill and demo as a user runs them: exit statuses, messages, and the
# pictures read back by korvan-image-probe. Exits 77 (skipped) where no GL context exists.
set -u
CLI=$1
PROBE=$2
source "$(dirname "${BASH_SOURCE[0]}")/cli_lib.sh"
# Software rendering, so that pictures do not depend on the machine's GPU.
export LIBGL_ALWAYS_SOFTWARE=1

dark_red() {  # dark_red "R G B"
    local r g b
    read -r r g b <<<"$1"
    [ "$r" -gt 40 ] && [ "$r" -lt 200 ] && [ "$g" -lt 20 ] && [ "$b" -lt 20 ]
}

S=(--sampling 0.1)
run render cube:1.5 -o a.png --colored "${S[@]}"
if [ "$rc" -ne 0 ] && grep -q "Nije moguce crtati bez prozora" err.txt; then
    echo "SKIPPED: no headless OpenGL context: $err"
    exit 77
fi
check "render exits 0" test "$rc" -eq 0
check "render names the file" test "$out" = "Spremljeno u a.png"
mapfile -t probe < <("$PROBE" a.png 0 0 639 479 320 240)
check "render writes a 640x480 PNG" test "${probe[0]}" = "PNG 640 480"
check "background is white" test "${probe[1]}" = "255 255 255" -a "${probe[2]}" = "255 255 255"
check "object 1 is dark red with coloured materials" dark_red "${probe[3]}"

run render cube:1.5 -o a.png "${S[@]}"
read -r r g b < <("$PROBE" a.png 320 240 | tail -1)
check "object 1 is grey without coloured materials" test "$r" -eq "$g" -a "$g" -eq "$b" -a "$r" -lt 255

for pair in "b.BMP:BMP" "b.bmp:BMP" "b.gif:GIF" "b.JPG:JPEG" "b.jpeg:JPEG" "b.Png:PNG"; do
    file=${pair%%:*}
    run render cube:1 sphere:8,12,0.5 -o "$file" --size 200x100 --offset 0.5,0,0.6 "${S[@]}"
    check "$file written" test "$rc" -eq 0
    check "$file holds ${pair##*:} 200x100" test "$("$PROBE" "$file" | head -1)" = "${pair##*:} 200 100"
done

run render cube:1 -o c.tif "${S[@]}"
check "unknown image extension is a usage error" test "$rc" -eq 2
check "unknown image extension writes nothing" test ! -e c.tif
run render cube:1 -o c.png --size 0x10
check "bad size is a usage error" test "$rc" -eq 2
run render cube:1 -o c.png --cells sometimes
check "bad cell mode is a usage error" test "$rc" -eq 2
run render missing.obj -o c.png
check "unreadable object gives 1" test "$rc" -eq 1
check "unreadable object writes nothing" test ! -e c.png
run render cube:1 -o nodir/c.png "${S[@]}"
check "unwritable picture gives 1" test "$rc" -eq 1
check "unwritable picture is reported" grep -q "Greska kod spremanja slike!" err.txt
run render cube:1 -o w.png --wireframe --cells all "${S[@]}"
check "wireframe with cells renders" test "$rc" -eq 0

M=(cube:2 sphere:8,12,0.3 --offset 0.9,0.9,0.9 --x lin:-0.3 --size 160x120 "${S[@]}")
run mill "${M[@]}" --frames 3 --out m -o m.obj
check "mill exits 0" test "$rc" -eq 0
check "mill writes BMP frames by default" test -e m0000.BMP -a -e m0001.BMP -a -e m0002.BMP
check "mill writes exactly the frames asked" test ! -e m0003.BMP
check "mill frames are BMP 160x120" test "$("$PROBE" m0002.BMP | head -1)" = "BMP 160 120"
check "mill prints one line per frame" test "$(grep -c '^Slika [0-9]*/3: m000[0-2].BMP$' err.txt)" -eq 3
check "mill writes the final object" grep -q "^f " m.obj
run mill "${M[@]}" --frames 3 --out n -o n.obj
check "milling is deterministic" cmp -s m.obj n.obj
check "frames are deterministic" cmp -s m0002.BMP n0002.BMP

run convert cube:2 -o cube.obj "${S[@]}"
run mill "${M[@]}" --frames 2 --out p --format png --preview -o p.obj
check "preview exits 0" test "$rc" -eq 0
check "preview writes the same frames" test -e p0000.png -a -e p0001.png -a ! -e p0002.png
check "preview frames are PNG" test "$("$PROBE" p0001.png | head -1)" = "PNG 160 120"
check "preview leaves object 1 unchanged" cmp -s p.obj cube.obj

run mill "${M[@]}" --frames 2 --out q --format jpg --z sin:0.2,90,45
check "sinusoidal path with JPG frames" test "$rc" -eq 0 -a -e q0001.jpg

for bad in "--frames 0" "--frames 1001" "--frames 2 --format tif" "--frames 2 --x sin:1,2" \
    "--frames 2 --y lin:abc"; do
    # shellcheck disable=SC2086
    run mill "${M[@]}" --out bad $bad
    check "mill $bad is a usage error" test "$rc" -eq 2
done
check "refused runs write no frames" test ! -e bad0000.BMP

echo "keep me" >f.obj
run mill "${M[@]}" --frames 2 --out nodir/f -o f.obj
check "an unwritable frames folder gives 1" test "$rc" -eq 1
check "it is refused before the first frame" test -z "$(grep '^Slika' err.txt)"
check "the folder is named" grep -qF "nodir: No such file or directory" err.txt
check "object 1 is not written" test "$(cat f.obj)" = "keep me"
run mill "${M[@]}" --frames 2 --out f --x lin:2e6
check "a step beyond 1e6 is a usage error" test "$rc" -eq 2

# --sweep cuts along the path between frames (what it removes is the unit tests' business).
run mill box:2,2,0.2 cube:0.3 --offset 0.2,-0.1,0.5 --z lin:-1 --frames 2 --size 64x48 \
    --sampling 1 --closed --sweep --out pb -o pb.obj
check "mill --sweep exits 0 ($err)" test "$rc" -eq 0 -a -e pb0001.BMP -a -s pb.obj
# A dented tool (an octahedron with its top corner pushed below its middle), and the octree
# engine, are refused before the first frame; nothing is written.
printf 'v 1 0 0\nv 0 1 0\nv -1 0 0\nv 0 -1 0\nv 0 0 -0.3\nv 0 0 -1\n%s\n' \
    "$(printf 'f %s\n' '1 2 5' '2 3 5' '3 4 5' '4 1 5' '2 1 6' '3 2 6' '4 3 6' '1 4 6')" >dent.obj
for bad in "dent.obj --closed|nije konveksan" "cube:0.3|trazi zatvoreni rezultat"; do
    run mill box:2,2,0.2 ${bad%%|*} --z lin:-1 --frames 2 --sampling 1 --size 64x48 --sweep \
        --out pc -o pc.obj
    check "mill --sweep refuses ${bad%%|*} with 1" test "$rc" -eq 1
    check "the refusal says why: ${bad##*|}" grep -qF "${bad##*|}" err.txt
    check "nothing is written for ${bad%%|*}" test ! -e pc0000.BMP -a ! -e pc.obj
done

# Ctrl+C or SIGTERM ends the run after the current frame with 130 or 143, the finished frames
# and the summary kept; object 1 is not written. The tool leaves the workpiece after two frames,
# so the later frames are quick. The shell empties err.txt only in the child, so the last run's
# lines must not be there to be read.
set -m  # background jobs must not ignore SIGINT
for stop in INT:130:s TERM:143:t; do
    IFS=: read -r signal status name <<<"$stop"
    rm -f out.txt err.txt
    "$CLI" mill cube:2 sphere:8,12,0.3 --offset 0.9,0.9,0.9 --x lin:0.5 --size 160x120 "${S[@]}" \
        --frames 1000 --out "$name" -o "$name.obj" >out.txt 2>err.txt &
    pid=$!
    for _ in $(seq 300); do
        grep -q "^Slika 2/" err.txt && break
        sleep 0.1
    done
    kill -"$signal" "$pid"
    wait "$pid"
    rc=$?
    check "SIG$signal stops the run with $status" test "$rc" -eq "$status"
    check "SIG$signal is reported" grep -q "Animacija prekinuta nakon" err.txt
    check "SIG$signal keeps the summary" grep -q "^Animacija:" out.txt
    check "SIG$signal keeps the finished frames" test -e "${name}0001.BMP" -a ! -e "${name}0999.BMP"
    check "SIG$signal leaves object 1 unwritten" test ! -e "$name.obj"
done
set +m

mkdir demo && cd demo
run demo --sampling 0.05
check "demo exits 0" test "$rc" -eq 0
check "demo writes milling frames" test -e demo-glodanje0000.BMP -a -e demo-glodanje0003.BMP
cd ..

finish
