#!/usr/bin/env bash
# Instructions per request through the network, for wrk, the bare libcurl
# client and fpcheck batch, each at J = 1 against fpcloud over HTTPS on
# loopback with the same request as bench/cloud.sh: callgrind (user space
# only) on a short and a long run of each, the difference divided by the
# difference in requests, so that start-up and shut-down drop out.
#
#   bench/cloud-profile.sh [SHORT LONG]     requests of the two runs (300 1300)
#
# KESP_PROFILE_CLIENTS names the clients to run ("wrk bare fpcheck").
# Prints, per request, each client's instructions by component (the shared
# object they ran in) and, for fpcheck, by the part of its work (inclusive
# counts of the functions named below). Needs valgrind. Builds as
# bench/cloud.sh does, into the same directory (KESP_BENCH_BUILD).
# Method and figures: docs/BENCHMARKS.md.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/loopback-cloud.sh

short=${1:-300}
long=${2:-1300}
build=${KESP_BENCH_BUILD:-build/bench-cloud}
for tool in valgrind callgrind_annotate wrk openssl; do
  command -v "$tool" >/dev/null || { echo "cloud-profile.sh: needs $tool" >&2; exit 1; }
done

cmake --preset bench -B "$build" -DKESP_BUILD_TOOLS=ON -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null
cloud_build "$build"
case " ${KESP_PROFILE_CLIENTS:-bare} " in
  *" bare "*) cmake --build "$build" --target bench_bare_client -j2 >/dev/null ;;
esac
bare=$build/bin/bench_bare_client

cloud_begin
cloud_certificates "$tmp"
key=profile-$(openssl rand -hex 12)
file=examples/files/invoice.txt
hash=8047240c6b430f443ce9ea191bd18bc8c33af873cb0b8a0822be814303d1db03
line="{\"path\":\"$file\",\"detection\":\"Trojan.Script.Phish\",\"hash\":\"$hash\"}"
export BENCH_BODY="{\"detection\":\"Trojan.Script.Phish\",\"host\":\"fpcheck\",\"input\":\"file\",\"sha256\":\"$hash\",\"size\":$(stat -c %s "$file")}"
sdk_version=$("$fpcheck" info --json | sed -E 's/.*"version":"([^"]*)".*/\1/')
export BENCH_USER_AGENT="vfpcsdk/$sdk_version vfpc-plugin/$sdk_version"
export BENCH_API_KEY=$key
cloud_start "$fpcloud" "$tmp/service.log" --rules examples/vfpcsdk.rules \
  --tls-cert "$tmp/server.pem" --tls-key "$tmp/server.key" --api-key "$key"

callgrind() {  # output file, command...
  local out=$1
  shift
  valgrind --tool=callgrind --callgrind-out-file="$out" "$@" >"$out.stdout" 2>"$out.stderr" ||
    { echo "cloud-profile.sh: $* failed:" >&2; cat "$out.stderr" >&2; exit 1; }
}

# Runs each client twice; writes "<requests> <callgrind file>" per run.
profile() {  # client, run (short|long), size
  local client=$1 run=$2 size=$3 out=$tmp/$1.$2.cg
  case $client in
    fpcheck)
      awk -v line="$line" -v n="$size" 'BEGIN { for (i = 0; i < n; i++) print line }' >"$tmp/in.jsonl"
      callgrind "$out" "$fpcheck" batch --sdk-dir "$sdk" --jobs 1 --cloud-url "$cloud_url" \
        --cert "$tmp/ca.pem" --api-key "$key" <"$tmp/in.jsonl"
      echo "$size" >"$out.requests"
      ;;
    bare)
      callgrind "$out" "$bare" "$cloud_url" --cacert "$tmp/ca.pem" --threads 1 --requests "$size"
      echo "$size" >"$out.requests"
      ;;
    wrk)
      # wrk runs for a time, not a count: the runs last 1 s per 100
      # requests asked, and the requests it made are counted.
      callgrind "$out" wrk -t 1 -c 1 -d "$((size / 100))s" -s bench/cloud_post.lua "$cloud_url"
      sed -nE 's/^wrk-result requests=([0-9]+) .*/\1/p' "$out.stdout" >"$out.requests"
      ;;
  esac
}

# Self cost (instructions) per shared object of a callgrind file.
by_object() {
  awk '
    function named(kind, rest,   id, n) {
      if (match(rest, /^\([0-9]+\)/)) {
        id = substr(rest, 2, RLENGTH - 2); n = substr(rest, RLENGTH + 2)
        if (n != "") names[kind, id] = n; else n = names[kind, id]
        return n
      }
      return rest
    }
    /^ob=/ { object = named("ob", substr($0, 4)); next }
    /^cob=/ { named("ob", substr($0, 5)); next }
    /^calls=/ { skip = 1; next }
    /^[0-9+*-]/ { if (skip) { skip = 0; next } cost[object] += $2; next }
    END { for (o in cost) print cost[o], o }' "$1"
}

