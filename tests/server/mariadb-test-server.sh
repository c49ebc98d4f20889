#!/usr/bin/env bash
# A throwaway MariaDB server for tests and the demo.
#
#   mariadb-test-server.sh start DIR   install a fresh data folder in DIR/data,
#                                      start mariadbd on 127.0.0.1 with a free
#                                      port, create the test user, write
#                                      DIR/port and DIR/server.env
#   mariadb-test-server.sh stop DIR    shut the server down, remove DIR/data
#
# EXTRA_MYSQLD_ARGS (optional) adds server options, e.g.
#   EXTRA_MYSQLD_ARGS="--innodb-buffer-pool-size=1G --secure-file-priv=/tmp/x"
#
# Every step is bounded in time; nothing here waits forever.
set -euo pipefail

TEST_USER=fennrow_test
TEST_PASSWORD=fennrow_pw
START_TIMEOUT=60     # seconds until the server must answer
STOP_TIMEOUT=30      # seconds for a clean shutdown before it is killed
PORT_TRIES=8

usage() {
  echo "usage: $0 start|stop DIR" >&2
  exit 2
}

[ $# -eq 2 ] || usage
action=$1
mkdir -p "$2"
DIR=$(cd "$2" && pwd)
DATA=$DIR/data
SOCK=$DIR/mysqld.sock
PIDFILE=$DIR/mysqld.pid
LOG=$DIR/mysqld.log

# Client programs must not read any option file or environment setting of
# the user who runs the tests.
unset MYSQL_HOST MYSQL_TCP_PORT MYSQL_UNIX_PORT MYSQL_PWD MYSQL_HISTFILE || true
CLIENT_HOME=$(mktemp -d "${TMPDIR:-/tmp}/fennrow-client-home.XXXXXX")
trap 'rm -rf "$CLIENT_HOME"' EXIT

log() { echo "mariadb-test-server: $*"; }
die() {
  echo "mariadb-test-server: error: $*" >&2
  if [ -f "$LOG" ]; then
    echo "---- last lines of $LOG ----" >&2
    tail -n 30 "$LOG" >&2 || true
  fi
  exit 1
}

admin() {
  HOME=$CLIENT_HOME timeout 20 mariadb-admin --no-defaults --socket="$SOCK" \
    --user=root --connect-timeout=2 "$@"
}
client_root() {
  HOME=$CLIENT_HOME timeout 30 mariadb --no-defaults --socket="$SOCK" \
    --user=root --connect-timeout=5 --batch
}

server_pid() {
  local pid=""
  if [ -s "$PIDFILE" ]; then
    pid=$(tr -dc '0-9' <"$PIDFILE")
  elif [ -s "$DIR/launcher.pid" ]; then
    pid=$(tr -dc '0-9' <"$DIR/launcher.pid")
  fi
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    # Only a mariadbd counts; a reused pid of another program does not.
    if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "mariadbd" ]; then
      echo "$pid"
    fi
  fi
}

wait_gone() { # pid seconds
  local pid=$1 limit=$(( $2 * 10 )) i=0
  while kill -0 "$pid" 2>/dev/null; do
    [ $i -lt $limit ] || return 1
    sleep 0.1
    i=$((i + 1))
  done
  return 0
}

stop_server() {
  local pid
  pid=$(server_pid)
  if [ -n "$pid" ]; then
    log "stopping server (pid $pid)"
    if [ -S "$SOCK" ]; then
      admin shutdown >/dev/null 2>&1 || true
    fi
    if ! wait_gone "$pid" "$STOP_TIMEOUT"; then
      log "no clean shutdown, terminating pid $pid"
      kill -TERM "$pid" 2>/dev/null || true
      if ! wait_gone "$pid" 10; then
        kill -KILL "$pid" 2>/dev/null || true
        wait_gone "$pid" 5 || die "server pid $pid does not end"
      fi
    fi
  fi
  rm -rf "$DATA" "$DIR/tmp"
  rm -f "$SOCK" "$SOCK.lock" "$PIDFILE" "$DIR/launcher.pid" "$DIR/port" \
        "$DIR/server.env" "$DIR/init.sql"
}

port_in_use() { # port
  # A successful connect means somebody listens there.
  timeout 1 bash -c "exec 3<>/dev/tcp/127.0.0.1/$1" 2>/dev/null
}

# Sets PORT to a port on which nobody listens, below the usual range of
# ephemeral client ports (32768 and up) so that no outgoing connection holds it.
pick_port() {
  local p i
  for i in $(seq 1 50); do
    p=$(( 20000 + RANDOM % 12000 ))
    if ! port_in_use "$p"; then
      PORT=$p
      return 0
    fi
  done
  return 1
}

