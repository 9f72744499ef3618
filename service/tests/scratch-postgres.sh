#!/usr/bin/env bash
# A PostgreSQL 15 of a test's own in DIR, on a Unix socket only:
#   scratch-postgres.sh start DIR   prints a key=value connection string (made on first start)
#   scratch-postgres.sh stop DIR    stops it; a later start finds the same data
# As root it runs as the unprivileged system user velmora-test-pg. Needs no system cluster;
# exits 77 when PostgreSQL 15 (package postgresql-15) is missing.
set -euo pipefail
bin=${VELMORA_PG_BIN:-/usr/lib/postgresql/15/bin}
command=$1 dir=$2
[[ -x $bin/initdb ]] || { echo "no PostgreSQL 15 in $bin (package postgresql-15)" >&2; exit 77; }
as_user=()
if [[ $(id -u) -eq 0 ]]; then
  user=velmora-test-pg
  id -u "$user" &>/dev/null || useradd --system --no-create-home --shell /usr/sbin/nologin "$user" ||
    id -u "$user" >/dev/null
  as_user=(setpriv --reuid="$user" --regid="$user" --init-groups --)
fi
case $command in
start)
  if [[ ! -d $dir/data ]]; then
    mkdir -p "$dir"
    [[ -z ${user:-} ]] || chown "$user:" "$dir"
    "${as_user[@]}" "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 --no-sync \
      >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
  fi
  "${as_user[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/postgres.log" -w -t 30 \
    -o "-k $dir -c listen_addresses='' -c fsync=off -c max_connections=200" start >/dev/null ||
    { cat "$dir/postgres.log" >&2; exit 1; }
  echo "host=$dir user=postgres dbname=postgres"
  ;;
stop)
  "${as_user[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 30 stop >/dev/null
  ;;
*)
  echo "usage: $0 start|stop DIR" >&2
  exit 2
  ;;
esac
