#!/usr/bin/env bash
# Drives the desktop program as a person does, under a virtual display with a window manager
# (openbox), on screens of 1024x768, 1366x768 and 1920x1080, and saves what the screen shows in
# docs/screenshots/<size>/ (or the folder given):
#   main.png      the main window, the example imported, DEC chosen, every factor ticked
#   dialog.png    the table dialog, used from the keyboard, a table selected
#   equation.png  the equation box of the full regression on those twelve factors
#   skill.png     预报检验 of that choice
#   outlook.png   its 概率预报 tab, a case typed in and a null test of 50 shuffles run
#   grid.png      the grid while the MAY cell of 1955 is typed into
# The grid's edit is then posted with Down, and the file read back: exactly that cell must have
# changed, or the script fails. It works on a copy of the example; the repository's stays as it is.
# SCREENS="1024x768" limits the run to the screens named.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/screenshots}"
screens="${SCREENS:-1024x768 1366x768 1920x1080}"
scripts/setup.sh >/dev/null
batch="$(pwd)/build/batch/quorlin-batch"
work=$(mktemp -d)
trap 'kill ${app:-} ${wm:-} ${xvfb:-} 2>/dev/null || true; rm -rf "$work"' EXIT

visible() {  # the first visible window whose title matches $1
  for _ in $(seq 50); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  echo "window '$1' did not appear" >&2; return 1
}
click() {  # window, x, y within its client area; button (1 unless given)
  xdotool mousemove --window "$1" "$2" "$3" click "${4:-1}"
  sleep 0.5
}
shot() {  # the whole screen, so that a window reaching past its edge shows
  import -window root "$dir/$1"
  echo "saved $dir/$1"
}
grid_window() {  # the browser: the program's visible window 544 pixels wide
  for id in $(xdotool search --onlyvisible --pid "$app" 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$id")"
    [ "$WIDTH" = 544 ] && { echo "$id"; return 0; }
  done
  echo "the grid did not appear" >&2; return 1
}

case_entry() {  # WIDTHxHEIGHT: where the first factor's entry of 预报检验 lies, in its window
  case "$1" in
    1024x768) echo "120 478" ;;
    1366x768) echo "120 478" ;;
    1920x1080) echo "120 570" ;;
  esac
}

one_screen() {  # WIDTHxHEIGHT
  dir="$out/$1"
  mkdir -p "$dir"
  cp examples/example.mdb "$work/example.mdb"
  chmod u+w "$work/example.mdb"
  display=":$((90 + RANDOM % 9))"
  Xvfb "$display" -screen 0 "$1x24" >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY="$display"
  sleep 1
  openbox >/dev/null 2>&1 &
  wm=$!
  sleep 1
  build/ui/quorlin >/dev/null 2>&1 &
  app=$!
  main=$(visible '^Quorlin$')

  # Import from the keyboard: the folder button has the focus, Enter opens the file dialog.
  click "$main" 423 60                       # 导入数据表
  visible '选择数据表' >/dev/null
  xdotool key Return
  visible '打开' >/dev/null
  xdotool type --delay 10 "$work/example.mdb"
  xdotool key Return
  sleep 1.5
  xdotool key Down                           # the list has the focus: ElNino
  sleep 0.5
  shot dialog.png
  xdotool key Return                         # OK
  sleep 1.5

  click "$main" 200 26                       # the Y list
  xdotool key End Return                     # DEC, the last column
  sleep 0.5
  click "$main" 180 150                      # the factor list ...
  click "$main" 180 150 3                    # ... its menu
  xdotool key Down Return                    # 全部选中(&S)
  sleep 0.5
  shot main.png

  click "$main" 168 315                      # the method list ...
  xdotool key Down Return                    # ... 多元线性回归法
  click "$main" 424 29                       # 计算&保存
  visible '回归方程为:' >/dev/null
  sleep 0.5
  shot equation.png
  xdotool key Return                         # closes the box
  visible '保存方程数据为' >/dev/null
  xdotool key Escape                         # saves nothing
  sleep 0.5

  click "$main" 424 197                      # 预报检验
  skill=$(visible '^预报检验$')
  sleep 1.5
  shot skill.png

  # The case, 2005's autumn: the first entry clicked, each value typed and Tab to the next.
  eval "$(xdotool getwindowgeometry --shell "$skill")"
  case_at=$(case_entry "$1")
  click "$skill" "${case_at% *}" "${case_at#* }"
  for v in 2012 24.61 25.09 25.23 25.21 24.31 22.6 21.61 20.47 20 19.89 20.61; do
    xdotool type --delay 20 "$v"
    xdotool key Tab
  done
  # The charts' tabs begin where the splitter first puts the right pane, two fifths across.
  click "$skill" $((9 + 2 * (WIDTH - 18) / 5 + 100)) 81   # 概率预报
  sleep 1
  xdotool key alt+n ctrl+a                                # 打乱次数
  xdotool type --delay 20 50
  xdotool key alt+r                                       # 开始检验
  sleep 2
  shot outlook.png
  xdotool windowunmap "$skill"
  sleep 0.5

  click "$main" 424 93                       # 显示数据表
  sleep 1.5
  grid=$(grid_window)
  # The MAY cell of 1955: below the titles, the sixth record; past the indicator, the sixth field.
  click "$grid" 283 137
  xdotool type --delay 50 25.5
  sleep 0.5
  shot grid.png
  xdotool key Down
  sleep 1.5
  "$batch" export examples/example.mdb --table ElNino >"$work/before.csv"
  "$batch" export "$work/example.mdb" --table ElNino >"$work/after.csv"
  sed -i '7s/^1955,23.75,24.82,25.14,24.22,22.16,/1955,23.75,24.82,25.14,24.22,25.5,/' "$work/before.csv"
  if ! diff "$work/before.csv" "$work/after.csv"; then
    echo "$1: the grid changed something other than MAY of 1955 to 25.5" >&2
    exit 1
  fi
  echo "$1: one click, 25.5 and Down changed exactly MAY of 1955"

  kill "$app" "$wm" "$xvfb" 2>/dev/null || true
  wait "$app" "$wm" "$xvfb" 2>/dev/null || true
}

for screen in $screens; do one_screen "$screen"; done
