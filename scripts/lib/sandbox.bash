# Shared by scripts/demo and scripts/screenshot (sourced, not run): a
# throwaway Merivane world in one temporary folder. It holds installations
# (registry file, settings file, installation folder) reached only through
# the utility's environment overrides, a vendor FTP site (pyftpdlib) and the
# suite database (PostgreSQL with psqlODBC registered as "SQL Server"). Both
# servers listen on 127.0.0.1 on free ports.
#
# Every server started here is stopped by sandbox_stop_servers, which the
# caller's traps run on exit, Ctrl-C and failure. A guard process also stops
# them when the caller is killed outright (kill -9), within about a second.
#
# Layout of $SANDBOX:
#   <name>/registry.reg, <name>/config/Qorin/settings.ini,
#   <name>/Merivane/Application/...      one installation per name
#   site/                                the FTP site's root
#   unc/<SERVER>/MVUpdate                the server's share, as a client sees it
#   db/                                  the database cluster, its socket and log
#   run/                                 process ids, server logs, build files

SANDBOX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
SANDBOX_PY=/usr/bin/python3 # Debian's, which has pyftpdlib
SANDBOX_PG_BIN=/usr/lib/postgresql/15/bin
SANDBOX_PG_DRIVER=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so
# The database server as the registry names it: a named instance, as on a
# real site. The driver reaches it at 127.0.0.1 through PGHOSTADDR.
SANDBOX_DB_SERVER='MERIVANE-SRV\SQLEXPRESS'
SANDBOX_DB_NAME=Quillmere

sandbox_say() { printf '%s\n' "$*"; }
sandbox_fail() {
  printf 'error: %s\n' "$*" >&2
  exit 1
}

# sandbox_create PREFIX: makes $SANDBOX below /tmp and starts the guard.
sandbox_create() {
  SANDBOX=$(mktemp -d "/tmp/$1.XXXXXX")
  # The database runs as postgres when we are root; it must reach db/.
  chmod 711 "$SANDBOX"
  mkdir -p "$SANDBOX/run" "$SANDBOX/unc"
  sandbox_start_guard
}

# The guard stops the servers when the caller is killed without running its
# traps (kill -9, or a test runner that kills the whole process tree). It
# runs in a session of its own, outside the caller's process tree, so that
# neither a signal to the caller's process group nor a tree kill reaches it;
# it waits with a builtin read on a FIFO, so ending it leaves nothing behind.
sandbox_start_guard() {
  local fifo=$SANDBOX/run/guard
  mkfifo "$fifo"
  (
    cd /
    exec setsid /usr/bin/env bash -c '
      source "$1"
      SANDBOX=$2
      exec 3<>"$SANDBOX/run/guard"
      while kill -0 "$3" 2>/dev/null; do
        read -r -t 1 -u 3 _ || true
      done
      sandbox_stop_servers' mvupdate-sandbox-guard "$SANDBOX_ROOT/scripts/lib/sandbox.bash" \
      "$SANDBOX" "$$" </dev/null >/dev/null 2>&1 &
    echo $! >"$SANDBOX/run/guard.pid"
  )
  SANDBOX_GUARD_PID=$(<"$SANDBOX/run/guard.pid")
}

# Stops the FTP site and the database if they run; safe to call twice.
sandbox_stop_servers() {
  [[ -n ${SANDBOX:-} && -d $SANDBOX/run ]] || return 0
  local pid
  if [[ -f $SANDBOX/run/ftp.pid ]]; then
    pid=$(<"$SANDBOX/run/ftp.pid")
    rm -f "$SANDBOX/run/ftp.pid"
    kill "$pid" 2>/dev/null || true
  fi
  if [[ -f $SANDBOX/db/data/postmaster.pid ]]; then
    sandbox_as_db_user "$SANDBOX_PG_BIN/pg_ctl" -D "$SANDBOX/db/data" \
      -m fast -w -t 20 stop >/dev/null 2>&1 ||
      sandbox_as_db_user "$SANDBOX_PG_BIN/pg_ctl" -D "$SANDBOX/db/data" \
        -m immediate -w stop >/dev/null 2>&1 || true
  fi
  if [[ -n ${pid:-} ]]; then
    # Wait for the site so that nothing of ours runs once we return.
    while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
  fi
}

# Ends the guard; for the normal end of the caller, after the servers
# have been stopped.
sandbox_stop_guard() {
  if [[ -n ${SANDBOX_GUARD_PID:-} ]]; then
    kill "$SANDBOX_GUARD_PID" 2>/dev/null || true
    SANDBOX_GUARD_PID=
  fi
}

# PostgreSQL refuses to run as root: as root it runs as the user postgres.
sandbox_as_db_user() {
  if ((EUID == 0)); then
    local runuser=/usr/sbin/runuser
    [[ -x $runuser ]] || runuser=runuser
    "$runuser" -u postgres -- "$@"
  else
    "$@"
  fi
}

