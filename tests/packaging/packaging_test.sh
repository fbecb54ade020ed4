#!/usr/bin/env bash
# Checks of what a Debian package of Tarnwell carries.
#
#   packaging_test.sh deb BUILD_DIR CPACK BINARY
#       makes the package from the built tree, unpacks it with dpkg-deb -x
#       and runs the unpacked program: --version, and a batch run on DEMO
#       whose CSV must equal the build tree's program's, read from the
#       unpacked sample database; then lintian, where installed.
#   packaging_test.sh manual BINARY MANPAGE
#       the manual page renders without warnings and lists the options
#       --help lists, and no option --help lacks.
#   packaging_test.sh metadata VERSION DESKTOP METAINFO CHANGELOG
#       desktop-file-validate and appstreamcli validate pass; the newest
#       release of the metadata and of the changelog is VERSION.
#   packaging_test.sh completion BINARY COMPLETION
#       the bash completion offers --help's options, the aliases of the
#       aliases file and unixODBC's data sources, and files for --run and
#       the outputs.
#
# A tool that is missing skips the check (exit 77), or fails it under CI=true.
set -uo pipefail
# Sorted lists and rendered pages alike whatever the caller's locale.
export LC_ALL=C.UTF-8

skip=77
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwell-packaging.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*"
  exit 1
}

missing() {
  if [[ ${CI:-} == true ]]; then
    fail "$1 is not installed"
  fi
  echo "SKIP: $1 is not installed"
  exit $skip
}

need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || missing "$tool"
  done
}

# The options a text names: words starting with - or -- after a blank, a
# bracket, a comma or a bar, one a line, sorted.
options_in() {
  grep -oE '(^|[][ ,(|])--?[a-z][a-z-]*' | sed 's/^[][ ,(|]//' | sort -u
}

# Lines of $1 that $2 lacks.
lacking() {
  comm -23 <(printf '%s\n' "$1") <(printf '%s\n' "$2")
}

check_deb() {
  local build=$1 cpack=$2 binary=$3
  need dpkg-deb dpkg-shlibdeps
  "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack could not make the package"; }
  local version deb
  version=$("$binary" --version | sed -n 's/^Tarnwell //p')
  deb=$work/out/tarnwell_${version}_$(dpkg --print-architecture).deb
  [[ -f $deb ]] || { ls "$work/out"; fail "no $(basename "$deb")"; }
  echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
  dpkg-deb -f "$deb" Depends Recommends Suggests

  local root=$work/root
  dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
  local file
  for file in bin/tarnwell share/tarnwell/demo.db share/applications/tarnwell.desktop \
    share/icons/hicolor/scalable/apps/tarnwell.svg share/man/man1/tarnwell.1.gz \
    share/metainfo/io.github.tarnwell.Tarnwell.metainfo.xml share/bash-completion/completions/tarnwell \
    share/doc/tarnwell/README.md share/doc/tarnwell/copyright share/doc/tarnwell/changelog.gz; do
    [[ -f $root/usr/$file ]] || fail "the package lacks /usr/$file"
  done

  local unpacked=$root/usr/bin/tarnwell
  [[ $("$unpacked" --version) == "$("$binary" --version)" ]] ||
    fail "the unpacked program says '$("$unpacked" --version)'"

  # No alias file of the machine's may replace DEMO.
  : >"$work/aliases.conf"
  export TARNWELL_ALIASES=$work/aliases.conf
  echo 'SELECT * FROM 客戶訂單總覽' >"$work/orders.sql"
  "$binary" --run "$work/orders.sql" --alias DEMO --csv "$work/built.csv" || fail "the build tree's run failed"
  "$unpacked" --run "$work/orders.sql" --alias DEMO --csv "$work/unpacked.csv" || fail "the unpacked run failed"
  [[ $(wc -l <"$work/built.csv") -gt 1 ]] || fail "the sample view has no rows"
  cmp "$work/built.csv" "$work/unpacked.csv" || fail "the unpacked program writes other CSV"

  echo "SELECT file FROM pragma_database_list WHERE name = 'main'" >"$work/where.sql"
  local opened
  opened=$("$unpacked" --run "$work/where.sql" --alias DEMO | tail -n 1 | tr -d '\r')
  [[ $(realpath "$opened") == $(realpath "$root/usr/share/tarnwell/demo.db") ]] ||
    fail "the unpacked program opened '$opened', not its own sample database"

  if ! command -v lintian >/dev/null 2>&1; then
    [[ ${CI:-} == true ]] && fail "lintian is not installed"
    echo "lintian is not installed; not run"
    return 0
  fi
  # Errors and warnings fail; each one the package accepts is overridden,
  # with its reason, in packaging/tarnwell.lintian-overrides.
  lintian --fail-on error,warning "$deb" || fail "lintian reports errors or warnings"
}

