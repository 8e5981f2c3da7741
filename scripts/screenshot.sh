#!/usr/bin/env bash
# Starts the desktop program under a virtual display, imports the bundled example through the
# real widgets (the import button, the folder button, the file dialog, the table list, OK),
# chooses DEC, ticks every factor, and saves a screenshot: docs/screenshot.png by default.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/screenshot.png}"
missing=()
for p in xvfb xdotool imagemagick; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
scripts/setup.sh >/dev/null

display=":$((90 + RANDOM % 9))"
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $app $xvfb 2>/dev/null || true' EXIT
export DISPLAY="$display"
sleep 1
build/ui/quorlin >/dev/null 2>&1 &
app=$!

wait_for() {  # a window whose title matches $1
  for _ in $(seq 50); do
    id=$(xdotool search --name "$1" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  echo "window '$1' did not appear" >&2; return 1
}
click_in() {  # window, x, y within it
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove $((X + $2)) $((Y + $3)) click 1
  sleep 0.5
}

main=$(wait_for '^Quorlin$')
click_in "$main" 424 60                      # 导入数据表
dialog=$(wait_for '选择数据表')
click_in "$dialog" 299 19                    # the folder button
files=$(wait_for '打开')
xdotool type --delay 20 "$(pwd)/examples/example.mdb"
xdotool key Return
sleep 1.5
click_in "$dialog" 60 80                     # the first table: ElNino
xdotool key Return                           # OK
sleep 1
click_in "$main" 200 26                      # the Y list
xdotool key End Return                       # DEC, the last column
sleep 0.5
click_in "$main" 180 150                     # the factor list ...
xdotool click 3                              # ... its context menu
sleep 0.5
xdotool key Down Return                      # 全部选中(&S)
sleep 0.5
mkdir -p "$(dirname "$out")"
import -window root -crop 487x337+0+0 "$out"
echo "saved $out"