sandbox_free_port() {
  "$SANDBOX_PY" -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

# sandbox_start_database: a fresh cluster with the role qorin (password
# wzq), the database Quillmere and the schema qorin; sets SANDBOX_DB_PORT.
sandbox_start_database() {
  local db=$SANDBOX/db
  mkdir -p "$db/odbc"
  if ((EUID == 0)); then chown postgres: "$db"; fi
  sandbox_as_db_user "$SANDBOX_PG_BIN/initdb" -D "$db/data" -N -U postgres \
    --auth-local=trust --auth-host=scram-sha-256 -E UTF8 --locale=C \
    >"$SANDBOX/run/initdb.log" 2>&1 ||
    sandbox_fail "initdb failed; see $SANDBOX/run/initdb.log"
  local port
  for _ in 1 2 3 4 5; do
    port=$(sandbox_free_port)
    if sandbox_as_db_user "$SANDBOX_PG_BIN/pg_ctl" -D "$db/data" -l "$db/server.log" \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $db -c fsync=off" \
      -w -t 30 start >/dev/null 2>&1; then
      SANDBOX_DB_PORT=$port
      break
    fi
  done
  [[ -n ${SANDBOX_DB_PORT:-} ]] ||
    sandbox_fail "the database did not start; see $db/server.log"
  sandbox_sql postgres postgres "CREATE ROLE qorin LOGIN PASSWORD 'wzq';
    CREATE DATABASE \"$SANDBOX_DB_NAME\" OWNER qorin;"
  sandbox_sql qorin "$SANDBOX_DB_NAME" "CREATE SCHEMA qorin AUTHORIZATION qorin;
    CREATE TABLE qorin.UpdateCustomerInfo (CustomerNum varchar(20),
      FTPSiteAddress1 varchar(100), FTPSiteAddress2 varchar(100),
      UserName varchar(50), Password varchar(50), UpdateInstalled integer,
      LastUpdatedDate timestamp);"
  printf '[SQL Server]\nDescription=PostgreSQL for the sandbox\nDriver=%s\n' \
    "$SANDBOX_PG_DRIVER" >"$db/odbc/odbcinst.ini"
}

# sandbox_sql ROLE DATABASE SQL: runs SQL over the cluster's socket and
# prints the rows, fields separated by "|".
sandbox_sql() {
  "$SANDBOX_PG_BIN/psql" -X -q -A -t -v ON_ERROR_STOP=1 -h "$SANDBOX/db" \
    -p "$SANDBOX_DB_PORT" -U "$1" -d "$2" -f - <<<"$3"
}

sandbox_sql_text() { printf "'%s'" "${1//\'/\'\'}"; }

# sandbox_customer_row NUM HOST1 HOST2 USER PASSWORD: the customer's row
# (empty HOST1 or HOST2 means NULL), update 0 installed, never updated.
sandbox_customer_row() {
  local h1=NULL h2=NULL
  [[ -n $2 ]] && h1=$(sandbox_sql_text "$2")
  [[ -n $3 ]] && h2=$(sandbox_sql_text "$3")
  sandbox_sql qorin "$SANDBOX_DB_NAME" "INSERT INTO qorin.UpdateCustomerInfo
    VALUES ($(sandbox_sql_text "$1"), $h1, $h2, $(sandbox_sql_text "$4"),
            $(sandbox_sql_text "$5"), 0, NULL);"
}

# sandbox_start_tls_site KIND USER PASSWORD [OPTION...]: the vendor site
# over TLS, serving $SANDBOX/site to one user: KIND proftpd (FTP with
# explicit TLS; needs root) or nginx (HTTPS); the options go to sites.py.
# Makes a throwaway CA for it (SANDBOX_CA_FILE) and sets SANDBOX_SITE_PORT.
sandbox_start_tls_site() {
  local state=$SANDBOX/run/ftp
  mkdir -p "$SANDBOX/site" "$state"
  "$SANDBOX_PY" "$SANDBOX_ROOT/scripts/lib/sites.py" certs "$SANDBOX/run/certs" \
    >"$state/certs.log" 2>&1 || sandbox_fail "no certificates; see $state/certs.log"
  # shellcheck disable=SC2034 # read by the caller
  SANDBOX_CA_FILE=$SANDBOX/run/certs/ca.pem
  "$SANDBOX_PY" "$SANDBOX_ROOT/scripts/lib/sites.py" "$1" "$state/server" \
    "$SANDBOX/site" "$2" "$3" --cert "$SANDBOX/run/certs/server" \
    "${@:4}" --until-signal >"$state/port" 2>"$state/server.log" </dev/null &
  echo $! >"$SANDBOX/run/ftp.pid"
  sandbox_wait_for_site || sandbox_fail "the $1 site did not start; see $state"
}

# Waits until the site started last says its port ("PORT n" or "port=n")
# and sets SANDBOX_SITE_PORT; fails when it ends first or takes 30 s.
sandbox_wait_for_site() {
  local i port=$SANDBOX/run/ftp/port
  for ((i = 0; i < 300; i++)); do
    if [[ -s $port && $(<"$port") =~ ^(PORT |port=)([0-9]+) ]]; then
      # shellcheck disable=SC2034 # read by the caller
      SANDBOX_SITE_PORT=${BASH_REMATCH[2]}
      return 0
    fi
    kill -0 "$(<"$SANDBOX/run/ftp.pid")" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# sandbox_start_site USER PASSWORD: the FTP site serving $SANDBOX/site to
# one user; sets SANDBOX_SITE_PORT. Every command it receives is appended
# to $SANDBOX/run/ftp/commands.log.
sandbox_start_site() {
  local state=$SANDBOX/run/ftp
  mkdir -p "$SANDBOX/site" "$state"
  # Started in the background of a script, the site ignores Ctrl-C; the
  # caller's trap stops it.
  (cd "$SANDBOX" && exec "$SANDBOX_PY" "$SANDBOX_ROOT/scripts/lib/ftp_site.py" \
    --port 0 --root "$SANDBOX/site" --user "$1" --password "$2" \
    --state "$state" >"$state/port" 2>"$state/server.log" </dev/null) &
  echo $! >"$SANDBOX/run/ftp.pid"
  sandbox_wait_for_site ||
    sandbox_fail "the FTP site did not start; see $state/server.log"
}

# sandbox_program_files OUT VERSION FILE...: builds each FILE (one of the
# suite's program files) as a small 32-bit PE file whose version resource
# says VERSION (four numbers with dots), into the folder OUT.
sandbox_program_files() {
  local out=$1 version=$2
  shift 2
  local work=$SANDBOX/run/pe
  mkdir -p "$out" "$work"
  local tools=/usr/bin/i686-w64-mingw32
  [[ -x $tools-windres ]] ||
    sandbox_fail "$tools-windres is missing (scripts/bootstrap installs it)"
  [[ -f $work/entry.o ]] ||
    "$tools-as" "$SANDBOX_ROOT/tests/tools/data/entry.s" -o "$work/entry.o"
  local file base description type kind rc
  for file in "$@"; do
    base=${file%.*}
    case $file in
      QorinMVCore.dll) description="Merivane core library" ;;
      QorinSetup.dll) description="Merivane set-up library" ;;
      Merivane.exe) description="Merivane back office" ;;
      POS.exe) description="Merivane point of sale" ;;
      MerivaneLM.exe) description="Merivane licence manager" ;;
      MerivaneTM.exe) description="Merivane task manager" ;;
      *) description="Merivane $base" ;;
    esac
    type=0x1 kind=()
    [[ $file == *.dll ]] && type=0x2 kind=(--dll)
    rc=$work/$file-$version.rc
    sed -e "s/@VERSION_COMMAS@/${version//./,}/" -e "s/@VERSION@/$version/" \
      -e "s/@FILETYPE@/$type/" -e "s/@DESCRIPTION@/$description/" \
      -e "s/@BASENAME@/$base/" -e "s/@FILE@/$file/" \
      "$SANDBOX_ROOT/demo/program.rc.in" >"$rc"
    "$tools-windres" --preprocessor=cpp -c 65001 -O coff "$rc" "$rc.o" ||
      sandbox_fail "windres failed on $rc"
    "$tools-ld" --no-insert-timestamp -e start "${kind[@]}" "$work/entry.o" \
      "$rc.o" -o "$out/$file" || sandbox_fail "ld failed for $file"
  done
}

