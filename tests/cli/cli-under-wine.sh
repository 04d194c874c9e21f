#!/bin/bash
# vela_cli.exe under Wine against the node-opcua test server on 127.0.0.1: the toolkit client,
# the UA binding and the UA stack on Winsock, unsecured and over Basic256Sha256 SignAndEncrypt.
#   tools/with-ua-server.sh cli-under-wine.sh <vela_cli.exe> <source dir>
set -uo pipefail
cli=$1
root=$2
url=${VELA_UA_URL:?run me through tools/with-ua-server.sh}
pki=$(mktemp -d)
trap 'rm -rf "$pki"' EXIT
keys=(--mode encrypt --policy Basic256Sha256 --cert "$root/tests/ua/security/keys/cert2048.der"
      --key "$root/tests/ua/security/keys/key2048.pem" --pki "$pki")
failed=0
expect() {  # expect <text> <vela_cli arguments...>
    local want=$1; shift
    local out
    out=$("$root/tools/wine-run.sh" "$cli" "$url" "$@" 2>&1 | tr -d '\r')
    if grep -qF -- "$want" <<<"$out"; then echo "ok: $*"; else echo "FAILED: $* (wanted: $want)"; echo "$out"; failed=1; fi
}
expect "state:       Running" status
# an unknown server certificate is refused and kept in rejected/; trust stores it on request
expect "is not trusted" status "${keys[@]}"
expect "vela_cli URL trust shows the certificate" status "${keys[@]}"
expect "Not stored: give --yes" trust --pki "$pki" </dev/null
expect "Trusted: " trust --pki "$pki" --yes
expect "verdict:         trusted" trust --pki "$pki"
expect "state:       Running" status "${keys[@]}"
expect "state:       Running" status --mode encrypt --cert "$root/tests/ua/security/keys/cert2048.der" \
    --key "$root/tests/ua/security/keys/key2048.pem" --pki "$pki.none" --accept-any-certificate
expect "ns=1;s=Demo.Static.Arrays.StringArray = [a, b, c]  quality 0x00000000 Good" \
    read "ns=1;s=Demo.Static.Arrays.StringArray"
expect "ns=1;s=Demo.Static.Scalars.Int64 = -77  quality 0x00000000 Good" \
    write "ns=1;s=Demo.Static.Scalars.Int64" -77 "${keys[@]}"
expect "+ Level3  [ns=1;s=Demo.Deep.Level1.Level2.Level3]" browse "ns=1;s=Demo.Deep" --depth 3
# the command line reaches the program as UTF-16 and its text leaves as UTF-8
expect "ns=1;s=Demo.Static.Scalars.LocalizedText = Grüße 漢字 €  quality 0x00000000 Good" \
    write "ns=1;s=Demo.Static.Scalars.LocalizedText" "Grüße 漢字 €"
expect "ns=1;s=Grüße: error 0x80340000 BadNodeIdUnknown" read "ns=1;s=Grüße"
expect "ns=1;s=Demo.Static.Scalars.Double = 3.141592653589793  quality 0x00000000 Good" \
    write "ns=1;s=Demo.Static.Scalars.Double" 3.141592653589793
expect "--rate: 'abc' is not a whole number" subscribe "ns=1;s=Demo.Dynamic.Fast" --rate abc
expect "change 3" subscribe "ns=1;s=Demo.Dynamic.Fast" --rate 200 --seconds 3 "${keys[@]}"
if [ $failed = 0 ]; then echo "RESULT: PASSED"; else echo "RESULT: FAILED"; fi
exit $failed
