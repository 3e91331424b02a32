#!/usr/bin/env bash
# Benchmark of the real job: clipharbor-cli on a watch page of the stand-in
# video service whose get_video relocates to nginx serving a large file on
# loopback, against `curl -o` on the same file, and the same job through the
# windows offscreen (bench/window_download.cpp). Alternating rounds; every
# copy is compared with the original byte for byte. Prints per round and the
# medians: wall time, CPU (user+system), peak RSS, and the machine's load.
# The https row repeats the program's and curl's runs with get_video leading
# to the same file over TLS (a throw-away certificate authority made here).
#   bench/cli_download.sh [SIZE_MIB] [ROUNDS]      (defaults: 1024, 5)
# CLI=path measures another clipharbor-cli build (e.g. an older one) against
# the same peers; WINDOW=0 leaves the window's run out, HTTPS=0 the https row,
# HTTP=0 the plain rows, ONE=0 the program's row over one connection
# (cli-1-conn). IPV6=1 adds rows where the file comes over [::1] (nginx then
# listens there too): curl-v6 and cli-v6.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib="${1:-1024}"
rounds="${2:-5}"
build=build/default
cli="${CLI:-$build/clipharbor-cli}"
window="${WINDOW:-1}"
https="${HTTPS:-1}"
http="${HTTP:-1}"
one="${ONE:-1}"
ipv6="${IPV6:-0}"
nginx_v6=""  # read by start_nginx: nginx listens on [::1] too
[ "$ipv6" = 0 ] || nginx_v6=1
[ "$http" = 1 ] || window=0

targets=()
[ -n "${CLI:-}" ] || targets+=(clipharbor-cli)
[ "$window" = 0 ] || targets+=(window_download)
if [ ${#targets[@]} -gt 0 ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default -j2 --target "${targets[@]}" >/dev/null
fi

work="$(mktemp -d /tmp/clipharbor-cli-bench-XXXXXX)"
chmod 755 "$work"
service_pid=""
tls_service_pid=""
source bench/nginx_loopback.sh
cleanup() {
  stop_nginx
  for pid in $service_pid $tls_service_pid ${v6_service_pid:-}; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www" "$work/out"
echo "generating ${size_mib} MiB of random data"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/www/get_video.flv"
original="$work/www/get_video.flv"
make_tls_ca "$work/tls"
start_nginx "$work/www" "$work" "$work/tls"
file_url="http://127.0.0.1:$nginx_port/get_video.flv"
tls_file_url="https://localhost:$nginx_tls_port/get_video.flv"

# start_service PORTS_FILE FILE_URL: the stand-in service whose get_video
# leads to FILE_URL; prints its process id.
start_service() {
  python3 tools/video_service.py --title "Bench Clip" --duration 1 --file-url "$2" \
    >"$1" 2>"$1.log" &
  local pid=$!
  for _ in $(seq 1 300); do
    [ "$(wc -l <"$1")" -ge 2 ] && break
    kill -0 "$pid" 2>/dev/null || { cat "$1.log" >&2; exit 1; }
    sleep 0.1
  done
  echo "$pid"
}
service_pid=$(start_service "$work/ports" "$file_url")
v6_service_pid=""
if [ "$ipv6" = 1 ]; then
  v6_file_url="http://[::1]:$nginx_port/get_video.flv"
  v6_service_pid=$(start_service "$work/v6-ports" "$v6_file_url")
  v6_service="127.0.0.1:$(sed -n 1p "$work/v6-ports")"
fi
tls_service_pid=$(start_service "$work/tls-ports" "$tls_file_url")
export CLIPHARBOR_SERVICE="127.0.0.1:$(sed -n 1p "$work/ports")"
export CLIPHARBOR_CACHE_HOST="127.0.0.1"
watch="http://$CLIPHARBOR_SERVICE/watch?v=piEWjpA_51Q"
tls_service="127.0.0.1:$(sed -n 1p "$work/tls-ports")"
result="$work/out/Bench Clip.flv"

# run NAME OUTPUT COMMAND...: times the command, checks OUTPUT against the
# original, appends "NAME wall user system rss_kib" to the figures.
run() {
  local name="$1" output="$2"
  shift 2
  rm -f "$output"
  sync
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >"$work/stdout" 2>"$work/stderr" ||
    { cat "$work/stderr" >&2; echo "$name failed" >&2; exit 1; }
  cmp "$original" "$output" || { echo "$name: the copy differs from the original" >&2; exit 1; }
  read -r wall user sys rss <"$work/time"
  echo "$name $wall $user $sys $rss" >>"$work/figures"
  printf '%-15s wall %6.2f s  cpu %6.2f s  peak RSS %7d KiB' "$name" "$wall" "$(python3 -c "print($user + $sys)")" "$rss"
  # The window's job alone, without the start of Qt and its windows.
  if job=$(sed -n 's/^job //p' "$work/stdout") && [ -n "$job" ]; then
    echo "window-job $job 0 0 0" >>"$work/figures"
    printf '  (job %.2f s)' "$job"
  fi
  echo
  rm -f "$output"
}

for i in $(seq "$rounds"); do
  if [ "$http" = 1 ]; then
    run curl "$work/out/curl.flv" curl -s -o "$work/out/curl.flv" "$file_url"
    # The two rows of the program take turns at following curl's.
    [ "$one" = 0 ] || [ $((i % 2)) = 1 ] || run cli-1-conn "$result" "$cli" --yes --connections 1 --output "$work/out" "$watch"
    run clipharbor-cli "$result" "$cli" --yes --output "$work/out" "$watch"
    [ "$one" = 0 ] || [ $((i % 2)) = 0 ] || run cli-1-conn "$result" "$cli" --yes --connections 1 --output "$work/out" "$watch"
    [ "$window" = 0 ] || run window "$result" env QT_QPA_PLATFORM=offscreen "$build/window_download" "$work/out" "$watch"
    if [ "$ipv6" = 1 ]; then
      run curl-v6 "$work/out/curl.flv" curl -s -o "$work/out/curl.flv" "$v6_file_url"
      run cli-v6 "$result" env CLIPHARBOR_SERVICE="$v6_service" CLIPHARBOR_CACHE_HOST="[::1]" "$cli" --yes \
        --output "$work/out" "http://$v6_service/watch?v=piEWjpA_51Q"
    fi
  fi
  if [ "$https" = 1 ]; then
    run curl-https "$work/out/curl.flv" curl -s --cacert "$work/tls/ca.pem" -o "$work/out/curl.flv" "$tls_file_url"
    run cli-https "$result" env CLIPHARBOR_SERVICE="$tls_service" "$cli" --cacert "$work/tls/ca.pem" --yes \
      --output "$work/out" "http://$tls_service/watch?v=piEWjpA_51Q"
  fi
done

python3 - "$work/figures" "$size_mib" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1])]
mib = int(sys.argv[2])
by = {}
for name, wall, user, system, rss in rows:
    by.setdefault(name, []).append((float(wall), float(user) + float(system), int(rss)))
