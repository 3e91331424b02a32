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
nginx_pid=""
service_pid=""
cleanup() {
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www" "$work/tls"
( cd "$work/tls"
  ec="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
  openssl req -x509 $ec -keyout ca.key -out ca.pem -days 2 -subj "/CN=Clipharbor Bench CA" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
  openssl req $ec -keyout server.key -out server.csr -subj "/CN=localhost"
  printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' >server.ext
  openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 \
    -extfile server.ext ) >"$work/tls/make.log" 2>&1
echo "generating ${size_mib} MiB of random data"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/www/big.flv"
ln "$work/www/big.flv" "$work/www/get_video.flv"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
port="$(free_port)"
tls_port="$(free_port)"
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
  server {
    listen 127.0.0.1:$tls_port ssl;
    ssl_certificate $work/tls/server.pem;
    ssl_certificate_key $work/tls/server.key;
    root $work/www;
  }
}
CONF
user_directive=""
[ "$(id -u)" = 0 ] && user_directive="user root;"
/usr/sbin/nginx -c "$work/nginx.conf" -p "$work" -g "daemon off; $user_directive" &
nginx_pid=$!
for p in "$port" "$tls_port"; do
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && break
    sleep 0.05
  done
done

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
