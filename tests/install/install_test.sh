#!/usr/bin/env bash
# The program as a user gets it: installed into a staging folder (DESTDIR)
# under the prefix /usr and run from elsewhere.
#   layout    the files land where the desktop looks; the installed program
#             reads the installed sample, and the thumbnailer's own command
#             line makes a 128 x 128 PNG of it and none of a broken file
#   validate  desktop-file-validate passes the desktop entry (77 without it)
#   desktop   on a virtual screen the installed program finds its bitmaps
#             and shows its title picture (77 without Xvfb, xdotool and
#             ImageMagick)
# Usage: install_test.sh MODE CMAKE BUILD_FOLDER
set -uo pipefail
mode="$1"
cmake="$2"
build="$3"

fail() {
  echo "FAILED: $*"
  exit 1
}
need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
  done
}
case "$mode" in
  validate) need desktop-file-validate ;;
  desktop) need Xvfb xdotool import convert ;;
  layout) ;;
  *) fail "unknown mode $mode" ;;
esac

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
root="$work/root"
DESTDIR="$root" "$cmake" --install "$build" --prefix /usr --component vornix >"$work/install.log" 2>&1 ||
  fail "cmake --install: $(cat "$work/install.log")"
data="$root/usr/share/vornix"
program="$root/usr/bin/vornix"
mkdir "$work/elsewhere"
cd "$work/elsewhere" || fail "no working folder"

# A PNG's width and height from its header, as "W H".
png_size() {
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || return 1
  local hex
  hex=$(od -An -tx1 -j16 -N8 "$1" | tr -d ' \n')
  echo "$((16#${hex:0:8})) $((16#${hex:8:8}))"
}

# The first value of KEY= in a desktop-style file.
key() { sed -n "s/^$2=//p" "$1" | head -n 1; }

if [ "$mode" = layout ]; then
  for file in bin/vornix share/vornix/IndyCar.vnx share/vornix/indycar_decal.bmp share/vornix/vornix.html \
    share/applications/vornix.desktop share/icons/hicolor/scalable/apps/vornix.svg \
    share/mime/packages/vornix.xml share/thumbnailers/vornix.thumbnailer; do
    [ -s "$root/usr/$file" ] || fail "not installed: /usr/$file"
  done
  [ -x "$program" ] || fail "the installed program cannot be run"
  # The desktop module, where the build has GTK; the command line runs without it.
  [ ! -e "$build/vornix-gtk.so" ] || [ -s "$(dirname "$program")/../lib/vornix/vornix-gtk.so" ] ||
    fail "not installed: the desktop module vornix-gtk.so"
  # The screen bitmaps are made where the build has a font library.
  for bitmap in title.bmp mouse.bmp mater2.bmp topleft.bmp; do
    [ ! -e "$build/$bitmap" ] || [ -s "$data/$bitmap" ] || fail "not installed: /usr/share/vornix/$bitmap"
  done

  info=$("$program" info "$data/IndyCar.vnx" 2>"$work/info.err") || fail "info: $(cat "$work/info.err")"
  vertices=$(echo "$info" | sed -n 's/^vertices: //p')
  [ "${vertices:-0}" -gt 0 ] || fail "info shows no model: $info"

  # The thumbnailer's command line as the file manager runs it: %i the
  # model, %o the picture, %s the size; the program found on the PATH.
  thumbnailer="$root/usr/share/thumbnailers/vornix.thumbnailer"
  read -r -a line <<<"$(key "$thumbnailer" Exec)"
  thumbnail() {
    local words=()
    for word in "${line[@]}"; do
      case "$word" in
        %i) words+=("$1") ;;
        %o) words+=("$2") ;;
        %s) words+=("$3") ;;
        *) words+=("$word") ;;
      esac
    done
    PATH="$root/usr/bin:$PATH" timeout 20 "${words[@]}" </dev/null
  }
  [ "$(key "$thumbnailer" TryExec)" = vornix ] || fail "the thumbnailer does not try vornix"
  thumbnail "$data/IndyCar.vnx" thumb.png 128 2>"$work/thumb.err" || fail "thumbnail: $(cat "$work/thumb.err")"
  [ "$(png_size thumb.png)" = "128 128" ] || fail "the thumbnail is not a 128 x 128 PNG"
  grep -q "Warning" "$work/thumb.err" && fail "the thumbnail warned: $(cat "$work/thumb.err")"
  head -c 3000 /dev/urandom >broken.3ds
  thumbnail broken.3ds broken.png 128 2>/dev/null
  status=$?
  [ "$status" -eq 1 ] || fail "a broken model gave status $status"
  [ ! -e broken.png ] || fail "a broken model left a picture"

  # One list of types: the desktop entry's, the thumbnailer's; each either
  # defined by the installed MIME package or already known to the system.
  desktop_types=$(key "$root/usr/share/applications/vornix.desktop" MimeType)
  [ "$desktop_types" = "$(key "$thumbnailer" MimeType)" ] || fail "the entry and thumbnailer open other types"
  mime="$root/usr/share/mime/packages/vornix.xml"
  if command -v xmllint >/dev/null; then
    xmllint --noout "$mime" || fail "the MIME package is not well-formed XML"
  else
    echo "note: xmllint is not installed; the MIME package's XML was not checked"
  fi
  system_types=/usr/share/mime/packages/freedesktop.org.xml
  IFS=';' read -r -a types <<<"$desktop_types"
  for type in "${types[@]}"; do
    grep -q "<mime-type type=\"$type\">" "$mime" && continue
    [ -e "$system_types" ] && ! grep -q "<mime-type type=\"$type\">" "$system_types" &&
      fail "$type is defined nowhere"
  done

  # The desktop's own lookup names each kind of file the program opens.
  if command -v update-mime-database >/dev/null && command -v gio >/dev/null; then
    update-mime-database "$root/usr/share/mime" || fail "update-mime-database refused the package"
    printf 'xof 0302txt 0032\n' >car.x
    printf 'MM\0\0' >car.3ds
    printf '0\nSECTION\n2\nHEADER\n0\nENDSEC\n0\nEOF\n' >car.dxf
    printf 'ORVANEX 2' >car.qlt
    for pair in "$data/IndyCar.vnx model/x-vornix" "car.x model/x-directx" "car.3ds image/x-3ds" \
      "car.dxf image/vnd.dxf" "car.qlt model/x-quelt"; do
      set -- $pair
      type=$(XDG_DATA_DIRS="$root/usr/share:/usr/share" gio info -a standard::content-type "$1" |
        sed -n 's/^ *standard::content-type: //p')
      [ "$type" = "$2" ] || fail "$1 is taken for $type, not $2"
    done
  else
    echo "note: update-mime-database or gio is not installed; the types were not looked up"
  fi