# Inclusive cost per function of a callgrind file: "cost<TAB>function".
inclusive() {
  callgrind_annotate --inclusive=yes --threshold=100 "$1" 2>/dev/null |
    sed -nE 's/^ *([0-9,]+) +(\([^)]*\) +)?(.*)$/\1\t\3/p' | tr -d ','
}

# Per request: (long - short) / (requests long - requests short).
per_request() {  # short file, long file (both "cost name"), requests difference
  awk -v n="$3" 'NR == FNR { a[$2] = $1; next } { printf "%d %s\n", ($1 - a[$2]) / n, $2 }' "$1" "$2"
}

component() {  # shared object path -> component name
  case $1 in
    */fpcheck) echo "fpcheck" ;;
    */bench_bare_client) echo "the bare client" ;;
    */wrk) echo "wrk" ;;
    */libvfpcchecker.so) echo "the plug-in" ;;
    */libvfpcsdk.so) echo "the reference SDK" ;;
    *libcurl*) echo "libcurl" ;;
    *libssl*) echo "OpenSSL libssl" ;;
    *libcrypto*) echo "OpenSSL libcrypto" ;;
    *libc.so*) echo "libc (malloc, memcpy, system call stubs)" ;;
    *libstdc++*) echo "libstdc++" ;;
    *libluajit*) echo "LuaJIT (wrk)" ;;
    *) echo "other" ;;
  esac
}

for client in ${KESP_PROFILE_CLIENTS:-wrk bare fpcheck}; do
  profile "$client" short "$short"
  profile "$client" long "$long"
  requests=$(($(cat "$tmp/$client.long.cg.requests") - $(cat "$tmp/$client.short.cg.requests")))
  by_object "$tmp/$client.short.cg" | tr '\t' ' ' >"$tmp/$client.short.obj"
  by_object "$tmp/$client.long.cg" | tr '\t' ' ' >"$tmp/$client.long.obj"
  echo "== $client: instructions per request by component ($requests requests between the runs)"
  per_request "$tmp/$client.short.obj" "$tmp/$client.long.obj" "$requests" |
    while read -r cost object; do printf '%s\t%s\n' "$(component "$object")" "$cost"; done |
    awk -F'\t' '{ sum[$1] += $2; total += $2 } END {
      for (c in sum) if (sum[c] >= 50) printf "%9d  %s\n", sum[c], c
      printf "%9d  all\n", total }' | sort -rn
  if [ "$client" = fpcheck ]; then
    inclusive "$tmp/$client.short.cg" >"$tmp/inc.short"
    inclusive "$tmp/$client.long.cg" >"$tmp/inc.long"
    awk -F'\t' -v n="$requests" 'NR == FNR { a[$2] = $1; next } { printf "%d\t%s\n", ($1 - a[$2]) / n, $2 }' \
      "$tmp/inc.short" "$tmp/inc.long" >"$tmp/inc"
    # The function whose name (its file left off) begins with the text.
    part() {
      awk -F'\t' -v name="$1" '{ sub(/^[^:]*:/, "", $2) } index($2, name) == 1 { print $1; exit }' "$tmp/inc"
    }
    total=$(grep -F 'PROGRAM TOTALS' "$tmp/inc" | cut -f1)
    post=$(part 'vfpcsdk::(anonymous namespace)::CurlTransport::post(')
    body=$(part 'vfpcsdk::writeRequestBody(')
    body=${body:-$(part 'vfpcsdk::makeRequest(')}  # before it was written directly
    judge=$(part 'vfpcsdk::judge(')
    sdk=$(part 'vfpcsdk::ReferenceInstance::checkDetection(')
    plugin=$(part 'kesp::plugins::fpchecker::VFPCCheckerInstance::check(')
    check=$(part 'fpcheck::runCheck(')
    parse=$(part 'fpcheck::parseJsonLine(')
    result=$(part 'fpcheck::resultLine')
    writer=$(part 'fpcheck::runBatch(')
    echo "== fpcheck: where a request's instructions go (inclusive counts)"
    awk -v total="$total" -v post="$post" -v body="${body:-0}" -v judge="${judge:-0}" -v sdk="$sdk" \
      -v plugin="$plugin" -v check="$check" -v parse="${parse:-0}" -v result="${result:-0}" \
      -v writer="$writer" 'BEGIN {
      printf "%9d  the transfer (CurlTransport::post: libcurl, OpenSSL, the system calls)\n", post
      printf "%9d  the request body (writeRequestBody)\n", body
      printf "%9d  the answer (judge)\n", judge
      printf "%9d  the rest of the SDK check (cache, breaker, log filter, validation)\n", sdk - post - body - judge
      printf "%9d  the plug-in around the SDK (input translation, file size, output)\n", plugin - sdk
      printf "%9d  fpcheck around the plug-in (input and output objects, timing)\n", check - plugin
      printf "%9d  reading the request line (parseJsonLine)\n", parse
      printf "%9d  the writer thread, the result line included\n", writer
      printf "%9d    of it the result line (resultLine)\n", result
      printf "%9d  the rest (reading input, the queue and the ring, thread start-up)\n", total - check - parse - writer
      printf "%9d  all; outside the transfer: %d\n", total, total - post }'
  fi
  echo
done
