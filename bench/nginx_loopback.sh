# Sourced by the benchmark scripts: starts nginx on a free loopback port,
# serving the folder $1 with sendfile, its files and logs under $2; with a
# third argument (a folder from make_tls_ca) also over TLS on a second port.
# Sets nginx_port, nginx_tls_port and nginx_pid; stop_nginx ends it. With
# nginx_v6 set, the plain server listens on [::1] too.
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# make_tls_ca DIR: a throw-away certificate authority DIR/ca.pem and a
# server certificate for "localhost" signed by it (DIR/server.pem, .key).
make_tls_ca() {
  mkdir -p "$1"
  ( cd "$1"
    ec="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
    openssl req -x509 $ec -keyout ca.key -out ca.pem -days 2 -subj "/CN=Clipharbor Bench CA" \
      -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
    openssl req $ec -keyout server.key -out server.csr -subj "/CN=localhost"
    printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 \
      -extfile server.ext ) >"$1/make.log" 2>&1
}

start_nginx() {
  local root="$1" work="$2" tls="${3:-}" tls_server=""
  nginx_port="$(free_port)"
  nginx_tls_port=""
  if [ -n "$tls" ]; then
    nginx_tls_port="$(free_port)"
    tls_server="server { listen 127.0.0.1:$nginx_tls_port ssl; ssl_certificate $tls/server.pem; ssl_certificate_key $tls/server.key; root $root; }"
  fi
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
  server { listen 127.0.0.1:$nginx_port; ${nginx_v6:+listen [::1]:$nginx_port;} root $root; }
  $tls_server
}
CONF
  local user_directive=""
  [ "$(id -u)" = 0 ] && user_directive="user root;"
  /usr/sbin/nginx -c "$work/nginx.conf" -p "$work" -g "daemon off; $user_directive" &
  nginx_pid=$!
  local p
  for p in $nginx_port $nginx_tls_port; do
    for _ in $(seq 100); do
      (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && continue 2
      sleep 0.05
    done
    echo "nginx did not start" >&2
    return 1
  done
}

stop_nginx() {
  if [ -n "${nginx_pid:-}" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
  fi
}
