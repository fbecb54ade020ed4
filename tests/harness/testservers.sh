#!/usr/bin/env bash
# The servers of one test run, and a private unixODBC configuration around
# them.
#
#   testservers.sh start STATE_DIR   start a PostgreSQL server (pgserver.sh, in
#                                    STATE_DIR/pg) and, where MariaDB is
#                                    installed, a MariaDB server
#                                    (mariadbserver.sh, in STATE_DIR/mariadb);
#                                    write STATE_DIR/odbc/ (odbcinst.ini,
#                                    odbc.ini) and STATE_DIR/env, every
#                                    variable for the tests
#   testservers.sh stop STATE_DIR    stop both servers
#
# Starting again stops what STATE_DIR names first, so a repeated start (ctest
# --repeat repeats the fixture) leaves one server of each kind.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/serverlib.sh"

mariadb_installed() {
  command -v mariadb-install-db >/dev/null && command -v mariadb >/dev/null
}

# KEY value of an env file written by a server script.
env_value() {
  sed -n "s/^$2='\\(.*\\)'\$/\\1/p" "$1"
}

write_odbc_config() {
  local dir="$state/odbc"
  mkdir -p "$dir"
  local sqlite_driver pg_driver mariadb_driver
  sqlite_driver=$(driver_library libsqliteodbc libsqlite3odbc.so)
  pg_driver=$(driver_library odbc-postgresql psqlodbcw.so)
  mariadb_driver=$(driver_library odbc-mariadb libmaodbc.so)
  if [[ -z "$sqlite_driver" || -z "$pg_driver" ]]; then
    echo "testservers: ODBC drivers missing (packages libsqliteodbc, odbc-postgresql)" >&2
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
  local pg="$state/pg/env"
  cat >"$dir/odbc.ini" <<EOF
[tarnwell_sqlite]
; StepAPI=1: rows are stepped on demand, not all read when the statement runs
Description=Tarnwell tests over SQLite
Driver=SQLite3
Database=$dir/odbc-test.db
StepAPI=1

[tarnwell_pg]
Description=Tarnwell tests over PostgreSQL
Driver=PostgreSQL Unicode
Servername=$(env_value "$pg" TARNWELL_TEST_PG_HOST)
Port=$(env_value "$pg" TARNWELL_TEST_PG_PORT)
Database=$(env_value "$pg" TARNWELL_TEST_PG_DATABASE)
Username=$(env_value "$pg" TARNWELL_TEST_PG_USER)
Password=$(env_value "$pg" TARNWELL_TEST_PG_PASSWORD)
UseDeclareFetch=1
Fetch=100
EOF
  local mariadb="$state/mariadb/env"
  if [[ -n "$mariadb_driver" && -f "$mariadb" ]]; then
    cat >>"$dir/odbcinst.ini" <<EOF

[MariaDB Unicode]
Description=MariaDB Connector/ODBC
Driver=$mariadb_driver
EOF
    cat >>"$dir/odbc.ini" <<EOF

[tarnwell_mariadb]
Description=Tarnwell tests over MariaDB
Driver=MariaDB Unicode
Server=$(env_value "$mariadb" TARNWELL_TEST_MARIADB_HOST)
Port=$(env_value "$mariadb" TARNWELL_TEST_MARIADB_PORT)
Database=$(env_value "$mariadb" TARNWELL_TEST_MARIADB_DATABASE)
User=$(env_value "$mariadb" TARNWELL_TEST_MARIADB_USER)
Password=$(env_value "$mariadb" TARNWELL_TEST_MARIADB_PASSWORD)
Charset=utf8mb4
EOF
    echo "TARNWELL_TEST_MARIADB_DSN='tarnwell_mariadb'" >>"$state/mariadb/env"
  elif [[ -f "$mariadb" ]]; then
    echo "testservers: no MariaDB ODBC driver (package odbc-mariadb): no data source for MariaDB" >&2
  fi
  : >"$dir/user-odbc.ini"
}

start() {
  stop >/dev/null
  rm -rf "$state"
  mkdir -p "$state"
  local pg mariadb=
  "$here/pgserver.sh" start "$state/pg" &
  pg=$!
  if mariadb_installed; then
    "$here/mariadbserver.sh" start "$state/mariadb" &
    mariadb=$!
  else
    echo "testservers: MariaDB is not installed (packages mariadb-server, mariadb-client): its tests are skipped (under CI=true they fail)" >&2
  fi
  local failed=0
  wait "$pg" || failed=1
  if [[ -n "$mariadb" ]]; then
    wait "$mariadb" || failed=1
  fi
  if ((failed)); then
    stop >/dev/null
    exit 1
  fi

  if ! write_odbc_config; then
    stop >/dev/null
    exit 1
  fi
  {
    cat "$state/pg/env"
    if [[ -f "$state/mariadb/env" ]]; then
      cat "$state/mariadb/env"
    fi
    echo "ODBCSYSINI='$state/odbc'"
    echo "ODBCINI='$state/odbc/user-odbc.ini'"
  } >"$state/env"
}

stop() {
  local failed=0
  "$here/pgserver.sh" stop "$state/pg" || failed=1
  if [[ -d "$state/mariadb" ]]; then
    "$here/mariadbserver.sh" stop "$state/mariadb" || failed=1
  fi
  return "$failed"
}

run_action "$@"
