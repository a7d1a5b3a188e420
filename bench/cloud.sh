#!/usr/bin/env bash
# Checks through the network against what libcurl itself allows, in one run:
#   1. fpcheck batch --jobs J against fpcloud over HTTPS on loopback, beside
#      the bare libcurl client (bench/bare_client.cpp: the SDK's request,
#      one easy handle on each of J threads, nothing else) and wrk (the
#      network's limit) sending the same request (body and headers) to the
#      same service with J connections on J threads, for each J, in rounds
#      whose order turns: checks per second of each, fpcheck's ratio to the
#      bare client (target >= 0.85) and to wrk, p50/p99 time of a check;
#   2. the TLS handshakes the service counted for each batch (target: one per
#      instance, not one per check);
#   3. a batch whose verdicts are all cached (the service sends max-age,
#      every request carries a hash) against the same batch decided offline
#      (file: URL): checks per second and ratio (target >= 0.9).
# Builds the bench preset with the tools into build/bench-cloud, at -O2 as
# the release packages are (g++ 12 at -O3 warns falsely, -Wrestrict, in the
# rules reader, and warnings are errors).
# Figures: docs/BENCHMARKS.md. Settings from the environment:
#   KESP_BENCH_BUILD   build directory              (build/bench-cloud)
#   KESP_BENCH_JOBS    the values of J              ("1 2 4")
#   KESP_BENCH_ROUNDS  rounds, each runs everything ("7"); medians are reported
#   KESP_BENCH_CHECKS  checks per network batch     ("70000": on two cores a
#                      batch then lasts about as long as a bare client or wrk
#                      run, so that a round's bursts of load fall on each alike)
#   KESP_BENCH_CACHED  checks per cached/offline batch ("200000")
#   KESP_BENCH_SECONDS seconds of each wrk and bare client run ("5")
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/loopback-cloud.sh

build=${KESP_BENCH_BUILD:-build/bench-cloud}
jobs_list=${KESP_BENCH_JOBS:-"1 2 4"}
rounds=${KESP_BENCH_ROUNDS:-7}
checks=${KESP_BENCH_CHECKS:-70000}
cached_checks=${KESP_BENCH_CACHED:-200000}
wrk_seconds=${KESP_BENCH_SECONDS:-5}

for tool in wrk openssl; do
  command -v "$tool" >/dev/null || { echo "cloud.sh: needs $tool (apt-get install $tool)" >&2; exit 1; }
done

echo "== Building Release (-O2) into $build: fpcheck, the plug-in, the reference SDK, fpcloud, the bare client"
cmake --preset bench -B "$build" -DKESP_BUILD_TOOLS=ON -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null
cloud_build "$build"
cmake --build "$build" --target bench_bare_client -j2 >/dev/null
bare=$build/bin/bench_bare_client

cloud_begin

cloud_certificates "$tmp"
key=bench-$(openssl rand -hex 12)
out=$build/cloud-bench.txt
: >"$out"
say() { printf '%s\n' "$*" | tee -a "$out"; }

# --- The machine -----------------------------------------------------------
say "== Machine"
say "cpu:      $(lscpu | sed -n 's/^Model name: *//p') x $(nproc) ($(lscpu | sed -n 's/^Hypervisor vendor: *//p') guest)"
say "kernel:   $(uname -sr)"
say "compiler: $(g++ --version | head -n1)"
say "libcurl:  $(dpkg-query -W -f '${Version}' libcurl4 2>/dev/null), cpp-httplib $(dpkg-query -W -f '${Version}' libcpp-httplib-dev 2>/dev/null), OpenSSL $(openssl version | cut -d' ' -f2), $(wrk --version 2>&1 | head -n1 | cut -d' ' -f1-2)"
say "load:     $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the start"

# --- The request -----------------------------------------------------------
# One request line of fpcheck, and the body and headers the SDK makes of it
# (reference/sdk/cloud_protocol.cpp: a JSON object, so its fields in name order; the
# host data is fpcheck's default). The file's size goes into the body, so it is read here.
file=examples/files/invoice.txt
detection=Trojan.Script.Phish
hash=8047240c6b430f443ce9ea191bd18bc8c33af873cb0b8a0822be814303d1db03
size=$(stat -c %s "$file")
line="{\"path\":\"$file\",\"detection\":\"$detection\",\"hash\":\"$hash\"}"
export BENCH_BODY="{\"detection\":\"$detection\",\"host\":\"fpcheck\",\"input\":\"file\",\"sha256\":\"$hash\",\"size\":$size}"
sdk_version=$("$fpcheck" info --json | sed -E 's/.*"version":"([^"]*)".*/\1/')
export BENCH_USER_AGENT="vfpcsdk/$sdk_version vfpc-plugin/$sdk_version"
export BENCH_API_KEY=$key
awk -v line="$line" -v n="$checks" 'BEGIN { for (i = 0; i < n; i++) print line }' >"$tmp/network.jsonl"