# sandbox_installation NAME: a registry file, a settings file that has no
# update installed yet and an installation folder with its Application
# folder, below $SANDBOX/NAME.
sandbox_installation() {
  local home=$SANDBOX/$1
  mkdir -p "$home/Merivane/Application" "$home/config/Qorin"
  cat >"$home/registry.reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]
"InstallPath"="$home/Merivane"
"DBServerName"="${SANDBOX_DB_SERVER//\\/\\\\}"
"DatabaseName"="$SANDBOX_DB_NAME"
REG
  printf '[MVUpdate]\nLastUpdateInstalled=0\n' >"$home/config/Qorin/settings.ini"
}

# sandbox_run NAME COMPUTER COMMAND...: runs COMMAND as the utility of the
# installation NAME on the computer named COMPUTER sees it.
sandbox_run() {
  local home=$SANDBOX/$1 computer=$2
  shift 2
  # The window needs a private runtime folder; a desktop session has one
  # already (and keeps its Wayland socket there).
  local runtime=${XDG_RUNTIME_DIR:-}
  if [[ -z $runtime ]]; then
    runtime=$home/runtime
    mkdir -p "$runtime" && chmod 700 "$runtime"
  fi
  env MVUPDATE_REGISTRY="$home/registry.reg" \
    XDG_CONFIG_HOME="$home/config" \
    XDG_CACHE_HOME="$home/cache" \
    XDG_RUNTIME_DIR="$runtime" \
    MVUPDATE_COMPUTERNAME="$computer" \
    MVUPDATE_UNC_ROOT="${SANDBOX_UNC_ROOT:-$SANDBOX/unc}" \
    ODBCSYSINI="$SANDBOX/db/odbc" \
    PGPORT="${SANDBOX_DB_PORT:-0}" \
    PGHOSTADDR=127.0.0.1 \
    "$@"
}
