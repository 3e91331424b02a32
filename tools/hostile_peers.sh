#!/usr/bin/env bash
# clipharbor-cli, curl and wget side by side against the same misbehaving
# file server (tools/hostile_server.py): for each case and tool one row of a
# Markdown table with the exit status, the bytes saved under the final name,
# whether they are the server's true file, the wall time, the requests the
# server saw, what else was noticed, and the tool's last line of output.
#   tools/hostile_peers.sh [CASE...]        (default: every case)
# CLI=path runs another clipharbor-cli build; without it the release build
# (build/default) is made when missing. KEEP=1 keeps the runs' folders. Loopback only; the no-such-host case
# runs in a network namespace of its own (unshare -n).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2
repo="$PWD"
cli="${CLI:-$repo/build/default/clipharbor-cli}"
tries=3      # retries after the first attempt, for every tool
limit=60     # seconds any one run may take

for tool in curl wget openssl python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (apt-get install curl wget openssl time)" >&2; exit 2; }
done
if [ ! -x "$cli" ]; then
  cmake --preset default >/dev/null && cmake --build --preset default -j2 --target clipharbor-cli >/dev/null || exit 2
fi

work="$(mktemp -d /tmp/hostile-peers-XXXXXX)"
server_pid=""
stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
    server_pid=""
  fi
}
cleanup() {
  stop_server
  if [ -n "${KEEP:-}" ]; then echo "kept: $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A throw-away certificate authority and a certificate for localhost.
make_certs() {
  local d="$work/tls"
  mkdir -p "$d"
  (
    cd "$d" &&
      openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
        -subj "/CN=Hostile Peers CA" &&
      openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=localhost" &&
      printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' >server.ext &&
      openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 \
        -extfile server.ext
  ) >/dev/null 2>&1 || { echo "could not make the test certificates" >&2; exit 2; }
}
make_certs
ca="$work/tls/ca.pem"

# start_server CASE DIR: the scripted server for CASE, its files in DIR;
# sets server_pid and port.
start_server() {
  local tls=()
  case "$1" in tls-*) tls=(--cert "$work/tls/server.pem" --key "$work/tls/server.key") ;; esac
  python3 tools/hostile_server.py "$1" --dir "$2" --limit 170 "${tls[@]}" >"$2/port" 2>"$2/server.err" &
  server_pid=$!
  port=""
  for _ in $(seq 1 100); do
    port="$(head -n 1 "$2/port" 2>/dev/null)"
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  echo "the server for $1 did not start: $(cat "$2/server.err")" >&2
  exit 2
}

# tool_command TOOL ATTEMPTS OUT URL: the command line into cmd, through
# $proxy when it is set. ATTEMPTS is
# "all" (the retry options) or "one" (a first run that may not retry).
tool_command() {
  local tool="$1" attempts="$2" out="$3" url="$4"
  case "$tool" in
    clipharbor*)
      cmd=("$cli" --proxy "$proxy" --output "$out" --cacert "$ca")
      [ "$tool" = clipharbor-fresh ] || cmd+=(--continue)
      if [ "$attempts" = all ]; then cmd+=(--retries "$tries"); else cmd+=(--retries 0); fi
      ;;
    curl*)
      cmd=(curl -q -sS -L --cacert "$ca" -C - -o "$out/clip.bin")
      if [ -n "$proxy" ]; then cmd+=(-x "$proxy"); else cmd+=(--noproxy '*'); fi
      [ "$attempts" = all ] && cmd+=(--retry "$tries" --retry-all-errors)
      ;;
    wget)
      cmd=(wget --no-config --no-hsts --ca-certificate="$ca" -c -P "$out" "--retry-on-http-error=429,503")
      if [ -n "$proxy" ]; then cmd+=(-e use_proxy=on -e "http_proxy=$proxy"); else cmd+=(--no-proxy); fi
      if [ "$attempts" = all ]; then cmd+=(--tries "$((tries + 1))"); else cmd+=(--tries 1); fi
      ;;
  esac
  cmd+=("$url")
}

# run_tool DIR PREFIX...: runs cmd with the time limit, recording output,
# exit status, wall time and peak memory in DIR.
run_tool() {
  local d="$1"
  shift
  "$@" /usr/bin/time -f '%e %M' -o "$d/time" timeout "$limit" "${cmd[@]}" >"$d/output" 2>&1 </dev/null
  echo $? >"$d/status"
}

