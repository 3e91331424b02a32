#!/usr/bin/env bash
# How long a black-holed IPv6 address holds up a working IPv4 one: in
# private network and mount namespaces (nothing leaves the machine), the
# name dual.test has fd00:bad::2 (on a veth link where no one answers) and
# 127.0.0.1; v4.test has 127.0.0.1 only. A small file is fetched from a
# server on "::" by clipharbor-cli and by curl, ROUNDS times each, and the
# times are printed: curl's own connect time (-w time_connect) and the
# whole run of both programs, with v4.test as the baseline without delay.
#   bench/happy_eyeballs.sh [ROUNDS]        (default 10; needs root)
# CLI=path measures another clipharbor-cli build.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-10}"
cli="${CLI:-build/default/clipharbor-cli}"
if [ -z "${CLIPHARBOR_IN_BENCH_NETNS:-}" ]; then
  [ -n "${CLI:-}" ] || { cmake --preset default >/dev/null && cmake --build --preset default -j2 --target clipharbor-cli >/dev/null; }
  exec env CLIPHARBOR_IN_BENCH_NETNS=1 CLI="$(realpath "$cli")" unshare -n -m "$0" "$rounds"
fi

work="$(mktemp -d /tmp/clipharbor-he-XXXXXX)"
server_pid=""
cleanup() {
  [ -z "$server_pid" ] || { kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

ip link set lo up
ip link add bh0 type veth peer name bh1
ip link set bh0 up
ip link set bh1 up
ip -6 addr add fd00:bad::1/64 dev bh0 nodad
printf '127.0.0.1 localhost\nfd00:bad::2 dual.test\n127.0.0.1 dual.test\n127.0.0.1 v4.test\n' >"$work/hosts"
mount --bind "$work/hosts" /etc/hosts

mkdir -p "$work/www" "$work/out"
head -c 100000 /dev/urandom >"$work/www/f.bin"
port=18080
python3 -m http.server "$port" --bind :: --directory "$work/www" >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do curl -s -o /dev/null "http://127.0.0.1:$port/f.bin" && break; sleep 0.05; done

ms() { python3 -c "import sys; print('%.0f' % (float(sys.argv[1]) * 1000))" "$1"; }
wall() {  # wall time in seconds of the command
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  t1=$(date +%s.%N)
  python3 -c "import sys; print(float(sys.argv[2]) - float(sys.argv[1]))" "$t0" "$t1"
}

printf '%-6s %14s %14s %14s %14s %14s\n' round "curl connect" "curl dual" "curl v4" "cli dual" "cli v4"
: >"$work/figures"
for i in $(seq "$rounds"); do
  connect=$(curl -s -o /dev/null -w '%{time_connect}' "http://dual.test:$port/f.bin")
  curl_dual=$(wall curl -s -o "$work/out/c" "http://dual.test:$port/f.bin")
  curl_v4=$(wall curl -s -o "$work/out/c" "http://v4.test:$port/f.bin")
  cli_dual=$(wall "$CLI" --yes --output "$work/out" "http://dual.test:$port/f.bin")
  cmp "$work/www/f.bin" "$work/out/f.bin"
  cli_v4=$(wall "$CLI" --yes --output "$work/out" "http://v4.test:$port/f.bin")
  printf '%-6s %11s ms %11s ms %11s ms %11s ms %11s ms\n' "$i" "$(ms "$connect")" "$(ms "$curl_dual")" \
    "$(ms "$curl_v4")" "$(ms "$cli_dual")" "$(ms "$cli_v4")"
  echo "$connect $curl_dual $curl_v4 $cli_dual $cli_v4" >>"$work/figures"
done
python3 - "$work/figures" <<'PY'
import statistics, sys
rows = [list(map(float, l.split())) for l in open(sys.argv[1])]
cols = list(zip(*rows))
names = ["curl connect", "curl dual", "curl v4", "cli dual", "cli v4"]
print()
for name, col in zip(names, cols):
    print("%-13s median %5.0f ms   max %5.0f ms" % (name, statistics.median(col) * 1000, max(col) * 1000))
extra_cli = [d - v for d, v in zip(cols[3], cols[4])]
extra_curl = [d - v for d, v in zip(cols[1], cols[2])]
print("delay added by the black hole: clipharbor-cli median %.0f ms (max %.0f), curl median %.0f ms (max %.0f)" %
      (statistics.median(extra_cli) * 1000, max(extra_cli) * 1000,
       statistics.median(extra_curl) * 1000, max(extra_curl) * 1000))
PY
