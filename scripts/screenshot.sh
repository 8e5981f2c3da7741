#!/usr/bin/env bash
# Starts the desktop program under a virtual display, imports the bundled example through the
# real widgets (the import button, the folder button, the file dialog, the table list, OK),
# chooses DEC, ticks every factor, and saves a screenshot: docs/screenshot.png by default.
# Then, beside it: equation.png, the equation box of the full method on that choice, and
# skill.png, the forecast check of the stepwise method on that choice, and grid.png, the grid on
# the table Big of the benchmark database (when ../shared has it).
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

import_table() {  # a database file; the table is the first listed
  click_in "$main" 424 60                    # 导入数据表
  dialog=$(wait_for '选择数据表')
  click_in "$dialog" 299 19                  # the folder button
  wait_for '打开' >/dev/null
  xdotool type --delay 20 "$1"
  xdotool key Return
  sleep 1.5
  click_in "$dialog" 60 80                   # the first table
  xdotool key Return                         # OK
  sleep 1.5
}
window_of_size() {  # a visible window of the program that is $1 pixels wide
  for id in $(xdotool search --onlyvisible --pid "$app" 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$id")"
    [ "$WIDTH" = "$1" ] && { echo "$id"; return 0; }
  done
  echo "no window $1 pixels wide" >&2; return 1
}

main=$(wait_for '^Quorlin$')
import_table "$(pwd)/examples/example.mdb"   # ElNino
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

docs="$(dirname "$out")"
click_in "$main" 168 315                     # the method list ...
xdotool key Down Return                      # ... 多元线性回归法
click_in "$main" 424 29                      # 计算&保存
box=$(wait_for '回归方程为:')
sleep 0.5
import -window "$box" "$docs/equation.png"
echo "saved $docs/equation.png"
xdotool key Return                           # closes the box
wait_for '保存方程数据为' >/dev/null
xdotool key Escape                           # saves nothing
sleep 0.5

click_in "$main" 168 315                     # the method list ...
xdotool key Up Return                        # ... 逐步回归法 again
click_in "$main" 424 197                     # 预报检验
skill=$(wait_for '^预报检验$')
sleep 1.5
import -window "$skill" "$docs/skill.png"
echo "saved $docs/skill.png"
xdotool windowunmap "$skill"                 # out of the way of the clicks to come
sleep 0.5

bench="$(pwd)/../shared/fixtures/bench.mdb"
if [ -f "$bench" ]; then
  import_table "$bench"                      # Big, its only table
  click_in "$main" 424 93                    # 显示数据表
  sleep 1.5
  grid=$(window_of_size 544)
  import -window "$grid" "$docs/grid.png"
  echo "saved $docs/grid.png"
else
  echo "no $bench: grid.png left as it was"
fi
