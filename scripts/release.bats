#!/usr/bin/env bats
# The release's checks, run by ctest after the build, one check a run (bats
# --filter '^signed: '), with the build folder in ORVANE_BUILD. Both build with
# --working-tree, so they check the files as they are, like the rest of the
# suite; the release itself builds only the committed tree. Each works in
# BUILD/release-test/CHECK.
#   reproducible  the patcher built alone again, in a folder of its own.
#   signed        the release, signed once a run with a throwaway certificate
#                 and time-stamped on the loopback address; a test each for
#                 what must hold of that file.

bats_load_library bats-support
bats_load_library bats-assert

setup() {
  root="$(cd "$BATS_TEST_DIRNAME/.." && pwd)"
  # A release is built from a commit, which a source archive (no .git) lacks.
  [ -e "$root/.git" ] || skip "needs a git work tree: the release is built from a commit"
  build="$(cd "${ORVANE_BUILD:?names the build folder}" && pwd)"
  work="$build/release-test/${BATS_TEST_DESCRIPTION%%:*}"
}

fresh_work() {
  rm -rf "$work"
  mkdir -p "$work"
  cd "$work" || return
}

@test "reproducible: a second build in a folder of its own gives the same bytes" {
  fresh_work
  run "$root/scripts/release" --working-tree --out dist
  assert_success
  (cd dist && sha256sum -c SHA256SUMS)
  cmp "$build/OrvaneSP1.exe" dist/OrvaneSP1.exe ||
    fail "the second build differs from $build/OrvaneSP1.exe (is that one built from these sources?)"
}

# The signed release, made by the first test that asks for it in this run and
# stamped by an RFC 3161 server on 127.0.0.1 (openssl ts behind a small HTTP
# server) that the throwaway signer certifies.
signed_release() {
  if [ -e "$BATS_FILE_TMPDIR/signing" ]; then
    [ -e "$BATS_FILE_TMPDIR/signed" ] || fail "no signed release: the first signed test says why"
    cd "$work" && return
  fi
  touch "$BATS_FILE_TMPDIR/signing"
  fresh_work
  export ORVANE_SIGN_PASSWORD="throwaway-$RANDOM$RANDOM"
  for name in signer other; do
    openssl req -x509 -newkey rsa:2048 -sha256 -nodes -days 2 -keyout "$name-key.pem" \
      -out "$name.pem" -subj "/CN=Orvane SP1 throwaway $name" \
      -addext "keyUsage=critical,digitalSignature,keyCertSign" -addext "extendedKeyUsage=codeSigning" \
      2>/dev/null
  done
  openssl pkcs12 -export -inkey signer-key.pem -in signer.pem -out signer.pfx \
    -passout env:ORVANE_SIGN_PASSWORD
  openssl req -new -newkey rsa:2048 -nodes -keyout tsa-key.pem -subj "/CN=Orvane SP1 throwaway TSA" \
    2>/dev/null | openssl x509 -req -days 2 -CA signer.pem -CAkey signer-key.pem -set_serial 2 \
    -extfile <(printf 'extendedKeyUsage=critical,timeStamping\nkeyUsage=critical,digitalSignature\n') \
    -out tsa.pem 2>/dev/null
  printf '%s\n' '[tsa]' 'default_tsa = here' '[here]' "serial = $work/tsa-serial" \
    "signer_cert = $work/tsa.pem" "signer_key = $work/tsa-key.pem" 'signer_digest = sha256' \
    'default_policy = 1.3.6.1.4.1.4146.2.3' 'digests = sha256' 'ess_cert_id_alg = sha256' >tsa.cnf
  echo 01 >tsa-serial
  # bats waits for every descriptor of a test to close: the server keeps none.
  python3 - "$work" <<'SERVER' >tsa.log 2>&1 3>&- &
import http.server, subprocess, sys
work = sys.argv[1]
class Stamp(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        with open(work + "/query.tsq", "wb") as query:
            query.write(self.rfile.read(int(self.headers["Content-Length"])))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", work + "/tsa.cnf", "-queryfile",
                                work + "/query.tsq"], check=True, capture_output=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
server = http.server.HTTPServer(("127.0.0.1", 0), Stamp)
with open(work + "/tsa-port", "w") as port:
    port.write(str(server.server_port))
server.timeout = 60
server.handle_request()
SERVER
  local tsa=$!
  # It names its port once it listens: wait for that while it runs, up to a minute.
  for _ in $(seq 600); do
    [ ! -s tsa-port ] && kill -0 "$tsa" 2>/dev/null && sleep 0.1 || break
  done
  [ -s tsa-port ] || fail "the time-stamp server on 127.0.0.1 did not start: $(cat tsa.log)"
  run "$root/scripts/release" --working-tree --sign signer.pfx \
    --timestamp "http://127.0.0.1:$(cat tsa-port)/" --out dist
  kill "$tsa" 2>/dev/null || true
  assert_success
  touch "$BATS_FILE_TMPDIR/signed"
}

@test "signed: SHA256SUMS checks, and the file is not the unsigned one" {
  signed_release
  (cd dist && sha256sum -c SHA256SUMS)
  # cmp's 1 is "they differ"; 2, a file missing or unreadable, proves nothing.
  run cmp -s "$build/OrvaneSP1.exe" dist/OrvaneSP1.exe
  assert_failure 1
}

@test "signed: osslsigncode accepts the file and its time stamp against the signer's certificate" {
  signed_release
  run osslsigncode verify -in dist/OrvaneSP1.exe -CAfile signer.pem -TSA-CAfile signer.pem
  assert_success
  assert_line 'Timestamp Server Signature verification: ok'
  grep -E '^(Message digest algorithm  |Timestamp Server|Signature verification|Number of verified)' \
    <<<"$output" | sed 's/^/# /' >&3
}

@test "signed: osslsigncode refuses the file against an unrelated certificate" {
  signed_release
  run osslsigncode verify -in dist/OrvaneSP1.exe -CAfile other.pem -TSA-CAfile other.pem
  assert_failure
  # The file was read and its signature and time stamp checked, and neither
  # chains to that certificate: not a file or an option it could not take.
  assert_line 'Signature verification: failed'
  assert_line 'Timestamp Server Signature verification: failed'
}

@test "signed: the executable and end-to-end tests pass on the signed file, each reading it" {
  signed_release
  # The tests read the file ORVANE_PATCHER names, and record it as "patcher".
  # shellcheck disable=SC1003 # a backslash, not an escaped quote
  windows() { printf 'Z:%s' "$1" | tr '/' '\\'; }
  signed="$(windows "$work/dist/OrvaneSP1.exe")"
  # Under emulation, where each start takes a minute, one run for each message.
  runs=EndToEndRun
  [ -z "${ORVANE_EMULATED_32BIT:-}" ] || runs=EndToEndShipped
  run env ORVANE_PATCHER="$signed" "$build/wine-run" "$build/unit_tests.exe" \
    --gtest_filter="Executable*:$runs*" --gtest_brief=1 \
    --gtest_output="xml:$(windows "$work/tests.xml")" </dev/null
  assert_success
  for suite in ExecutableImage ExecutableResources "$runs"; do
    grep -q "classname=\"$suite\"" tests.xml || fail "no $suite test ran"
  done
  ran=$(grep -c '<testcase ' tests.xml)
  read_signed=$(grep -cF "value=\"$signed\"" tests.xml || true)
  assert_equal "$read_signed of $ran read the signed file" "$ran of $ran read the signed file"
  echo "# $ran executable and end-to-end tests passed on the signed file" >&3
}
