#!/usr/bin/env bash
# The first command to run. Builds what the demo needs with the linux preset
# (the plug-in, the reference checker SDK, fpcheck and the reference cloud
# service fpcloud, into build/linux; KESP_DEMO_BUILD names another build
# directory), then, with no network beyond loopback:
#   - starts fpcloud on 127.0.0.1 over HTTPS, with a certificate from a CA made
#     for this run in a temporary directory, and an API key;
#   - checks the examples through it, as a host configured with that cloud URL,
#     certificate path and key does;
#   - shows two faults a host must handle: a wrong API key and a service too
#     slow for the data time-out;
#   - turns a scanner's report into verdicts: clamscan, with signatures this
#     demo writes for the example files, piped into
#     fpcheck batch --from clamscan --hash-files through the same service;
#   - checks the same examples offline (the SDK's rules file, file: URL) and
#     compares the verdicts.
# Every service it starts is stopped when it ends, however it ends (an error,
# Ctrl-C, SIGTERM), and the temporary directory is removed.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/loopback-cloud.sh

# What a fresh Debian 12 machine lacks for this build. The linux preset also
# configures the tests, so GoogleTest is needed even for the demo.
missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v make >/dev/null 2>&1 || missing+=(make)
command -v pkg-config >/dev/null 2>&1 || missing+=(pkg-config)
command -v openssl >/dev/null 2>&1 || missing+=(openssl)
[ -f /usr/include/CLI/CLI.hpp ] || missing+=(libcli11-dev)
[ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/x86_64-linux-gnu/curl/curl.h ] || [ -f /usr/include/curl/curl.h ] ||
  missing+=(libcurl4-openssl-dev)
[ -f /usr/include/httplib.h ] || missing+=(libcpp-httplib-dev)
[ -f /usr/include/openssl/ssl.h ] || missing+=(libssl-dev)
command -v clamscan >/dev/null 2>&1 || missing+=(clamav)
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "== Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # clamav must not fetch signature databases (there is no network, and the
    # demo writes its own): no freshclam daemon, and no service started at all
    # while the packages install.
    echo 'clamav-freshclam clamav-freshclam/autoupdate_freshclam select manual' | debconf-set-selections
    policy=
    if [ ! -e /usr/sbin/policy-rc.d ]; then
      policy=/usr/sbin/policy-rc.d
      printf '#!/bin/sh\nexit 101\n' >"$policy"
      chmod 755 "$policy"
    fi
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
    [ -z "$policy" ] || rm -f "$policy"
  else
    echo "demo.sh: first install: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
fi

build=${KESP_DEMO_BUILD:-build/linux}
echo "== Building the plug-in, the reference SDK, fpcheck and fpcloud ($build)"
[ -f "$build/CMakeCache.txt" ] || cmake --preset linux -B "$build" >/dev/null
cloud_build "$build"

# From here on, whatever happens: stop the services, remove the directory.
cloud_begin

# Prints a batch's results as a table of verdicts.
verdicts() {
  sed -E -e 's/^\{"path":"([^"]*)","input":"([^"]*)","detection":"([^"]*)","falsePositive":(true|false|null),"status":"([^"]*)".*$/\4|\3|\1 (\2)|\5/' \
    -e 's/^true\|/false positive|/' -e 's/^false\|/detection stands|/' -e 's/^null\|/check failed|/' |
    awk -F'|' '{ printf "    %-17s %-36s %-42s %s\n", $1, $2, $3, $4 }'
}

# Runs fpcheck with the arguments given, prints what it said (results, then
# standard error) and keeps the results in $results; never stops the demo.
run() {
  local status=0
  results=$("$fpcheck" "$@" 2>"$tmp/stderr") || status=$?
  [ -z "$results" ] || printf '%s\n' "$results"
  sed 's/^/    (stderr) /' "$tmp/stderr"
  return "$status"
}

echo
echo "== The plug-in:  $fpcheck info"
"$fpcheck" info

echo
echo "== The rules (examples/vfpcsdk.rules): the service decides by them, and so does the SDK offline"
grep -v -E '^[[:space:]]*(#|$)' examples/vfpcsdk.rules | sed 's/^/    /'

echo
echo "== A certificate authority for this run only, and a certificate for 127.0.0.1 and localhost"
cloud_certificates "$tmp"
echo "    $tmp/ca.pem (the CA's key is already deleted), $tmp/server.pem + server.key"
echo "    (the whole directory is removed when the demo ends)"

key=demo-$(openssl rand -hex 12)
echo
echo "== Starting the reference cloud service:"
echo "   $fpcloud --rules examples/vfpcsdk.rules --tls-cert $tmp/server.pem --tls-key $tmp/server.key --api-key <key>"
cloud_start "$fpcloud" "$tmp/fpcloud.log" --rules examples/vfpcsdk.rules \
  --tls-cert "$tmp/server.pem" --tls-key "$tmp/server.key" --api-key "$key"
url=$cloud_url
service=$cloud_pid
echo "   it serves $url (process $service)"

cloud=(--cloud-url "$url" --cert "$tmp/ca.pem" --api-key "$key")
status=0

