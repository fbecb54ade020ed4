#!/usr/bin/env bash
# A throw-away MariaDB server for the tests.
#
#   mariadbserver.sh start STATE_DIR   set up a data directory in a new
#                                      temporary directory, start the server on
#                                      a free port of 127.0.0.1 and write
#                                      STATE_DIR/env (variables for the tests);
#                                      a server that STATE_DIR names already is
#                                      stopped first
#   mariadbserver.sh stop STATE_DIR    stop that server and remove its directory
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/serverlib.sh"

server=$(command -v mariadbd || ls /usr/sbin/mariadbd 2>/dev/null || true)
if [[ -z "$server" ]] || ! command -v mariadb-install-db >/dev/null || ! command -v mariadb >/dev/null; then
  echo "mariadbserver: no MariaDB server installed (packages mariadb-server, mariadb-client)" >&2
  exit 1
fi

user=tarnwell
password=tarnwell-test-pw
database=tarnwell_test
# Small and unsynced: the data is thrown away with the server.
tuning=(--innodb-buffer-pool-size=64M --innodb-log-file-size=16M
        --innodb-flush-log-at-trx-commit=0 --innodb-doublewrite=0 --skip-log-bin)

answers() {
  mariadb --no-defaults --protocol=tcp -h 127.0.0.1 -P "$1" -u "$user" -p"$password" \
    -e 'SELECT 1' "$database" >/dev/null 2>&1
}

# The server's process, if the pid file names one that still serves $1.
server_pid() {
  local pid
  pid=$(cat "$1/mariadb.pid" 2>/dev/null || true)
  if [[ -n "$pid" ]] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "--datadir=$1/db"; then
    echo "$pid"
  fi
}

start() {
  stop >/dev/null
  rm -rf "$state"
  mkdir -p "$state"
  local data
  data=$(new_server_dir tarnwell-mariadb)
  echo "$data" >"$state/datadir"
  cat >"$data/init.sql" <<EOF
CREATE DATABASE IF NOT EXISTS $database CHARACTER SET utf8mb4;
CREATE USER IF NOT EXISTS '$user'@'%' IDENTIFIED BY '$password';
GRANT ALL PRIVILEGES ON $database.* TO '$user'@'%';
EOF
  # Temporary tables of its own too: nothing else in /tmp touches them.
  as_server_user mkdir "$data/tmp"
  if ! as_server_user mariadb-install-db --no-defaults --datadir="$data/db" --tmpdir="$data/tmp" --skip-test-db \
      --auth-root-authentication-method=normal "${tuning[@]}" >"$state/install.log" 2>&1; then
    echo "mariadbserver: the data directory could not be set up" >&2
    cat "$state/install.log" >&2
    exit 1
  fi

  local port attempt tries runner
  for attempt in 1 2 3 4 5 6 7 8; do
    port=$(free_port)
    # Its own session, so that nothing meant for the harness's process group
    # reaches it.
    setsid "${as_server[@]}" "$server" --no-defaults --datadir="$data/db" --tmpdir="$data/tmp" \
      --socket="$data/mariadb.sock" --pid-file="$data/mariadb.pid" --port="$port" --bind-address=127.0.0.1 \
      --skip-name-resolve --character-set-server=utf8mb4 --init-file="$data/init.sql" --log-error="$data/error.log" "${tuning[@]}" \
      </dev/null >/dev/null 2>&1 &
    runner=$!
    for ((tries = 0; tries < 600; ++tries)); do
      answers "$port" && break 2
      process_alive "$runner" || break
      sleep 0.1
    done
    if process_alive "$runner"; then
      echo "mariadbserver: the server did not answer within a minute" >&2
      kill -TERM "$(server_pid "$data")" 2>/dev/null || true
      break
    fi
    port=
  done
  if [[ -z "$port" ]] || ! answers "$port"; then
    echo "mariadbserver: the server did not start" >&2
    cat "$data/error.log" >&2 || true
    exit 1
  fi

  # KEY='value' lines: the tests read them, and a shell can source them.
  cat >"$state/env" <<EOF
TARNWELL_TEST_MARIADB='host=127.0.0.1 port=$port dbname=$database user=$user password=$password'
TARNWELL_TEST_MARIADB_HOST='127.0.0.1'
TARNWELL_TEST_MARIADB_PORT='$port'
TARNWELL_TEST_MARIADB_DATABASE='$database'
TARNWELL_TEST_MARIADB_USER='$user'
TARNWELL_TEST_MARIADB_PASSWORD='$password'
TARNWELL_TEST_MARIADB_SOCKET='$data/mariadb.sock'
EOF
  echo "mariadbserver: MariaDB on 127.0.0.1:$port ($data)"
}

stop() {
  if [[ ! -f "$state/datadir" ]]; then
    echo "mariadbserver: nothing to stop in $state"
    return 0
  fi
  local data pid tries
  data=$(cat "$state/datadir")
  pid=$(server_pid "$data")
  if [[ -n "$pid" ]]; then
    kill -TERM "$pid"
    for ((tries = 0; tries < 600; ++tries)); do
      process_alive "$pid" || break
      sleep 0.1
    done
    if process_alive "$pid"; then
      echo "mariadbserver: the server at $data did not stop" >&2
      exit 1
    fi
  fi
  rm -rf "$data" "$state/datadir"
  echo "mariadbserver: stopped"
}

run_action "$@"
