# Sourced by the benchmark scripts: starts nginx on a free loopback port,
# serving the folder $1 with sendfile, its files and logs under $2.
# Sets nginx_port and nginx_pid; stop_nginx ends it.
start_nginx() {
  local root="$1" work="$2"
  nginx_port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
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
  server { listen 127.0.0.1:$nginx_port; root $root; }
}
CONF
  local user_directive=""
  [ "$(id -u)" = 0 ] && user_directive="user root;"
  /usr/sbin/nginx -c "$work/nginx.conf" -p "$work" -g "daemon off; $user_directive" &
  nginx_pid=$!
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$nginx_port") 2>/dev/null && return 0
    sleep 0.05
  done
  echo "nginx did not start" >&2
  return 1
}

stop_nginx() {
  if [ -n "${nginx_pid:-}" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
  fi
}
