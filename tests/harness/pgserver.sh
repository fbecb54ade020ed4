#!/usr/bin/env bash
# A throw-away PostgreSQL server for the tests, and a private unixODBC
# configuration around it.
#
#   pgserver.sh start STATE_DIR   initdb in a new temporary directory, start the
#                                 server on a free port of 127.0.0.1, write
#                                 STATE_DIR/env (variables for the tests) and
#                                 STATE_DIR/odbc/ (odbcinst.ini, odbc.ini)
#   pgserver.sh stop STATE_DIR    stop that server and remove its directory
#
# PostgreSQL refuses to run as root, so under root the server runs as
# "nobody"; its data lives in /tmp, where that user can reach it.
set -euo pipefail

action=${1:-}
state=${2:-}
if [[ -z "$action" || -z "$state" ]]; then
  echo "usage: $0 start|stop STATE_DIR" >&2
  exit 2
fi

pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [[ -z "$pgbin" ]]; then
  echo "pgserver: no PostgreSQL server installed (package postgresql)" >&2
  exit 1
fi

user=tarnwell
password=tarnwell-test-pw
database=tarnwell_test

as_server_user() {
  if [[ $(id -u) -eq 0 ]]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

driver_library() {
  # The driver's shared object as its Debian package installed it.
  dpkg -L "$1" 2>/dev/null | grep -E "/$2\$" | head -n 1
}

write_odbc_config() {
  local port=$1
  local dir="$state/odbc"
  mkdir -p "$dir"
  local sqlite_driver pg_driver
  sqlite_driver=$(driver_library libsqliteodbc libsqlite3odbc.so)
  pg_driver=$(driver_library odbc-postgresql psqlodbcw.so)
  if [[ -z "$sqlite_driver" || -z "$pg_driver" ]]; then
    echo "pgserver: ODBC drivers missing (packages libsqliteodbc, odbc-postgresql)" >&2
    return 1
  fi
  cat >"$dir/odbcinst.ini" <<EOF
[SQLite3]
Description=SQLite3 ODBC Driver
Driver=$sqlite_driver
Setup=$sqlite_driver

[PostgreSQL Unicode]
Description=PostgreSQL ODBC driver (Unicode)
Driver=$pg_driver
Setup=$pg_driver
EOF
  cat >"$dir/odbc.ini" <<EOF
[tarnwell_sqlite]
; StepAPI=1: rows are stepped on demand, not all read when the statement runs
Description=Tarnwell tests over SQLite
Driver=SQLite3
Database=$state/odbc/odbc-test.db
StepAPI=1

[tarnwell_pg]
Description=Tarnwell tests over PostgreSQL
Driver=PostgreSQL Unicode
Servername=127.0.0.1
Port=$port
Database=$database
Username=$user
Password=$password
UseDeclareFetch=1
Fetch=100
EOF
  : >"$dir/user-odbc.ini"
}

start() {
  rm -rf "$state"
  mkdir -p "$state"
  local data
  data=$(mktemp -d /tmp/tarnwell-pg.XXXXXX)
  echo "$data" >"$state/datadir"
  printf '%s\n' "$password" >"$data/pwfile"
  if [[ $(id -u) -eq 0 ]]; then
    chown -R nobody:nogroup "$data"
  fi
  as_server_user "$pgbin/initdb" -D "$data/db" -U "$user" --pwfile="$data/pwfile" \
    -A scram-sha-256 --auth-local=trust -E UTF8 --locale=C.UTF-8 --no-sync >"$state/initdb.log"

  local port attempt
  for attempt in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 40000))
    port_in_use "$port" && continue
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
  echo "$port" >"$state/port"
  as_server_user "$pgbin/psql" -h "$data" -p "$port" -U "$user" -d postgres -qAt \
    -c "CREATE DATABASE $database" >/dev/null

  write_odbc_config "$port"
  # KEY='value' lines: the tests read them, and a shell can source them.
  cat >"$state/env" <<EOF
TARNWELL_TEST_PG='host=127.0.0.1 port=$port dbname=$database user=$user password=$password'
TARNWELL_TEST_PG_HOST='127.0.0.1'
TARNWELL_TEST_PG_PORT='$port'
TARNWELL_TEST_PG_DATABASE='$database'
TARNWELL_TEST_PG_USER='$user'
TARNWELL_TEST_PG_PASSWORD='$password'
TARNWELL_TEST_PG_DATADIR='$data'
ODBCSYSINI='$state/odbc'
ODBCINI='$state/odbc/user-odbc.ini'
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
  if [[ -d "$data/db" ]]; then
    as_server_user "$pgbin/pg_ctl" -D "$data/db" -m fast -w -t 30 stop >/dev/null
  fi
  if [[ -f "$data/db/postmaster.pid" ]]; then
    echo "pgserver: the server at $data did not stop" >&2
    exit 1
  fi
  rm -rf "$data" "$state/datadir"
  echo "pgserver: stopped"
}

case "$action" in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop STATE_DIR" >&2; exit 2 ;;
esac
