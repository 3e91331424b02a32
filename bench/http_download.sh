#!/usr/bin/env bash
# Benchmark: one 1 GiB file from nginx on loopback, downloaded by THttpCli
# (into a file) and by curl -o in the same run, over http and then over
# https (a throw-away certificate authority made here), and last
# clipharbor-cli running a whole job (watch page, get_video relocated to the
# same https file) against curl on that file; every copy is checked against
# the original. Builds its own Release tree (no sanitizers).
#   bench/http_download.sh [SIZE_MIB] [ROUNDS] [plain]
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib="${1:-1024}"
rounds="${2:-3}"
stream="${3:-buffered}"
build=build/bench-release

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCLIPHARBOR_TESTS=OFF >/dev/null
ninja -C "$build" -j2 http_download clipharbor-cli >/dev/null

work="$(mktemp -d /tmp/clipharbor-bench-XXXXXX)"
chmod 755 "$work"
service_pid=""
source bench/nginx_loopback.sh
cleanup() {
  stop_nginx
  if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www"
make_tls_ca "$work/tls"
echo "generating ${size_mib} MiB of random data"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/www/big.flv"
ln "$work/www/big.flv" "$work/www/get_video.flv"

start_nginx "$work/www" "$work" "$work/tls"
port=$nginx_port
tls_port=$nginx_tls_port

echo "== http"
"$build/http_download" "http://127.0.0.1:$port/big.flv" "$work/www/big.flv" "$work" "$rounds" "$stream"
echo
echo "== https"
"$build/http_download" "https://localhost:$tls_port/big.flv" "$work/www/big.flv" "$work" "$rounds" "$stream" \
  "$work/tls/ca.pem"

echo
echo "== https, clipharbor-cli"
python3 tools/video_service.py --title big --cache-scheme https --cache-host localhost \
  --cache-redirect-port "$tls_port" --cache-dir "$work/service" >"$work/service.out" 2>"$work/service.err" &
service_pid=$!
for _ in $(seq 400); do
  [ -s "$work/service.out" ] && grep -q '^cache ' "$work/service.out" && break
  sleep 0.05
done
service_port="$(head -n 1 "$work/service.out")"
CLIPHARBOR_SERVICE="127.0.0.1:$service_port" "$build/http_download" "https://localhost:$tls_port/big.flv" \
  "$work/www/big.flv" "$work" "$rounds" "$stream" "$work/tls/ca.pem" "$build/clipharbor-cli" \
  "http://127.0.0.1:$service_port/watch?v=Xk3mP9qA_7w"
