#!/usr/bin/env bash
# Benchmark: one 1 GiB file from nginx on loopback, downloaded by THttpCli
# (into a file) and by curl -o in the same run; both copies are checked
# against the original. Builds its own Release tree (no sanitizers).
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
nginx_pid=""
cleanup() {
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www"
echo "generating ${size_mib} MiB of random data"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/www/big.flv"

port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
cat >"$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  sendfile on;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
user_directive=""
[ "$(id -u)" = 0 ] && user_directive="user root;"
/usr/sbin/nginx -c "$work/nginx.conf" -p "$work" -g "daemon off; $user_directive" &
nginx_pid=$!
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.05
done

"$build/http_download" "http://127.0.0.1:$port/big.flv" "$work/www/big.flv" "$work" "$rounds" "$stream"
