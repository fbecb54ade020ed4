#!/usr/bin/env bash
# Tarnwell's one entry point for a fresh Debian 12 machine.
#
#   ./setup.sh run    install what is missing, build, start Tarnwell
#   ./setup.sh test   install what is missing, build, run every test
#                     (normal build, AddressSanitizer + UndefinedBehaviorSanitizer
#                     build, ThreadSanitizer build of the data layer)
#   ./setup.sh deps   only install what is missing
#   ./setup.sh build  only build (build/)
#   ./setup.sh package  build, then make build/tarnwell_<version>_<arch>.deb
#                     and check it with lintian
#
# Installing needs root (or sudo); building and running do not.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
jobs="$(nproc 2>/dev/null || echo 2)"

# Build tools, Qt 6 with its own texts in Traditional Chinese, the four database client libraries, the servers and
# drivers the tests talk to, fonts for Traditional Chinese, the locale data
# for the locales the tests write files under, and the X tools the
# end-to-end tests use (Xvfb with a tint2 panel as the system tray), and
# poppler's readers, which check the report's PDF files, and the tools that
# make the Debian package and check it, its manual page, desktop metadata
# and shell completion.
packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6svg6 qt6-gtk-platformtheme qt6-translations-l10n
  libgl-dev libxkbcommon-dev
  libsqlite3-dev sqlite3
  libpq-dev postgresql postgresql-client
  libmariadb-dev mariadb-server mariadb-client
  unixodbc unixodbc-dev libsqliteodbc odbc-postgresql odbc-mariadb
  libgtest-dev
  libxlsxwriter-dev python3-openpyxl locales
  fonts-arphic-uming fonts-arphic-ukai fonts-noto-cjk fonts-urw-base35
  xvfb xauth x11-utils xdotool tint2
  poppler-utils
  dpkg-dev lintian man-db appstream desktop-file-utils bash-completion
)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  echo "setup: installing ${missing[*]}"
  local sudo=()
  if [[ $(id -u) -ne 0 ]]; then sudo=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The tests also write files under these locales, each a line of
# /etc/locale.gen: spreadsheets where the decimal separator is a comma, and
# text in Traditional Chinese Big5, the encoding of files from older systems.
test_locales=("de_DE.UTF-8 UTF-8" "zh_TW BIG5")

install_test_locales() {
  local missing=()
  local entry name charset
  for entry in "${test_locales[@]}"; do
    name=${entry% *}
    charset=${entry#* }
    charset=${charset,,}
    # locale -a lists them as de_DE.utf8 and zh_TW.big5.
    locale -a 2>/dev/null | grep -qix "${name%%.*}\.${charset//-/}" || missing+=("$entry")
  done
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  echo "setup: generating the locales ${missing[*]}"
  local sudo=()
  if [[ $(id -u) -ne 0 ]]; then sudo=(sudo); fi
  for entry in "${missing[@]}"; do
    grep -qx "$entry" /etc/locale.gen || echo "$entry" | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
  done
  "${sudo[@]}" locale-gen
}

configure_and_build() {
  local dir=$1
  shift
  cmake -S "$here" -B "$here/$dir" "$@"
  cmake --build "$here/$dir" -j "$jobs"
}

run_tests() {
  local dir=$1
  shift
  (cd "$here/$dir" && ctest --output-on-failure -j "$jobs" --timeout 600 "$@")
}

# Cases that push a limit with sheer volume (a million spreadsheet rows, more
# than a sheet of the old format holds, more than the clipboard takes): the
# normal build runs them; under a sanitizer they would take most of the
# test command's time while the code they walk is the same the smaller cases
# check there.
volume_cases='aSpreadsheetTakesRowsUpToItsLimitAndNeverCutsSilently|moreThan65535RecordsAskFirstAndYesCutsTheRest|tooMuchToCopyIsRefusedAndTheClipboardKeepsWhatItHeld'


case "${1:-}" in
  deps)
    install_missing
    install_test_locales
    ;;
  build)
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    ;;
  run)
    install_missing
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    shift
    exec "$here/build/tarnwell" "$@"
    ;;
  package)
    install_missing
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    (cd "$here/build" && cpack -G DEB)
    deb=$(ls -t "$here"/build/tarnwell_*.deb | head -n 1)
    lintian --fail-on error,warning "$deb"
    echo "setup: made $deb"
    ;;
  test)
    install_missing
    install_test_locales
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    run_tests build
    # A unity build: the sanitizer build compiles in half the time.
    configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DTARNWELL_SANITIZE=address,undefined \
      -DCMAKE_UNITY_BUILD=ON
    run_tests build-asan -E "$volume_cases"
    configure_and_build build-tsan -DCMAKE_BUILD_TYPE=Debug -DTARNWELL_SANITIZE=thread -DTARNWELL_DATA_LAYER_ONLY=ON
    run_tests build-tsan
    echo "setup: every test passed"
    ;;
  *)
    sed -n '2,13p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