# Starts mariadbd on the given port; returns 0 when it answers, 1 when it
# ended early (for example because the port was taken meanwhile).
launch() { # port
  local port=$1 opts=() pid i limit=$(( START_TIMEOUT * 10 ))
  if [ "$(id -u)" -eq 0 ]; then
    opts+=(--user=root)
  fi
  # EXTRA_MYSQLD_ARGS: further server options, separated by blanks; they come
  # last, so they override the settings above (used by the benchmark).
  if [ -n "${EXTRA_MYSQLD_ARGS:-}" ]; then
    local extra=()
    read -r -a extra <<<"$EXTRA_MYSQLD_ARGS"
    opts+=("${extra[@]}")
  fi
  : >"$LOG"
  mariadbd --no-defaults \
    --datadir="$DATA" \
    --tmpdir="$DIR/tmp" \
    --socket="$SOCK" \
    --pid-file="$PIDFILE" \
    --port="$port" \
    --bind-address=127.0.0.1 \
    --log-error="$LOG" \
    --skip-name-resolve \
    --max-allowed-packet=256M \
    --max-connections=500 \
    --character-set-server=utf8mb4 \
    --collation-server=utf8mb4_unicode_ci \
    --innodb-use-native-aio=0 \
    --innodb-flush-log-at-trx-commit=0 \
    --innodb-buffer-pool-size=64M \
    --skip-log-bin \
    "${opts[@]}" \
    </dev/null >>"$LOG" 2>&1 &
  pid=$!
  echo "$pid" >"$DIR/launcher.pid"
  i=0
  while [ $i -lt $limit ]; do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid" 2>/dev/null || true
      return 1
    fi
    if [ -S "$SOCK" ] && admin ping >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.1
    i=$((i + 1))
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  die "server did not answer within $START_TIMEOUT s"
}

start_server() {
  command -v mariadbd >/dev/null || die "mariadbd not found (install mariadb-server)"
  command -v mariadb-install-db >/dev/null || die "mariadb-install-db not found"

  # A server left running in DIR is stopped first.
  stop_server
  mkdir -p "$DATA" "$DIR/tmp"

  local install_opts=() port=""
  if [ "$(id -u)" -eq 0 ]; then
    install_opts+=(--user=root)
  fi
  log "installing data folder $DATA"
  # The install's temporary tables go to DIR/tmp: in the shared /tmp, two
  # installs at the same time can take each other's.
  if ! HOME=$CLIENT_HOME timeout 120 mariadb-install-db --no-defaults \
      --datadir="$DATA" --tmpdir="$DIR/tmp" --auth-root-authentication-method=normal \
      --skip-test-db --skip-name-resolve "${install_opts[@]}" \
      >"$DIR/install.log" 2>&1; then
    tail -n 30 "$DIR/install.log" >&2 || true
    die "mariadb-install-db failed (see $DIR/install.log)"
  fi

  for _ in $(seq 1 $PORT_TRIES); do
    pick_port || die "no free port found"
    port=$PORT
    log "starting mariadbd on 127.0.0.1:$port"
    if launch "$port"; then
      break
    fi
    if ! grep -qiE 'address already in use|already have another server running|bind on tcp/ip port' "$LOG"; then
      die "mariadbd ended during start-up"
    fi
    log "port $port was taken, trying another"
    rm -f "$SOCK" "$SOCK.lock" "$PIDFILE"
    port=""
  done
  [ -n "$port" ] || die "could not start mariadbd on a free port"

  client_root <<SQL || die "could not create the test user"
CREATE USER IF NOT EXISTS '$TEST_USER'@'%' IDENTIFIED BY '$TEST_PASSWORD';
CREATE USER IF NOT EXISTS '$TEST_USER'@'localhost' IDENTIFIED BY '$TEST_PASSWORD';
GRANT ALL PRIVILEGES ON *.* TO '$TEST_USER'@'%' WITH GRANT OPTION;
GRANT ALL PRIVILEGES ON *.* TO '$TEST_USER'@'localhost' WITH GRANT OPTION;
FLUSH PRIVILEGES;
SQL

  # The test user must be able to log in over TCP, as the tests do.
  HOME=$CLIENT_HOME timeout 30 mariadb --no-defaults --protocol=TCP \
    --host=127.0.0.1 --port="$port" --user="$TEST_USER" \
    --password="$TEST_PASSWORD" --connect-timeout=5 --batch \
    -e 'SELECT 1' >/dev/null || die "test user cannot log in over TCP"

  echo "$port" >"$DIR/port"
  cat >"$DIR/server.env" <<ENV
HOST=127.0.0.1
PORT=$port
USER=$TEST_USER
PASSWORD=$TEST_PASSWORD
SOCKET=$SOCK
ENV
  log "ready: 127.0.0.1:$port, user $TEST_USER, pid $(server_pid)"
}

case "$action" in
  start) start_server ;;
  stop)  stop_server; log "stopped" ;;
  *)     usage ;;
esac
