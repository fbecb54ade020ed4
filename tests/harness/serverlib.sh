# What the harness's server scripts share; sourced by them, not run.
#
# Database servers refuse to run as root, so under root a server runs as
# "nobody" with its files in /tmp, where that user can reach them.

server_user=nobody
server_group=nogroup

if [[ $(id -u) -eq 0 ]]; then
  as_server=(runuser -u "$server_user" --)
else
  as_server=()
fi

as_server_user() {
  "${as_server[@]}" "$@"
}

port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# A port of 127.0.0.1 that nothing listens on now. A server may still lose it
# to someone else before it binds: callers retry with another.
free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 40000))
    port_in_use "$port" || break
  done
  echo "$port"
}

# True while the process runs; one that has ended but that its parent has not
# reaped yet (a zombie, as servers whose parent is gone may stay a while) has
# ended.
process_alive() {
  local state
  state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null || true)
  [[ -n "$state" && "$state" != Z ]]
}

# A new directory for a server's files, owned by the user the server runs as.
new_server_dir() {
  local dir
  dir=$(mktemp -d "/tmp/$1.XXXXXX")
  if [[ $(id -u) -eq 0 ]]; then
    chown "$server_user:$server_group" "$dir"
  fi
  echo "$dir"
}

# The driver's shared object as its Debian package installed it.
driver_library() {
  dpkg -L "$1" 2>/dev/null | grep -E "/$2\$" | head -n 1
}

# Runs the script's start or stop function (or restart, in a script that has
# one) on the state directory named by its arguments ("start|stop STATE_DIR"),
# which the functions find in $state.
run_action() {
  if [[ $# -ne 2 || ! ( "$1" == start || "$1" == stop || ( "$1" == restart && $(type -t restart) == function ) ) ]]; then
    echo "usage: $0 start|stop$( [[ $(type -t restart) == function ]] && echo '|restart') STATE_DIR" >&2
    exit 2
  fi
  state=$2
  "$1"
}
