# shellcheck shell=bash
# Sourced by scripts/demo.sh and bench/cloud.sh: a throwaway certificate
# authority for loopback, and fpcloud processes that are always stopped.
#
#   cloud_certificates DIR      writes DIR/ca.pem (a CA made for this run
#                               only: its key is deleted once it has signed),
#                               DIR/server.pem and DIR/server.key (for
#                               127.0.0.1 and localhost), valid for one day
#   cloud_start FPCLOUD LOG ARG...
#                               starts FPCLOUD ARG... with its standard output
#                               in LOG (standard error in LOG.err), waits for
#                               the URL line and sets cloud_url and cloud_pid
#   cloud_stop PID              SIGTERM, then waits for it to end (SIGKILL
#                               after 5 s); its log then ends with "stopped:"
#   cloud_stop_all              cloud_stop for every service still running
#   cloud_build DIR             builds fpcheck (and with it the plug-in and
#                               the reference SDK) and fpcloud in the
#                               configured build directory DIR; sets sdk,
#                               fpcheck and fpcloud to what it built
#   cloud_begin                 makes the caller's temporary directory, $tmp,
#                               and sets the traps that, however the caller
#                               ends (an error, Ctrl-C, SIGTERM, SIGHUP),
#                               stop every service and remove $tmp
#
# DIR and LOG belong to that temporary directory; no key is ever written
# anywhere else.

cloud_pids=()
cloud_url=
cloud_pid=

cloud_certificates() {
  local dir=$1
  # Our own configuration, so that the system's openssl.cnf adds nothing.
  cat >"$dir/openssl.cnf" <<'EOF'
[req]
distinguished_name = dn
prompt = no
[dn]
CN = throwaway loopback CA
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1, DNS:localhost
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
  # P-256 keys: a handshake costs a fraction of an RSA one.
  openssl req -x509 -config "$dir/openssl.cnf" -extensions ca -days 1 \
    -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
    -keyout "$dir/ca.key" -out "$dir/ca.pem" 2>/dev/null
  openssl req -new -config "$dir/openssl.cnf" -subj /CN=localhost \
    -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
    -keyout "$dir/server.key" -out "$dir/server.csr" 2>/dev/null
  openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
    -set_serial "0x$(openssl rand -hex 8)" -days 1 \
    -extfile "$dir/openssl.cnf" -extensions server -out "$dir/server.pem" 2>/dev/null
  rm -f "$dir/ca.key" "$dir/server.csr"
}

cloud_build() {
  cmake --build "$1" --target fpcheck fpcloud -j2 >/dev/null
  sdk=$1/bin/reference-sdk
  fpcheck=$1/bin/fpcheck
  fpcloud=$1/bin/fpcloud
}

cloud_start() {
  local fpcloud=$1 log=$2
  shift 2
  # Made here, so that the loop below never reads before the child opened it.
  : >"$log"
  "$fpcloud" "$@" >"$log" 2>"$log.err" &
  cloud_pid=$!
  cloud_pids+=("$cloud_pid")
  cloud_url=
  # The first line is the URL; read succeeds only once the line is complete.
  local tries
  for ((tries = 0; tries < 100; tries++)); do
    if IFS= read -r cloud_url <"$log"; then return 0; fi
    if ! kill -0 "$cloud_pid" 2>/dev/null; then break; fi
    sleep 0.05
  done
  echo "fpcloud did not start (${fpcloud} $*):" >&2
  sed 's/^/    /' "$log.err" >&2
  return 1
}

cloud_stop() {
  local pid=$1 tries other
  kill -TERM "$pid" 2>/dev/null || true
  for ((tries = 0; tries < 100; tries++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  local remaining=()
  for other in "${cloud_pids[@]}"; do [ "$other" = "$pid" ] || remaining+=("$other"); done
  cloud_pids=("${remaining[@]}")
}

cloud_stop_all() {
  local pid
  for pid in "${cloud_pids[@]}"; do cloud_stop "$pid"; done
}

cloud_begin() {
  tmp=$(mktemp -d)
  trap cloud_finish EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
}

cloud_finish() {
  local status=$?
  trap - EXIT INT TERM HUP
  cloud_stop_all
  rm -rf "$tmp"
  exit "$status"
}