# The saved file against the server's versions, in words.
judge_file() {
  python3 - "$@" <<'EOF'
import os, sys
path, truth, first = sys.argv[1:4]
if os.path.islink(path):
    print("a link to " + os.path.basename(os.readlink(path))); sys.exit()
if not os.path.isfile(path):
    print("-"); sys.exit()
got, want, old = (open(p, "rb").read() for p in (path, truth, first))
if got == want:
    print("yes")
elif got == old:
    print("no: the first version")
elif got and want.startswith(got):
    print("no: its first %d bytes" % len(got))
else:
    k = 0
    while k < min(len(got), len(old)) and got[k] == old[k]:
        k += 1
    if k and got[k:] == want[k:len(got)]:
        print("no: spliced, %d bytes of the first version then the new one's" % k)
    else:
        print("no: other bytes")
EOF
}

# clean_line OUTPUT DIR [WORD]: the output's last line (after its last
# carriage return; wget's "Retrying." and "Giving up." and a pointer to the
# help skipped), or the last
# one with WORD, control bytes shown as ^X, the run's folder as DIR.
clean_line() {
  python3 - "$@" <<'EOF'
import sys
text = open(sys.argv[1], "rb").read().decode("utf-8", "replace").replace(sys.argv[2], "DIR")
lines = [l for l in text.replace("\r", "\n").split("\n")
         if l.strip() not in ("", "Retrying.", "Giving up.") and not l.startswith("Try '")]
if len(sys.argv) > 3:
    lines = [l for l in lines if sys.argv[3] in l] or ["(no line with the reason phrase)"]
line = lines[-1].strip() if lines else "(nothing)"
line = "".join("^" + chr(ord(ch) ^ 64) if ord(ch) < 32 or ord(ch) == 127 else ch for ch in line)
print(line[:150].replace("|", "\\|"))
EOF
}

# notices OUTPUT DIR: what the tool said on the way (retries, restarts,
# continuing), each line once, cleaned as above.
notices() {
  python3 - "$@" <<'EOF'
import re, sys
text = open(sys.argv[1], "rb").read().decode("utf-8", "replace").replace(sys.argv[2], "DIR")
wanted = re.compile(r"retry \d+ of \d+|starting again|Continuing|Retrying\.|Will retry|Warning:|^curl: \(")
seen = []
for line in text.replace("\r", "\n").split("\n"):
    line = re.sub(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \([^)]*\) - ", "", line.strip())
    if wanted.search(line) and line != "Retrying." and line not in seen:
        seen.append(line)
out = " / ".join(seen) or "-"
out = "".join("^" + chr(ord(ch) ^ 64) if ord(ch) < 32 or ord(ch) == 127 else ch for ch in out)
print(out[:300].replace("|", "\\|"))
EOF
}

item_of() {
  case "$1" in
    short-*) echo 1 ;; other-*) echo 2 ;; continue-*) echo 3 ;; tls-*) echo 4 ;; endless-*) echo 5 ;;
    relocation-*) echo 7 ;; port*) echo 8 ;; reason-*) echo 9 ;; symlink*) echo 10 ;; *) echo 12 ;;
  esac
}