# The cached batch: 16 hashes the rules file does not name, each repeated.
for ((i = 0; i < 16; i++)); do
  printf '{"path":"%s","detection":"%s","hash":"%s"}\n' "$file" "$detection" \
    "$(printf 'bench %d' "$i" | sha256sum | cut -d' ' -f1)"
done >"$tmp/keys.jsonl"
for ((i = 0; i < cached_checks / 16; i++)); do cat "$tmp/keys.jsonl"; done >"$tmp/cached.jsonl"

# --- Helpers ---------------------------------------------------------------
count() { grep -c "^$1 " "$2" || true; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
# percentile P of the per-check times (ms) in a results file
percentile() {
  grep -o '"milliseconds":[0-9.e+-]*' "$2" | cut -d: -f2 | sort -g |
    awk -v p="$1" '{ v[NR] = $1 } END { i = int(NR * p / 100 + 0.999999); if (i < 1) i = 1; print v[i] }'
}
fail() { echo "cloud.sh: $*" >&2; exit 1; }
# "rate p50 p99" (requests/s, ms) of a run of a load generator
rate_row() {
  awk -v r="$1" -v s="$2" -v a="$3" -v b="$4" 'BEGIN { printf "%.1f %.3f %.3f\n", r / s, a / 1000, b / 1000 }'
}

# Runs an fpcheck batch; appends "rate p50 p99" to $tmp/<name> and checks the
# summary for failures.
batch() {
  local name=$1 input=$2
  shift 2
  "$fpcheck" batch --sdk-dir "$sdk" "$@" <"$input" >"$tmp/results" 2>"$tmp/summary" ||
    fail "fpcheck batch $* failed: $(cat "$tmp/summary")"
  grep -q ', 0 failed,' "$tmp/summary" || fail "checks failed: $(cat "$tmp/summary")"
  local rate
  rate=$(sed -nE 's/.* ([0-9.]+) checks per second$/\1/p' "$tmp/summary")
  echo "$rate $(percentile 50 "$tmp/results") $(percentile 99 "$tmp/results")" >>"$tmp/$name"
}

# --- 1 and 2: fpcheck batch against wrk --------------------------------------
cloud_start "$fpcloud" "$tmp/network.log" --rules examples/vfpcsdk.rules \
  --tls-cert "$tmp/server.pem" --tls-key "$tmp/server.key" --api-key "$key"
network_url=$cloud_url
cloud=(--cloud-url "$network_url" --cert "$tmp/ca.pem" --api-key "$key")
: >"$tmp/handshakes"

clients=(wrk bare fpcheck)
for ((round = 1; round <= rounds; round++)); do
  for jobs in $jobs_list; do
    # The order turns from round to round, so that a burst of load from
    # other processes falls on every client alike.
    for ((turn = 0; turn < ${#clients[@]}; turn++)); do
      which=${clients[(round + turn) % ${#clients[@]}]}
      before_h=$(count handshake "$tmp/network.log")
      before_r=$(count request "$tmp/network.log")
      case $which in
        wrk)
          wrk -t "$jobs" -c "$jobs" -d "${wrk_seconds}s" -s bench/cloud_post.lua "$network_url" >"$tmp/wrk.out" 2>&1 ||
            fail "wrk failed: $(cat "$tmp/wrk.out")"
          result=$(grep '^wrk-result ' "$tmp/wrk.out") || fail "wrk said: $(cat "$tmp/wrk.out")"
          read -r requests seconds p50us p99us non2xx socketerrors < <(sed -E \
            's/^wrk-result requests=([0-9]+) seconds=([0-9.]+) p50us=([0-9]+) p99us=([0-9]+) non2xx=([0-9]+) socketerrors=([0-9]+)$/\1 \2 \3 \4 \5 \6/' <<<"$result")
          if [ "$non2xx" != 0 ] || [ "$socketerrors" != 0 ]; then
            fail "wrk got $non2xx answers that were not 2xx and $socketerrors socket errors"
          fi
          rate_row "$requests" "$seconds" "$p50us" "$p99us" >>"$tmp/wrk-$jobs"
          ;;
        bare)
          "$bare" "$network_url" --cacert "$tmp/ca.pem" --threads "$jobs" --seconds "$wrk_seconds" \
            >"$tmp/bare.out" 2>&1 || fail "the bare client failed: $(cat "$tmp/bare.out")"
          requests=
          read -r requests seconds p50us p99us < <(sed -nE \
            's/^bare-result requests=([0-9]+) seconds=([0-9.]+) p50us=([0-9]+) p99us=([0-9]+) failed=0$/\1 \2 \3 \4/p' "$tmp/bare.out") || true
          [ -n "$requests" ] || fail "the bare client said: $(cat "$tmp/bare.out")"
          rate_row "$requests" "$seconds" "$p50us" "$p99us" >>"$tmp/bare-$jobs"
          ;;
        fpcheck)
          batch "fpcheck-$jobs" "$tmp/network.jsonl" --jobs "$jobs" "${cloud[@]}"
          ;;
      esac
      handshakes=$(($(count handshake "$tmp/network.log") - before_h))
      served=$(($(count request "$tmp/network.log") - before_r))
      echo "$which $jobs $handshakes $served" >>"$tmp/handshakes"
    done
  done
done
cloud_stop "$cloud_pid"

# --- 3: cached verdicts against the offline decider -----------------------------
cloud_start "$fpcloud" "$tmp/cached.log" --rules examples/vfpcsdk.rules \
  --tls-cert "$tmp/server.pem" --tls-key "$tmp/server.key" --api-key "$key" --max-age 3600
cached_url=$cloud_url
: >"$tmp/cached-served"
for ((round = 1; round <= rounds; round++)); do
  for jobs in $jobs_list; do
    before_r=$(count request "$tmp/cached.log")
    batch "cached-$jobs" "$tmp/cached.jsonl" --jobs "$jobs" --cloud-url "$cached_url" \
      --cert "$tmp/ca.pem" --api-key "$key"
    echo "$jobs $(($(count request "$tmp/cached.log") - before_r))" >>"$tmp/cached-served"
    batch "offline-$jobs" "$tmp/cached.jsonl" --jobs "$jobs" --cloud-url file:vfpcsdk.rules
  done
done
cloud_stop "$cloud_pid"

# --- Report --------------------------------------------------------------------
col() { cut -d' ' -f"$1" "$2" | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { awk -v r="$1" -v t="$2" 'BEGIN { print (r >= t ? "met" : "MISSED") }'; }
# One row for J: the rates of clients A and B (medians), their ratio against
# the target, the p50/p99 of each, and an extra column.
compare_row() {
  local jobs=$1 a=$tmp/$2-$1 b=$tmp/$3-$1 target=$4 extra=${5:-}
  local r
  r=$(ratio "$(col 1 "$a")" "$(col 1 "$b")")
  say "$(printf '%-3s %12s %12s %6s %7s   %-17s %-17s %s' "$jobs" "$(col 1 "$a")" "$(col 1 "$b")" \
    "$r" "$(verdict "$r" "$target")" "$(col 2 "$a")/$(col 3 "$a") ms" "$(col 2 "$b")/$(col 3 "$b") ms" \
    "$extra")"
}

say "load:     $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"
say ""
say "== fpcheck batch against the bare libcurl client, same service, same request ($rounds rounds, medians; $checks checks per batch, ${wrk_seconds} s per bare client and wrk run)"
say "$(printf '%-3s %12s %12s %6s %7s   %-17s %-17s' J 'fpcheck/s' 'bare/s' ratio '>=0.85' 'fpcheck p50/p99' 'bare p50/p99')"
for jobs in $jobs_list; do compare_row "$jobs" fpcheck bare 0.85; done
say ""
say "== Beside wrk, the network's limit"
say "$(printf '%-3s %12s %12s %14s %14s   %-17s' J 'wrk/s' 'bare/s' 'bare/wrk' 'fpcheck/wrk' 'wrk p50/p99')"
for jobs in $jobs_list; do
  wrk_rate=$(col 1 "$tmp/wrk-$jobs")
  say "$(printf '%-3s %12s %12s %14s %14s   %-17s' "$jobs" "$wrk_rate" "$(col 1 "$tmp/bare-$jobs")" \
    "$(ratio "$(col 1 "$tmp/bare-$jobs")" "$wrk_rate")" "$(ratio "$(col 1 "$tmp/fpcheck-$jobs")" "$wrk_rate")" \
    "$(col 2 "$tmp/wrk-$jobs")/$(col 3 "$tmp/wrk-$jobs") ms")"
done
say ""
say "== TLS handshakes and requests the service counted, per run (target: handshakes == J for fpcheck)"
say "$(printf '%-8s %-3s %10s %10s' client J handshakes requests)"
handshakes_ok=met
while read -r which jobs handshakes served; do
  say "$(printf '%-8s %-3s %10s %10s' "$which" "$jobs" "$handshakes" "$served")"
  if [ "$which" = fpcheck ] && { [ "$handshakes" != "$jobs" ] || [ "$served" != "$checks" ]; }; then
    handshakes_ok=MISSED
  fi
done <"$tmp/handshakes"
say "handshakes == instances and requests == checks for every fpcheck batch: $handshakes_ok"
say ""
say "== Cached verdicts against the offline decider ($rounds rounds, medians; $cached_checks checks, 16 distinct hashes)"
say "$(printf '%-3s %12s %12s %6s %7s   %-17s %-17s %s' J 'cached/s' 'offline/s' ratio '>=0.9' 'cached p50/p99' 'offline p50/p99' 'requests served')"
for jobs in $jobs_list; do
  compare_row "$jobs" cached offline 0.9 \
    "$(awk -v j="$jobs" '$1 == j { printf "%s%s", sep, $2; sep = "," }' "$tmp/cached-served")"
done
say ""
say "(also in $out)"
