#!/usr/bin/env bash
# The desktop program end to end on a virtual screen: start it, confirm the
# mode dialog with Enter, leave the title with a key, see the panel and the
# car, hover and click a polygon in the Select viewport, move the car with
# the Center dialog and save it, press Esc, confirm with Enter, and expect
# exit status 0. Exit 77 (skipped) without Xvfb.
# Usage: desktop_xvfb.sh VORNIX SHOT_FOLDER
set -uo pipefail
vornix="$1"
shots="$2"
for tool in Xvfb xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
mkdir -p "$shots"

fail() {
  echo "FAILED: $*"
  exit 1
}

# A free display number, chosen by the server itself.
fifo="$shots/display.fifo"
rm -f "$fifo"
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$fifo" 2>/dev/null &
xvfb_pid=$!
program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
  kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
read -r -t 10 number <"$fifo" || fail "Xvfb did not start"
rm -f "$fifo"
export DISPLAY=":$number"
# No accessibility bus or settings daemon on a virtual screen.
export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory

# The colour of one screen pixel as "r g b".
pixel() {
  import -window root "$shots/probe.png" 2>/dev/null
  convert "$shots/probe.png" -format "%[fx:int(255*p{$1,$2}.r)] %[fx:int(255*p{$1,$2}.g)] %[fx:int(255*p{$1,$2}.b)]" info:
}
shot() { import -window root "$shots/$1.png" 2>/dev/null; }

"$vornix" >"$shots/program.log" 2>&1 &
program_pid=$!

# The mode dialog comes first; Enter confirms 640 x 480.
dialog=$(timeout 20 xdotool search --sync --limit 1 --name "Vornix 3D!") || fail "no mode dialog"
sleep 1
shot mode_dialog
xdotool windowfocus --sync "$dialog" key Return || fail "could not confirm the mode dialog"

# The title screen waits for a key.
sleep 2
shot title
spread=$(convert "$shots/title.png" -format "%[fx:int(1000*standard_deviation)]" info:)
[ "$spread" -gt 50 ] || fail "the title screen shows no picture"
window=$(timeout 20 xdotool search --sync --onlyvisible --limit 1 --name "Vornix 3D!") || fail "no main window"
xdotool windowfocus --sync "$window" key space || fail "could not leave the title"
sleep 2
shot main
# The panel is drawn at the left; the car stands in the Select viewport.
read -r pr pg pb < <(pixel 60 2)
[ "$pr $pg $pb" != "0 0 0" ] || fail "no panel at the left edge"

# Find a polygon of the car in the Select viewport: hovering it turns it red.
found=""
for point in "383 360" "400 350" "360 370" "420 380" "340 345" "383 330" "450 360" "300 360"; do
  set -- $point
  xdotool mousemove "$1" "$2"
  sleep 0.4
  read -r r g b < <(pixel $(($1 - 2)) $(($2 - 2)))
  if [ "$r" -gt $((g * 2 + 20)) ] && [ "$r" -gt $((b * 2 + 20)) ]; then
    found="$1 $2"
    break
  fi
done
[ -n "$found" ] || fail "no polygon turned red under the pointer"
shot hover
set -- $found
xdotool click 1
xdotool mousemove $(($1 + 60)) 470
sleep 0.6
read -r r g b < <(pixel $(($1 - 2)) $(($2 - 2)))
[ "$g" -gt $((r * 2 + 20)) ] && [ "$g" -gt $((b * 2 + 20)) ] || fail "the clicked polygon is not green ($r $g $b)"
shot clicked

# The Center dialog from the panel: 5 typed over the selected X field and
# Enter move the car along X; Save writes what the dialog did.
xdotool mousemove 60 87 click 1
center=$(timeout 10 xdotool search --sync --limit 1 --name "^Center$") || fail "no Center dialog"
sleep 0.5
shot center_dialog
xdotool windowfocus --sync "$center" type "5"
xdotool key Return
sleep 1
saved="$shots/moved.vnx"
rm -f "$saved"
xdotool windowfocus --sync "$window" mousemove 60 74 click 1
chooser=$(timeout 10 xdotool search --sync --limit 1 --name "^Save As$") || fail "no save dialog"
sleep 0.5
xdotool windowfocus --sync "$chooser" type "$saved"
sleep 0.5
xdotool key Return
for _ in $(seq 1 25); do
  [ -s "$saved" ] && break
  sleep 0.2
done
[ -s "$saved" ] || fail "Save wrote no file"
bounds=$("$vornix" info "$saved" | sed -n 's/^bounds: //p')
[ "$bounds" = "3.990000 0.000000 -2.650000 6.010000 1.040000 2.520000" ] || fail "the saved car was not moved: $bounds"

# Esc asks; Enter answers Yes and the program ends with status 0.
xdotool windowfocus --sync "$window" key Escape
sleep 1
shot exit_question
xdotool key Return
for _ in $(seq 1 50); do
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.2
done
kill -0 "$program_pid" 2>/dev/null && fail "the program is still running after the exit question"
wait "$program_pid"
status=$?
program_pid=""
[ "$status" -eq 0 ] || fail "exit status $status"
echo "1 passed, 0 failed"