# run_case CASE TOOL: one row.
run_case() {
  local c="$1" tool="$2"
  local d="$work/$c-$tool"
  local srv="$d/srv" out="$d/out" notes=()
  mkdir -p "$srv" "$out"
  local server_case="$c" scheme=http host=127.0.0.1 prefix=()
  proxy=""
  case "$c" in
    symlink*) server_case=plain ;;
    port-proxy) server_case=port ;;
    no-such-host) server_case="" ;;
    tls-*) scheme=https host=localhost ;;
  esac
  local url="http://no-such-host.invalid/clip.bin"
  if [ -n "$server_case" ]; then
    start_server "$server_case" "$srv"
    local p="$port"
    [ "$c" = port ] && p=$((port + 65536))
    url="$scheme://$host:$p/clip.bin"
    [ "$c" = port-proxy ] && proxy="http://127.0.0.1:$((port + 65536))"
  else
    prefix=(unshare -n)
    head -c 1 /dev/null >"$srv/truth.bin"
    cp "$srv/truth.bin" "$srv/first.bin"
  fi

  local victim="$d/letter.txt"
  local link=""
  case "$c:${tool%-*}" in
    symlink:clipharbor) link="$out/clip.bin.part" ;;
    symlink:*) link="$out/clip.bin" ;;
    symlink-control:*) link="$out/clip.bin.part.ctl" ;;
  esac
  if [ -n "$link" ]; then
    printf "the user's own words\n" >"$victim"
    cp "$victim" "$d/letter.orig"
    ln -s "$victim" "$link"
  fi
  # A first run that ends at the reset, then the measured run continues it.
  case "$c:$tool" in
    continue-*:* | short-*:curl-2runs | other-*:curl-2runs)
      tool_command "$tool" one "$out" "$url"
      mkdir -p "$d/first"
      run_tool "$d/first"
      notes+=("run 1: exit $(cat "$d/first/status"), $(stat -c %s "$out/clip.bin"* 2>/dev/null | head -n 1) B kept")
      ;;
  esac
  tool_command "$tool" all "$out" "$url"
  run_tool "$d" "${prefix[@]}"
  stop_server

  local status bytes equal seconds rss requests=0
  status="$(cat "$d/status")"
  read -r seconds rss < <(tail -n 1 "$d/time")
  bytes="-"
  [ -f "$out/clip.bin" ] && [ ! -L "$out/clip.bin" ] && bytes="$(stat -c %s "$out/clip.bin")"
  equal="$(judge_file "$out/clip.bin" "$srv/truth.bin" "$srv/first.bin")"
  [ "$c" = no-such-host ] && equal="-"
  [ -f "$srv/requests.log" ] && requests="$(wc -l <"$srv/requests.log")"
  [ "$status" = 124 ] && notes+=("killed after ${limit} s")

  local left=()
  for f in "$out"/* "$out"/.[!.]*; do
    [ -e "$f" ] || [ -L "$f" ] || continue
    [ "$(basename "$f")" = clip.bin ] && continue
    if [ -L "$f" ]; then left+=("$(basename "$f") (a link)"); else left+=("$(basename "$f") ($(stat -c %s "$f") B)"); fi
  done
  [ ${#left[@]} -gt 0 ] && notes+=("left: $(IFS=,; echo "${left[*]}" | sed 's/,/, /g')")

  case "$c" in
    reason-*)
      if grep -q $'\x1b\|\x07' "$d/output"; then notes+=("raw ESC/BEL bytes in its output"); else
        notes+=("no raw ESC/BEL in its output"); fi ;;
    retry-after-date)
      [ "$requests" -ge 2 ] && notes+=("asked again after $(awk 'NR==1{a=$1} NR==2{printf "%.1f", $1-a}' \
        "$srv/requests.log") s (Retry-After: 5 s ahead)") ;;
    relocation-file)
      if grep -rqs SECRET "$out"; then notes+=("the file: target was copied"); fi ;;
    port*)
      [ "$requests" -gt 0 ] && notes+=("targets: $(awk '{print $3}' "$srv/requests.log" | sort -u | paste -sd ' ')") ;;
    symlink*)
      local words
      words="$(stat -c %s "$d/letter.orig")"
      if cmp -s "$victim" "$d/letter.orig"; then
        notes+=("linked file intact")
      elif cmp -s -n "$words" "$victim" "$d/letter.orig"; then
        notes+=("written through the link: the linked file is its own $words B, then $(($(stat -c %s "$victim") - words)) B downloaded")
      else
        notes+=("written through the link: the linked file is overwritten ($(stat -c %s "$victim") B)")
      fi ;;
    endless-*) notes+=("peak RSS $((rss / 1024)) MiB") ;;
  esac

  local word=()
  case "$c" in reason-*) word=(Slow) ;; esac
  local note
  note="$(IFS=';'; echo "${notes[*]}" | sed 's/;/; /g')"
  printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$(item_of "$c")" "$c" "$tool" "$status" \
    "$bytes" "$equal" "$seconds" "$requests" "${note:--}" "$(notices "$d/output" "$d")" \
    "$(clean_line "$d/output" "$d" "${word[@]}")"
}

all_cases=(short-range short-length short-close short-always other-etag other-total continue-ifrange continue-noifrange
  tls-cut tls-notify-open endless-line endless-block relocation-loop relocation-ftp relocation-file port
  port-location port-proxy reason-429 reason-503 symlink symlink-control no-such-host retry-after-date)
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=("${all_cases[@]}")

echo "| item | case | tool | exit | bytes under the final name | = true file | s | requests | notes | said on the way | last line of output |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
for c in "${cases[@]}"; do
  tools=(clipharbor curl wget)
  case "$c" in
    short-* | other-*) tools+=(curl-2runs) ;;  # curl's retries start again; a second run continues
    symlink) tools+=(clipharbor-fresh) ;;      # without --continue
  esac
  for tool in "${tools[@]}"; do
    if [ "$c" = symlink-control ] && [ "$tool" != clipharbor ]; then
      printf '| 10 | %s | %s | n/a | | | | | %s keeps nothing beside the file it writes | | |\n' "$c" "$tool" "$tool"
      continue
    fi
    run_case "$c" "$tool"
  done
done
