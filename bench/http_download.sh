#!/usr/bin/env bash
# Benchmark: one 1 GiB file from nginx on loopback, downloaded by THttpCli
# (into a file) and by curl -o in the same run, over http and then over
# https (a throw-away certificate authority made here); every copy is
# checked against the original. Builds its own Release tree (no sanitizers).
# bench/cli_download.sh measures the whole program the same way.
#   bench/http_download.sh [SIZE_MIB] [ROUNDS] [plain]
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib="${1:-1024}"
rounds="${2:-3}"
stream="${3:-buffered}"
build=build/bench-release

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCLIPHARBOR_TESTS=OFF >/dev/null
ninja -C "$build" -j2 http_download >/dev/null

work="$(mktemp -d /tmp/clipharbor-bench-XXXXXX)"
chmod 755 "$work"
source bench/nginx_loopback.sh
cleanup() {
  stop_nginx
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www"
make_tls_ca "$work/tls"
echo "generating ${size_mib} MiB of random data"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/www/big.flv"

start_nginx "$work/www" "$work" "$work/tls"
port=$nginx_port
tls_port=$nginx_tls_port

echo "== http"
"$build/http_download" "http://127.0.0.1:$port/big.flv" "$work/www/big.flv" "$work" "$rounds" "$stream"
echo
echo "== https"
"$build/http_download" "https://localhost:$tls_port/big.flv" "$work/www/big.flv" "$work" "$rounds" "$stream" \
  "$work/tls/ca.pem"