med = lambda xs: statistics.median(xs)
print()
print("%-15s %9s %9s %9s %12s" % ("", "wall s", "MiB/s", "cpu s", "peak RSS MiB"))
for name in ("curl", "clipharbor-cli", "cli-1-conn", "window", "window-job", "curl-https", "cli-https", "curl-v6", "cli-v6"):
    f = by.get(name)
    if not f:
        continue
    w = med([x[0] for x in f])
    line = "%-15s %9.2f %9.0f" % (name, w, mib / w if w else 0)
    if name != "window-job":  # timed inside the process: no CPU or memory figures
        line += " %9.2f %12.1f" % (med([x[1] for x in f]), med([x[2] for x in f]) / 1024)
    print(line)
print()
for curl, ours in (("curl", "clipharbor-cli"), ("curl", "cli-1-conn"), ("curl-https", "cli-https"),
                   ("curl-v6", "cli-v6"), ("clipharbor-cli", "cli-v6")):
    ratios = [c[0] / k[0] for c, k in zip(by.get(curl, []), by.get(ours, [])) if k[0] > 0]
    if ratios:
        print("median time ratio %s/%s: %.2f  (rounds: %s)" %
              (curl, ours, med(ratios), " ".join("%.2f" % r for r in ratios)))
wratios = [w[0] / k[0] for w, k in zip(by.get("window", []), by.get("clipharbor-cli", [])) if k[0] > 0]
jratios = [w[0] / k[0] for w, k in zip(by.get("window-job", []), by.get("clipharbor-cli", [])) if k[0] > 0]
if wratios:
    print("median time ratio window/clipharbor-cli: %.2f (whole process), %.2f (the job alone)" %
          (med(wratios), med(jratios)))
PY
echo "load: $(uptime)"
