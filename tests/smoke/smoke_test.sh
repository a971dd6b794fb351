#!/usr/bin/env bash
# Smoke test in a real X server: installs the build into a temporary prefix, starts the
# installed test bench and viewer under a private Xvfb on a private virtual display module,
# on a laptop's screen (1366x768) and on a full-HD one, and checks that both windows open
# whole on the screen without covering each other; on the laptop's screen also with a
# 240x128 module strapped 8x8, which the test bench makes at "StartLPTDriver" before the
# viewer opens. On the full-HD screen it clicks "StartLPTDriver", "InitLCD" and
# "PrintLCDText" at their places in the window, and checks the module's frame against the
# expected one. Screenshots of both windows, and of the two side by side (the README's
# screenshot), are left in the output folder.
# Usage: smoke_test.sh <build dir> <main window .ui> <expected frame> <output folder>
# Exits 77 (skipped) when a tool it needs is missing. Every wait is bounded.
set -euo pipefail
build="$1" form="$2" expected="$3" out="$4"

for tool in Xvfb xdotool import convert xmllint; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is missing (scripts/install-deps.sh installs it)"
    exit 77
  fi
done

work="$(mktemp -d "${TMPDIR:-/tmp}/kelvari-smoke.XXXXXX")"
segment="/kelvari-smoke-$$"
pids=()
our_display=""
# Stops the programs, newest first (the X server last).
stop_programs() {
  for ((n = ${#pids[@]} - 1; n >= 0; n--)); do
    kill "${pids[n]}" 2>/dev/null || true
    wait "${pids[n]}" 2>/dev/null || true
  done
  pids=()
}
# Stops the programs and removes what the test made.
finish() {
  stop_programs
  rm -rf "$work" "/dev/shm${segment}"
}
trap finish EXIT
trap 'exit 1' HUP INT PIPE TERM

fail() {
  echo "FAILED: $*" >&2
  if [ -n "$our_display" ]; then
    echo "windows on the test's screen:" >&2
    xdotool search --onlyvisible --name '.' getwindowname %@ >&2 2>/dev/null || true
  fi
  exit 1
}

# poll <seconds> <command...>: runs the command every tenth of a second until it succeeds,
# for at most that long.
poll() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }

grep -qxF "Exec=\"$work/prefix/bin/kelvari-bench\"" "$work/prefix/share/applications/kelvari.desktop" ||
  fail "the desktop entry does not start the installed launcher by its path"

# Every program runs under timeout, so none outlives the test's own time limit even if this
# script is killed outright.
alive=150
export QT_QPA_PLATFORM=xcb DLPORTIO_BACKEND=lcd DLPORTIO_LCD_SEGMENT="$segment" DLPORTIO_LCD_POWERON=zero
unset DLPORTIO_SHADOW DLPORTIO_LCD_DISCONNECTED DLPORTIO_LCD_BUSY WAYLAND_DISPLAY
window_of() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
bench="" viewer=""
found_bench() { bench="$(window_of '^Kelvari v')"; [ -n "$bench" ]; }
found_viewer() { viewer="$(window_of '^lcdview')"; [ -n "$viewer" ]; }

# The centre of a control: its geometry in the form, plus that of every widget it sits in.
centre() {
  local path="//widget[@name='$1']/ancestor-or-self::widget[parent::widget]/property[@name='geometry']/rect"
  local x y w h
  x="$(xmllint --xpath "sum($path/x)" "$form")"
  y="$(xmllint --xpath "sum($path/y)" "$form")"
  w="$(xmllint --xpath "string(//widget[@name='$1']/property[@name='geometry']/rect/width)" "$form")"
  h="$(xmllint --xpath "string(//widget[@name='$1']/property[@name='geometry']/rect/height)" "$form")"
  [ -n "$w" ] || fail "no control $1 in $form"
  echo "$((x + w / 2)) $((y + h / 2))"
}
click() {
  local position
  position="$(centre "$1")"
  # shellcheck disable=SC2086
  xdotool mousemove --window "$bench" $position click 1 || fail "click on $1"
}
# open_windows <width>x<height>: a private Xvfb of that size (it picks a free display itself
# and writes its number once it accepts clients), with the installed test bench and viewer.
# -noreset: xdotool's polls come and go while the programs start, and a server that resets
# when its last client leaves refuses the connections made during the reset.
start_xvfb() {
  rm -f "$work/display"
  timeout "$alive" Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
  pids+=($!)
  poll 20 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  our_display=":$(cat "$work/display")"
  export DISPLAY="$our_display"
}
start_bench() {
  timeout "$alive" "$work/prefix/bin/kelvari" >"$out/kelvari.log" 2>&1 &
  pids+=($!)
  poll 60 found_bench || fail "the test bench's window did not appear ($(cat "$out/kelvari.log"))"
}
start_viewer() {
  timeout "$alive" "$work/prefix/bin/lcdview" >"$out/lcdview.log" 2>&1 &
  pids+=($!)
  poll 60 found_viewer || fail "the viewer's window did not appear ($(cat "$out/lcdview.log"))"
}
open_windows() {
  start_xvfb "$1"
  start_bench
  start_viewer
}

# Both windows whole on the <width>x<height> screen, and neither over the other.
check_geometry() {
  local X Y WIDTH HEIGHT bx by bw bh
  eval "$(xdotool getwindowgeometry --shell "$bench")"
  bx=$X by=$Y bw=$WIDTH bh=$HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$viewer")"
  echo "$1: test bench ${bw}x${bh}+${bx}+${by}, viewer ${WIDTH}x${HEIGHT}+${X}+${Y}"
  local screen_width="${1%x*}" screen_height="${1#*x}"
  for window in "$bx $by $bw $bh" "$X $Y $WIDTH $HEIGHT"; do
    read -r x y w h <<<"$window"
    if [ "$x" -lt 0 ] || [ "$y" -lt 0 ] || [ $((x + w)) -gt "$screen_width" ] || [ $((y + h)) -gt "$screen_height" ]; then
      fail "on $1 a window is not whole on the screen (${w}x${h}+${x}+${y})"
    fi
  done
  [ $((X + WIDTH)) -le "$bx" ] || [ $((bx + bw)) -le "$X" ] || [ $((Y + HEIGHT)) -le "$by" ] ||
    [ $((by + bh)) -le "$Y" ] || fail "on $1 the viewer covers the test bench"
}

open_windows 1366x768
check_geometry 1366x768
import -window root "$out/laptop.png" || fail "no screenshot of the laptop's screen"
stop_programs

# A 240x128 module strapped 8x8, made by the test bench at "StartLPTDriver" before the viewer
# opens, so that the viewer places itself for that glass.
built_as_240x128() { "$work/prefix/bin/lcdview" --text --segment "$segment" 2>/dev/null | head -n 1 | grep -qx '.\{240\}' &&
  [ "$("$work/prefix/bin/lcdview" --text --segment "$segment" | wc -l)" = 128 ]; }
start_xvfb 1366x768
DLPORTIO_LCD_SIZE=240x128 DLPORTIO_LCD_FONT=8x8 start_bench
click StartLPTDriver_Button1
poll 20 built_as_240x128 || fail "the test bench did not make a 240x128 module"
start_viewer
check_geometry 1366x768
import -window root "$out/laptop-240x128.png" || fail "no screenshot of the laptop's screen with a 240x128 module"
stop_programs
rm -f "/dev/shm${segment}"

open_windows 1920x1080
check_geometry 1920x1080

click StartLPTDriver_Button1
click InitLCD_Button1
click PrintLCDText_Button1

frame_is_expected() {
  "$work/prefix/bin/lcdview" --text --segment "$segment" >"$out/frame.txt" 2>"$out/frame.log" &&
    cmp -s "$out/frame.txt" "$expected"
}
if ! poll 20 frame_is_expected; then
  diff "$expected" "$out/frame.txt" >&2 || true
  fail "the display's frame is not the expected one after the three clicks (now in $out/frame.txt)"
fi

for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null || fail "a program ended early (logs in $out)"; done
if grep -E 'Sanitizer|runtime error:' "$out/kelvari.log" "$out/lcdview.log" >&2; then
  fail "a sanitizer reported an error (logs in $out)"
fi

# The viewer redraws many times a second: half a second after the frame is in the module,
# its window shows it.
sleep 0.5
import -window "$viewer" "$out/lcdview.png" || fail "no screenshot of the viewer"
import -window "$bench" "$out/kelvari.png" || fail "no screenshot of the test bench"
convert "$out/kelvari.png" "$out/lcdview.png" -background '#d0d0d0' -gravity north \
  -bordercolor '#d0d0d0' -border 8 +append "$out/screenshot.png" || fail "composing the screenshot"
echo "PASSED: the frame shows the printed text; screenshots in $out"