fi

if [ "$mode" = validate ]; then
  # Hints count too: they are what keeps an entry out of the menus.
  report=$(desktop-file-validate "$root/usr/share/applications/vornix.desktop" 2>&1) && [ -z "$report" ] ||
    fail "the desktop entry: $report"
fi

if [ "$mode" = desktop ]; then
  fifo="$work/display.fifo"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$fifo" 2>/dev/null &
  pids+=($!)
  read -r -t 10 number <"$fifo" || fail "Xvfb did not start"
  export DISPLAY=":$number" NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
  "$program" >"$work/program.log" 2>&1 &
  pids+=($!)
  dialog=$(timeout 20 xdotool search --sync --limit 1 --name "Vornix 3D!") || fail "no mode dialog"
  sleep 1
  xdotool windowfocus --sync "$dialog" key Return || fail "could not confirm the mode dialog"
  sleep 2
  # A bitmap that is not found brings a message in a window of its own.
  missing() {
    for caption in "qlt_BitmapLoad:" "Error"; do
      xdotool search --name "^$caption\$" >/dev/null 2>&1 && fail "$1: a window '$caption' shows"
    done
  }
  import -window root "$work/title.png" 2>/dev/null
  missing "the title"
  spread=$(convert "$work/title.png" -format "%[fx:int(1000*standard_deviation)]" info:)
  [ "$spread" -gt 50 ] || fail "the title shows no picture"
  # Past the title: the panel bitmap at the left and the sample model.
  window=$(timeout 20 xdotool search --sync --onlyvisible --limit 1 --name "^Vornix 3D!$") || fail "no main window"
  xdotool windowfocus --sync "$window" key space || fail "could not leave the title"
  sleep 2
  missing "the main screen"
  import -window root "$work/main.png" 2>/dev/null
  panel=$(convert "$work/main.png" -format "%[fx:int(255*p{60,2}.r)] %[fx:int(255*p{60,2}.g)] %[fx:int(255*p{60,2}.b)]" info:)
  [ "$panel" != "0 0 0" ] || fail "no panel at the left edge"
fi
echo "1 passed, 0 failed"