echo
echo "== One check through the cloud:"
echo "   $fpcheck check --cloud-url $url --cert $tmp/ca.pem --api-key <key> --sdk-dir $sdk \\"
echo "       --detection Adware.Toolbar.Search examples/files/toolbar-setup.txt"
run check "${cloud[@]}" --sdk-dir "$sdk" --detection Adware.Toolbar.Search \
  examples/files/toolbar-setup.txt || status=1

echo
echo "== The example requests through the cloud:  $fpcheck batch --cloud-url ... --sdk-dir $sdk < examples/requests.jsonl"
run batch "${cloud[@]}" --sdk-dir "$sdk" <examples/requests.jsonl || status=1
cloud_results=$results
echo
echo "   The verdicts:"
printf '%s\n' "$cloud_results" | verdicts

echo
echo "== A fault a host must handle: a wrong API key (the service answers 401)"
echo "   $fpcheck check --cloud-url $url --cert $tmp/ca.pem --api-key wrong-key ..."
if run check --cloud-url "$url" --cert "$tmp/ca.pem" --api-key wrong-key --sdk-dir "$sdk" \
  --detection Adware.Toolbar.Search examples/files/toolbar-setup.txt; then
  echo "demo.sh: the check with a wrong API key succeeded" >&2
  status=1
fi
case $results in *'"status":"CloudError"'*) ;; *) echo "demo.sh: a wrong API key did not give CloudError" >&2; status=1 ;; esac

echo
echo "== Another: a service slower than the data time-out (it waits 1 s; the check allows 250 ms, 2 attempts)"
cloud_start "$fpcloud" "$tmp/slow.log" --rules examples/vfpcsdk.rules \
  --tls-cert "$tmp/server.pem" --tls-key "$tmp/server.key" --delay-ms 1000
slow=$cloud_pid
echo "   $fpcheck check --cloud-url $cloud_url --cert $tmp/ca.pem --data-timeout 250 --retries 2 ..."
if run check --cloud-url "$cloud_url" --cert "$tmp/ca.pem" --data-timeout 250 --retries 2 \
  --sdk-dir "$sdk" --detection Adware.Toolbar.Search examples/files/toolbar-setup.txt; then
  echo "demo.sh: the check against the slow service succeeded" >&2
  status=1
fi
case $results in *'"status":"TimedOut"'*) ;; *) echo "demo.sh: the slow service did not give TimedOut" >&2; status=1 ;; esac
cloud_stop "$slow"

echo
echo "== A scanner's report turned into verdicts, through the cloud"
echo "   clamscan with signatures written for this demo (no downloaded database): two by"
echo "   the file's hash (.hdb), one by a string in the file (.ndb)"
mkdir "$tmp/clamav"
for pair in invoice.txt:Trojan.Script.Phish install-helper.sh:HackTool.Shell.Installer; do
  file=examples/files/${pair%%:*}
  printf '%s:%s:%s\n' "$(md5sum "$file" | cut -d' ' -f1)" "$(stat -c %s "$file")" "${pair#*:}" \
    >>"$tmp/clamav/demo.hdb"
done
printf 'Adware.Toolbar.Search:0:*:%s\n' "$(printf 'search toolbar' | od -An -tx1 | tr -d ' \n')" \
  >"$tmp/clamav/demo.ndb"
sed 's/^/    /' "$tmp/clamav/demo.hdb" "$tmp/clamav/demo.ndb"
echo "   clamscan --infected --no-summary -d <signatures> -r examples/files \\"
echo "     | $fpcheck batch --from clamscan --hash-files --cloud-url ... --sdk-dir $sdk"
report=$(clamscan --infected --no-summary -d "$tmp/clamav" -r examples/files 2>&1) || true
printf '%s\n' "$report" | sed 's/^/    (clamscan) /'
results=$(printf '%s\n' "$report" |
  "$fpcheck" batch --from clamscan --hash-files "${cloud[@]}" --sdk-dir "$sdk" 2>"$tmp/stderr") ||
  status=1
printf '%s\n' "$results"
sed 's/^/    (stderr) /' "$tmp/stderr"
echo
echo "   The verdicts (clamscan's names keep its .UNOFFICIAL suffix; the rules name them so):"
printf '%s\n' "$results" | verdicts
if [ "$(printf '%s\n' "$results" | grep -c '"status":"Success"')" != 3 ]; then
  echo "demo.sh: the scanner's three detections did not all get a verdict" >&2
  status=1
fi

echo
echo "== The same requests offline: the SDK's own rules file beside it"
echo "   $fpcheck batch --cloud-url file:vfpcsdk.rules --sdk-dir $sdk < examples/requests.jsonl"
run batch --cloud-url file:vfpcsdk.rules --sdk-dir "$sdk" <examples/requests.jsonl || status=1
echo
echo "   The verdicts:"
printf '%s\n' "$results" | verdicts
strip() { sed -E 's/,"milliseconds":[0-9.e+-]+//'; }
if [ "$(printf '%s\n' "$cloud_results" | strip)" = "$(printf '%s\n' "$results" | strip)" ]; then
  echo "   The same verdicts as through the cloud."
else
  echo "demo.sh: the offline verdicts differ from the cloud's" >&2
  status=1
fi

echo
echo "== Stopping the service; what it logged (its first line is the URL)"
cloud_stop "$service"
sed 's/^/    /' "$tmp/fpcloud.log"
exit "$status"
