#!/usr/bin/env bash
# A throw-away PostgreSQL server for the tests, in a folder of its own.
#
#   pg-test-server.sh start <password> [pid]
#                                        makes a new folder, starts a server in it,
#                                        prints "<folder> <port>"; with a pid, the
#                                        server is also removed once that process ends
#   pg-test-server.sh stop <folder>      stops the server after a checkpoint (the folder stays)
#   pg-test-server.sh restart <folder>   starts it again on the same port
#   pg-test-server.sh remove <folder>    stops the server and removes the folder
#   pg-test-server.sh run-start <file> <password>
#                                        starts the server of a whole test run (a CTest
#                                        fixture) and writes "<folder> <port>" into file;
#                                        the server is also removed once the run ends
#   pg-test-server.sh run-stop <file>    removes the server file names, and the file
#
# initdb makes a cluster in <folder>/data whose superuser "veltrana" has the
# given password; the server listens on 127.0.0.1 on a free port (password
# checked, scram-sha-256) and on a socket in <folder>. initdb and the server
# refuse to run as root, so as root they run as the user "postgres" (made by
# the postgresql package) or "nobody". Durability is switched off: the data
# lives for one test run.
set -euo pipefail

command=${1:?usage: pg-test-server.sh start <password> | stop|restart|remove <folder>}

bindir=""
for d in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
  if [ -x "$d/initdb" ] && [ -x "$d/pg_ctl" ]; then bindir=$d; break; fi
done
[ -n "$bindir" ] || { echo "PostgreSQL server programs not found (postgresql-15)" >&2; exit 2; }

as_owner=()
if [ "$(id -u)" -eq 0 ]; then
  owner=postgres
  id -u "$owner" >/dev/null 2>&1 || owner=nobody
  as_owner=(setpriv --reuid="$owner" --regid="$(id -g "$owner")" --clear-groups --)
fi
run() { (cd / && "${as_owner[@]}" "$@"); }

start_on() {
  local port=$1
  run "$bindir/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 30 \
      -o "-p $port -k $folder -h 127.0.0.1" start >/dev/null
}

case "$command" in
  start)
    password=${2:?password missing}
    # Directly in the temporary folder, so that the server's user can reach it.
    folder=$(mktemp -d "${TMPDIR:-/tmp}/veltrana-pg.XXXXXX")
    [ ${#as_owner[@]} -eq 0 ] || chown "$owner" "$folder"
    chmod 700 "$folder"
    printf '%s\n' "$password" >"$folder/pwfile"
    [ ${#as_owner[@]} -eq 0 ] || chown "$owner" "$folder/pwfile"
    run "$bindir/initdb" -D "$folder/data" -U veltrana --pwfile="$folder/pwfile" -E UTF8 --locale=C.UTF-8 \
        --auth-local=trust --auth-host=scram-sha-256 --no-sync --no-instructions >"$folder/initdb.log" 2>&1 \
      || { cat "$folder/initdb.log" >&2; exit 1; }
    rm -f "$folder/pwfile"
    cat >>"$folder/data/postgresql.conf" <<EOF
fsync = off
synchronous_commit = off
full_page_writes = off
max_connections = 100
logging_collector = off
EOF
    # A port another program took between the choice and the start is tried again.
    for attempt in 1 2 3 4 5 6 7 8; do
      port=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
      if start_on "$port" 2>>"$folder/start.log"; then
        echo "$port" >"$folder/port"
        if [ -n "${3:-}" ]; then
          # A test program that dies without stopping its server leaves nothing running.
          setsid nohup "$0" watch "$folder" "$3" </dev/null >/dev/null 2>&1 &
        fi
        echo "$folder $port"
        exit 0
      fi
    done
    cat "$folder/server.log" >&2 2>/dev/null || true
    rm -rf "$folder"
    exit 1
    ;;
  run-start)
    file=${2:?file missing}
    rm -f "$file"
    # This script's parent is the test run (ctest): should the run end
    # without its cleanup, the server goes with it all the same.
    out=$("$0" start "${3:?password missing}" "$PPID")
    printf '%s\n' "$out" >"$file"
    echo "$out"
    ;;
  run-stop)
    file=${2:?file missing}
    [ -f "$file" ] || { echo "no test server named in $file" >&2; exit 1; }
    folder=$(cut -d' ' -f1 "$file")
    rm -f "$file"
    "$0" remove "$folder"
    if pgrep -f -- "-D $folder/data" >/dev/null; then
      echo "the test server in $folder is still running" >&2
      exit 1
    fi
    ;;
  watch)
    folder=${2:?folder missing}
    while kill -0 "${3:?pid missing}" 2>/dev/null && [ -d "$folder" ]; do sleep 2; done
    exec "$0" remove "$folder"
    ;;
  restart)
    folder=${2:?folder missing}
    start_on "$(cat "$folder/port")"
    ;;
  stop|remove)
    folder=${2:?folder missing}
    case "$folder" in "${TMPDIR:-/tmp}"/veltrana-pg.*) ;; *) echo "not a test server folder: $folder" >&2; exit 2;; esac
    if [ -f "$folder/data/postmaster.pid" ]; then
      if [ "$command" = stop ]; then
        # A checkpoint first, so that the fast shutdown has little left to
        # write and the next start needs no recovery; open sessions end.
        run "$bindir/psql" -h "$folder" -p "$(cat "$folder/port")" -U veltrana -d postgres -qAt \
            -c CHECKPOINT >/dev/null 2>&1 || true
        run "$bindir/pg_ctl" -D "$folder/data" -m fast -w -t 30 stop >/dev/null 2>&1 \
          || run "$bindir/pg_ctl" -D "$folder/data" -m immediate -w -t 30 stop >/dev/null 2>&1 || true
      else
        # The data goes with the folder: nothing needs writing.
        run "$bindir/pg_ctl" -D "$folder/data" -m immediate -w -t 30 stop >/dev/null 2>&1 || true
      fi
    fi
    [ "$command" = stop ] || rm -rf "$folder"
    ;;
  *)
    echo "unknown command $command" >&2
    exit 2
    ;;
esac
