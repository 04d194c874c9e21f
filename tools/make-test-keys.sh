#!/bin/bash
# Makes the keys and certificates of the security tests (tests/ua/security/keys) with the
# openssl command-line tool. Test material only: none of it protects anything.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out="$(cd "$(dirname "$0")/.." && pwd)/tests/ua/security/keys"
mkdir -p "$out"
cd "$out"
for bits in 1024 2048 4096; do
    openssl req -x509 -newkey rsa:$bits -nodes -keyout key$bits.pem -out cert$bits.pem -days 3650 \
        -subj "/CN=Vela Test $bits/O=Vela" \
        -addext "subjectAltName=URI:urn:vela:test:$bits,DNS:localhost,IP:127.0.0.1" \
        -addext "keyUsage=digitalSignature,keyEncipherment,dataEncipherment" 2>/dev/null
    openssl x509 -in cert$bits.pem -outform DER -out cert$bits.der
    openssl rsa -in key$bits.pem -traditional -out key$bits.pkcs1.pem 2>/dev/null
    rm cert$bits.pem
done
openssl pkcs8 -topk8 -in key2048.pem -passout pass:secret -out key2048.encrypted.pem 2>/dev/null
# validity past 2049 is written as GeneralizedTime
openssl req -x509 -newkey rsa:2048 -nodes -keyout far.pem -out far.crt -days 15000 -subj "/CN=Far Future" 2>/dev/null
openssl x509 -in far.crt -outform DER -out cert_far.der
rm far.pem far.crt
# keys a client must refuse: too short for any policy, and not RSA at all
openssl req -x509 -newkey rsa:512 -nodes -keyout weak.pem -out weak.crt -days 3650 \
    -subj "/CN=Vela Test 512/O=Vela" 2>/dev/null
openssl x509 -in weak.crt -outform DER -out cert512.der
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ec.pem -out ec.crt -days 3650 \
    -subj "/CN=Vela Test P-256/O=Vela" 2>/dev/null
openssl x509 -in ec.crt -outform DER -out cert_ec256.der
rm weak.pem weak.crt ec.pem ec.crt
# an application certificate made by node-opcua's PKI
(cd "$here/ua-peer" && node make-pki-certificate.js "$out")
