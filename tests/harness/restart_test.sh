#!/usr/bin/env bash
# Starting the test servers again on one state directory (ctest --repeat
# repeats the fixture that starts them) stops the servers of the first start,
# and stopping stops the second: no server outlives its state directory.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/serverlib.sh"
scratch=$(mktemp -d /tmp/tarnwell-restart-test.XXXXXX)
state="$scratch/state"
trap '"$here/testservers.sh" stop "$state" >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# "pid directory" for each server the state directory names.
servers() {
  local data
  data=$(cat "$state/pg/datadir")
  echo "$(head -n 1 "$data/db/postmaster.pid") $data"
  if [[ -f "$state/mariadb/datadir" ]]; then
    data=$(cat "$state/mariadb/datadir")
    echo "$(cat "$data/mariadb.pid") $data"
  fi
}

"$here/testservers.sh" start "$state" >/dev/null
first=$(servers)
"$here/testservers.sh" start "$state" >/dev/null
second=$(servers)

while read -r pid data; do
  if process_alive "$pid"; then fail "server $pid of the first start still runs"; fi
  if [[ -e "$data" ]]; then fail "$data of the first start is still there"; fi
done <<<"$first"
while read -r pid data; do
  process_alive "$pid" || fail "server $pid of the second start is not running"
done <<<"$second"

"$here/testservers.sh" stop "$state" >/dev/null
while read -r pid data; do
  if process_alive "$pid"; then fail "server $pid still runs after stop"; fi
  if [[ -e "$data" ]]; then fail "$data is still there after stop"; fi
done <<<"$second"

if ((failures)); then
  exit 1
fi
echo "restart_test: $(wc -l <<<"$second") servers replaced and stopped"
