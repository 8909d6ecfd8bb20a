#!/usr/bin/env bash
# Starts the real program under the virtual X server with a picture on its
# command line, finds its window, grabs the screen with the hot key
# (Alt+Esc), copies the grab and pastes it back through the Edit menu, and
# closes the window; the program must end by itself with code 0, and its
# log must show the grab and the paste opened as 1280 x 1024 pictures.
# Arguments: the program, the build directory.
set -u
program="$1"
work="$(mktemp -d "$2/smoke.XXXXXX")"
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" TMPDIR="$work/tmp" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$TMPDIR" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/Kaxon5/ENV/Kaxon5-Library"
chmod 700 "$XDG_RUNTIME_DIR"
# Never the network; the log tells what the window did.
printf 'ONLINE_UPDATE=NO\nLOGFILE=YES\n' > "$XDG_CONFIG_HOME/Kaxon5/ENV/Kaxon5-Library/Kaxon5.controlpad"
printf 'P6\n64 48\n255\n' > "$work/pic.ppm"
head -c 9216 /dev/urandom >> "$work/pic.ppm"

"$program" "$work/pic.ppm" &
pid=$!
sleep 3
# With a file on the command line the viewer opens by itself first; Q
# closes it, then the main window comes back.
win=""
seen_viewer=""
for _ in $(seq 1 150); do
  v="" win=""
  for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
    case "$(xdotool getwindowname "$w" 2>/dev/null)" in
      "(V)iew"*) v="$w" ;;
      Kaxon5) win="$w" ;;
    esac
  done
  if [ -n "$v" ]; then
    echo "viewer $v open: closing it"
    seen_viewer=1
    xdotool windowfocus "$v" 2>/dev/null; sleep 0.5; xdotool key q; sleep 0.5
  elif [ -n "$win" ] && [ -n "$seen_viewer" ]; then
    break
  fi
  sleep 0.2
done
if [ -z "$win" ]; then
  echo "main window not found"; kill "$pid"; exit 1
fi
echo "found window $win"
xdotool windowfocus "$win" 2>/dev/null
sleep 0.5
# The screen grab by its hot key, then Edit > Copy and Edit > Paste (the
# fourth and fifth entries: Undo, Mark, Cut, Copy, Paste).
xdotool key --clearmodifiers alt+Escape
sleep 2
xdotool key --clearmodifiers alt+e
sleep 0.5
xdotool key Down Down Down Return
sleep 1
xdotool key --clearmodifiers alt+e
sleep 0.5
xdotool key Down Down Down Down Return
sleep 2
if command -v import >/dev/null; then
  mkdir -p "$2/artefacts"
  import -window root "$2/artefacts/smoke-after-paste.png" 2>/dev/null
fi
# There is no window manager to send a close request: leave through the
# File menu's last entry (Exit), as a user with the keyboard would.
xdotool windowfocus "$win" 2>/dev/null
sleep 0.5
xdotool key --clearmodifiers alt+i
sleep 0.5
xdotool key Up Return
for _ in $(seq 1 50); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.2
done
if kill -0 "$pid" 2>/dev/null; then
  echo "program did not end"; kill "$pid"; exit 1
fi
wait "$pid"
rc=$?
echo "program ended with $rc"
[ $rc -eq 0 ] || exit $rc
log="$(ls "$TMPDIR"/kaxon5-*/*.log 2>/dev/null | head -1)"
[ -n "$log" ] || { echo "no log"; exit 1; }
opened=$(grep -c "'PNG 1280 x 1024 x 24'" "$log")
copied=$(grep -c "status changed: 'Image copied to the clipboard.'" "$log")
echo "grab and paste opened: $opened, copies: $copied"
[ "$opened" -ge 2 ] && [ "$copied" -ge 1 ] || { grep "status changed" "$log"; exit 1; }
