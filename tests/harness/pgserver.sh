#!/usr/bin/env bash
# A throw-away PostgreSQL server for the tests.
#
#   pgserver.sh start STATE_DIR   initdb in a new temporary directory, start the
#                                 server on a free port of 127.0.0.1 and write
#                                 STATE_DIR/env (variables for the tests); a
#                                 server that STATE_DIR names already is stopped
#                                 first, so a repeated start leaves one server
#   pgserver.sh stop STATE_DIR    stop that server and remove its directory
#   pgserver.sh restart STATE_DIR restart that server on the same port (every
#                                 connection to it ends); for tests that start
#                                 a server of their own
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/serverlib.sh"

pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [[ -z "$pgbin" ]]; then
  echo "pgserver: no PostgreSQL server installed (package postgresql)" >&2
  exit 1
fi

user=tarnwell
password=tarnwell-test-pw
database=tarnwell_test

start() {
  stop >/dev/null
  rm -rf "$state"
  mkdir -p "$state"
  local data
  data=$(new_server_dir tarnwell-pg)
  echo "$data" >"$state/datadir"
  printf '%s\n' "$password" >"$data/pwfile"
  as_server_user "$pgbin/initdb" -D "$data/db" -U "$user" --pwfile="$data/pwfile" \
    -A scram-sha-256 --auth-local=trust -E UTF8 --locale=C.UTF-8 --no-sync >"$state/initdb.log"

  local port attempt
  for attempt in 1 2 3 4 5 6 7 8; do
    port=$(free_port)
    if as_server_user "$pgbin/pg_ctl" -D "$data/db" -l "$data/server.log" -w -t 30 \
        -o "-p $port -k $data -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
        start >"$state/pg_ctl.log"; then
      break
    fi
    port=
  done
  if [[ -z "$port" ]]; then
    echo "pgserver: the server did not start" >&2
    cat "$data/server.log" >&2 || true
    exit 1
  fi
  as_server_user "$pgbin/psql" -h "$data" -p "$port" -U "$user" -d postgres -qAt \
    -c "CREATE DATABASE $database" >/dev/null

  # KEY='value' lines: the tests read them, and a shell can source them.
  cat >"$state/env" <<EOF
TARNWELL_TEST_PG='host=127.0.0.1 port=$port dbname=$database user=$user password=$password'
TARNWELL_TEST_PG_HOST='127.0.0.1'
TARNWELL_TEST_PG_PORT='$port'
TARNWELL_TEST_PG_DATABASE='$database'
TARNWELL_TEST_PG_USER='$user'
TARNWELL_TEST_PG_PASSWORD='$password'
TARNWELL_TEST_PG_DATADIR='$data'
EOF
  echo "pgserver: PostgreSQL on 127.0.0.1:$port ($data)"
}

stop() {
  if [[ ! -f "$state/datadir" ]]; then
    echo "pgserver: nothing to stop in $state"
    return 0
  fi
  local data
  data=$(cat "$state/datadir")
  # A test may have stopped the server itself (status 3: not running).
  if as_server_user "$pgbin/pg_ctl" -D "$data/db" status >/dev/null 2>&1; then
    as_server_user "$pgbin/pg_ctl" -D "$data/db" -m fast -w -t 30 stop >/dev/null
  fi
  if as_server_user "$pgbin/pg_ctl" -D "$data/db" status >/dev/null 2>&1; then
    echo "pgserver: the server at $data did not stop" >&2
    exit 1
  fi
  rm -rf "$data" "$state/datadir"
  echo "pgserver: stopped"
}

restart() {
  local data
  data=$(cat "$state/datadir")
  as_server_user "$pgbin/pg_ctl" -D "$data/db" -l "$data/server.log" -m fast -w -t 30 restart >"$state/pg_ctl.log"
  echo "pgserver: restarted"
}

run_action "$@"
