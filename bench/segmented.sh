#!/usr/bin/env bash
# Downloads over several connections from the stand-in service's cache host
# (tools/video_service.py serving a random file), against axel and aria2c in
# alternating rounds; every copy is compared with the original. Scenarios:
#   paced8   64 MiB, 1 MiB/s per connection, 8 connections (ideal 8 s)
#   cap2     16 MiB, 1 MiB/s per connection, 2 connections per client (ideal 8 s)
#   norange  8 MiB, 1 MiB/s, ranges ignored: the default against one stream
#   default  16 MiB, 1 MiB/s per connection, clipharbor-cli without options
#   resume   64 MiB, 8 connections, kill -9 half-way, then --continue: bytes
#            the service sent in the second run
#   bench/segmented.sh [ROUNDS] [SCENARIO...]     (defaults: 3, all)
# CLI=path measures another clipharbor-cli build.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-3}"
shift || true
scenarios=("$@")
[ ${#scenarios[@]} -gt 0 ] || scenarios=(paced8 cap2 norange default resume)
cli="$(realpath "${CLI:-build/default/clipharbor-cli}")"
if [ -z "${CLI:-}" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default -j2 --target clipharbor-cli >/dev/null
fi
command -v axel >/dev/null && command -v aria2c >/dev/null || { echo "axel and aria2c are needed" >&2; exit 1; }

work="$(mktemp -d /tmp/clipharbor-seg-bench-XXXXXX)"
service_pid=""
cleanup() {
  [ -z "$service_pid" ] || { kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/out"

# serve SIZE_MIB SWITCHES...: a service with a fresh file of that size.
serve() {
  local mib="$1"
  shift
  [ -z "$service_pid" ] || { kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; }
  head -c "$((mib * 1024 * 1024))" /dev/urandom >"$work/original"
  python3 tools/video_service.py --flv "$work/original" "$@" >"$work/ports" 2>"$work/service.log" &
  service_pid=$!
  for _ in $(seq 1 300); do
    [ "$(wc -l <"$work/ports")" -ge 2 ] && break
    sleep 0.1
  done
  url="http://127.0.0.1:$(sed -n 's/^cache //p' "$work/ports")/get_video.flv"
}

sent() { curl -s "http://127.0.0.1:$(sed -n 1p "$work/ports")/__sent" | python3 -c 'import json,sys; print(json.load(sys.stdin)["sent"])'; }

# run SCENARIO NAME COMMAND...: times one download into $work/out.
run() {
  local scenario="$1" name="$2"
  shift 2
  rm -rf "$work/out" && mkdir -p "$work/out"
  local start end
  start=$(date +%s.%N)
  (cd "$work/out" && "$@" >"$work/stdout" 2>"$work/stderr") ||
    { tail -5 "$work/stderr" >&2; echo "$scenario $name failed" >&2; exit 1; }
  end=$(date +%s.%N)
  cmp "$work/original" "$work/out/get_video.flv" || { echo "$scenario $name: the copy differs" >&2; exit 1; }
  local wall
  wall=$(python3 -c "print(round($end - $start, 3))")
  echo "$scenario $name $wall" >>"$work/figures"
  printf '%-8s %-22s %7.2f s\n' "$scenario" "$name" "$wall"
}

ours() { "$cli" --yes --output . "$@"; }

for scenario in "${scenarios[@]}"; do
  case "$scenario" in
    paced8)
      serve 64 --pace 1048576
      for _ in $(seq "$rounds"); do
        run paced8 clipharbor-N8 ours --connections 8 "$url"
        run paced8 axel-n8 axel -q -n 8 -o get_video.flv "$url"
        run paced8 aria2c-x8 aria2c -q -x 8 -s 8 -k 1M -o get_video.flv "$url"
      done ;;
    cap2)
      serve 16 --pace 1048576 --max-connections 2
      for _ in $(seq "$rounds"); do
        run cap2 clipharbor-N8 ours --connections 8 "$url"
        run cap2 axel-n8 axel -q -n 8 -o get_video.flv "$url"
        run cap2 aria2c-x8 aria2c -q -x 8 -s 8 -k 1M -o get_video.flv "$url"
      done ;;
    norange)
      serve 8 --pace 1048576 --ignore-range
      for _ in $(seq "$rounds"); do
        run norange clipharbor-default ours "$url"
        run norange clipharbor-N1 ours --connections 1 "$url"
        run norange axel-n4 axel -q -n 4 -o get_video.flv "$url"
        run norange aria2c-x4 aria2c -q -x 4 -s 4 -k 1M -o get_video.flv "$url"
      done ;;
    default)
      serve 16 --pace 1048576
      for _ in $(seq "$rounds"); do
        run default clipharbor-default ours "$url"
        run default axel-n4 axel -q -n 4 -o get_video.flv "$url"
        run default aria2c-x4 aria2c -q -x 4 -s 4 -k 1M -o get_video.flv "$url"
      done ;;
    resume)
      serve 64 --pace 1048576
      for _ in $(seq "$rounds"); do
        rm -rf "$work/out" && mkdir -p "$work/out"
        (cd "$work/out" && exec "$cli" --yes --output . --connections 8 "$url" >/dev/null 2>&1) &
        pid=$!
        sleep 4
        kill -9 "$pid"
        wait "$pid" 2>/dev/null || true
        before=$(sent)
        (cd "$work/out" && "$cli" --yes --output . --connections 8 --continue "$url" >/dev/null 2>"$work/stderr") ||
          { tail -5 "$work/stderr" >&2; exit 1; }
        after=$(sent)
        cmp "$work/original" "$work/out/get_video.flv" || { echo "resume: the copy differs" >&2; exit 1; }
        second=$(python3 -c "print(round(($after - $before) / 1048576, 2))")
        echo "resume second-run-MiB $second" >>"$work/figures"
        echo "resume   second run sent          $second MiB (of 64)"
      done ;;
    *) echo "unknown scenario $scenario" >&2; exit 1 ;;
  esac
done

python3 - "$work/figures" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1])]
by = {}
for scenario, name, value in rows:
    by.setdefault(scenario, {}).setdefault(name, []).append(float(value))
print()
print("%-8s %-22s %9s  %s" % ("", "", "median", "rounds"))
for scenario, names in by.items():
    for name, values in names.items():
        print("%-8s %-22s %9.2f  %s" % (scenario, name, statistics.median(values), " ".join("%.2f" % v for v in values)))
    ours = [n for n in names if n.startswith("clipharbor")]
    if ours and scenario != "resume":
        base = statistics.median(names[ours[0]])
        for name, values in names.items():
            if name != ours[0]:
                print("%-8s %-22s %9.2f" % (scenario, "ratio %s/%s" % (name, ours[0]), statistics.median(values) / base))
PY
echo "load: $(uptime)"