check_manual() {
  local binary=$1 page=$2
  need man
  local rendered=$work/page.txt
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" >"$rendered" 2>"$work/warnings" ||
    fail "man -l failed"
  [[ -s $work/warnings ]] && { cat "$work/warnings"; fail "man -l warns"; }
  grep -q '^SYNOPSIS' "$rendered" || fail "the page has no SYNOPSIS"

  # The options the page explains are the tags of its lists.
  local help documented
  help=$("$binary" --help | options_in)
  documented=$(awk 'tag { print; tag = 0 } /^\.T[PQ]/ { tag = 1 }' "$page" | sed 's/\\%//g; s/\\-/-/g' | options_in)
  local absent extra
  absent=$(lacking "$help" "$documented")
  [[ -z $absent ]] || fail "the manual page does not explain ${absent//$'\n'/ }"
  # Qt's own options may be named in the page alone.
  extra=$(lacking "$(grep -- '^--' <<<"$documented")" "$help")
  [[ -z $extra ]] || fail "the manual page explains ${extra//$'\n'/ }, which --help does not list"
}

check_metadata() {
  local version=$1 desktop=$2 metainfo=$3 changelog=$4
  need desktop-file-validate appstreamcli
  desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $(basename "$desktop")"
  appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects $(basename "$metainfo")"
  grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo" ||
    fail "the metadata does not launch $(basename "$desktop")"
  local newest
  newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n 1 | cut -d'"' -f2)
  [[ $newest == "$version" ]] || fail "the metadata's newest release is $newest, not $version"
  newest=$(head -n 1 "$changelog" | sed -n 's/^tarnwell (\([^)]*\)).*/\1/p')
  [[ $newest == "$version" ]] || fail "the changelog's newest entry is ${newest:-unreadable}, not $version"
}

check_completion() {
  local binary=$1 script
  script=$(realpath "$2")
  local library=/usr/share/bash-completion/bash_completion
  [[ -f $library ]] || missing bash-completion
  mkdir -p "$work/files/folder" "$work/config/tarnwell"
  touch "$work/files/"{a.sql,B.SQL,notes.txt,out.csv}
  cat >"$work/config/tarnwell/aliases.conf" <<'EOF'
; a comment
[ERP]
TYPE=POSTGRESQL
[本地銷售]
 type = SQLITE
[NO TYPE]
PATH=/x.db
[my alias]
TYPE=ODBC
[erp]
TYPE=SQLITE
[demo]
TYPE=SQLITE
[broken
TYPE=SQLITE
EOF
  printf '[warehouse]\nDriver=/nowhere/driver.so\n' >"$work/odbc.ini"
  : >"$work/odbcinst.ini"

  # Each line completed gives a line of what is offered, sorted. Words
  # split at blanks and at "=", as bash splits them.
  local output
  output=$(cd "$work/files" && env -u TARNWELL_ALIASES XDG_CONFIG_HOME="$work/config" \
    ODBCINI="$work/odbc.ini" ODBCSYSINI="$work" bash --norc -c '
      source "$1" && source "$2" || exit 1
      compopt() { :; }
      complete_line() {
        COMP_LINE=$1
        COMP_POINT=${#COMP_LINE}
        read -ra COMP_WORDS <<<"${COMP_LINE//=/ = }"
        [[ $COMP_LINE == *[\ =] ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMPREPLY=()
        _tarnwell tarnwell "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd " "
      }
      complete_line "tarnwell --"
      complete_line "tarnwell --alias "
      complete_line "tarnwell --alias my"
      complete_line "tarnwell --run "
      complete_line "tarnwell --csv="
      complete_line "tarnwell --separator "
    ' completion "$library" "$script") || fail "the completion script does not load"

  local offered
  offered=$(sed -n 1p <<<"$output" | tr ' ' '\n' | sort -u)
  [[ $offered == "$("$binary" --help | options_in | grep -- '^--')" ]] ||
    fail "'tarnwell --' offers ${offered//$'\n'/ }, not --help's long options"
  # unixODBC's data sources come from its odbcinst tool.
  local sources="DEMO ERP my alias 本地銷售"
  command -v odbcinst >/dev/null 2>&1 && sources="DEMO ERP my alias warehouse 本地銷售"
  local expected=("$sources" "my alias" "B.SQL a.sql folder" "folder out.csv" "")
  local i
  for i in "${!expected[@]}"; do
    [[ $(sed -n "$((i + 2))p" <<<"$output") == "${expected[i]}" ]] ||
      fail "completion $((i + 2)) offers '$(sed -n "$((i + 2))p" <<<"$output")', not '${expected[i]}'"
  done
}

mode=${1:-}
shift || true
case $mode in
  deb) check_deb "$@" ;;
  manual) check_manual "$@" ;;
  metadata) check_metadata "$@" ;;
  completion) check_completion "$@" ;;
  *) fail "usage: packaging_test.sh deb|manual|metadata|completion ..." ;;
esac
echo "PASS"
