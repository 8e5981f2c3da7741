#!/usr/bin/env bash
# Installs whatever build and test dependency is missing (Debian 12, through apt), then
# configures and builds Quorlin in build/. Fast when everything is in place already.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config   # compiler and build
  libgtest-dev libgmock-dev libbenchmark-dev      # tests and benchmarks
  nlohmann-json3-dev libcli11-dev                 # the batch command's JSON and arguments
  libsqlite3-dev                                  # evaluating saved queries (views)
  libseccomp-dev                                  # confining the reading process to the calls reading needs
  libxxhash-dev                                   # XXH3: the fingerprint of the bytes a table was read from
  libboost-math-dev                               # Student t and F distributions of the skill figures
  mdbtools                                        # mdb-export: the benchmarks' yardstick, a reader in the tests
  python3                                         # the tests' independent reader of Access files
  qt6-base-dev libgl-dev                          # the desktop program (Qt 6 Widgets)
  qt6-charts-dev qt6-svg-dev libqt6opengl6-dev    # the skill charts (Qt Charts needs Qt OpenGL's CMake files), SVG charts and icon
  qt6-translations-l10n                           # Qt's own dialogs and buttons in Chinese
  gettext                                         # msgfmt compiles the Chinese catalog of our texts; xgettext, msgmerge refresh it
  libc-l10n                                       # the C library's own error texts (such as a refused write) in Chinese too
  desktop-file-utils                              # desktop-file-validate, checking the installed entry
  default-jre-headless default-jdk-headless libcommons-lang3-java libcommons-logging-java  # the tests' independent Access reader and its tools
  fonts-wqy-zenhei                                # a CJK font, so that Chinese captions render
  xvfb openbox xdotool imagemagick                # scripts/screenshot.sh: a display, a window manager, the hand, the camera
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build_dir="${QUORLIN_BUILD_DIR:-build}"
if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
fi
cmake --build "$build_dir"
