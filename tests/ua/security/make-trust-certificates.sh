#!/bin/bash
# Certificates for the trust tests, made afresh by the test fixture with the openssl tool:
#   make-trust-certificates.sh <output folder>
# Every server certificate names urn:vela:trust:server, localhost and 127.0.0.1 unless its name
# says what it lacks. Test material only.
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
openssl genrsa -out leaf.key 2048 2>/dev/null
openssl genrsa -out short.key 1024 2>/dev/null
openssl genrsa -out root.key 2048 2>/dev/null
openssl genrsa -out intermediate.key 2048 2>/dev/null

cat >ca.cnf <<'CNF'
[ca]
default_ca = local
[local]
dir = .
database = $dir/index.txt
serial = $dir/serial
new_certs_dir = $dir/issued
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
default_crl_days = 30
[anything]
commonName = supplied
organizationName = optional
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation, keyEncipherment, dataEncipherment
extendedKeyUsage = serverAuth, clientAuth
subjectAltName = URI:urn:vela:trust:server, DNS:localhost, IP:127.0.0.1
[wrong_uri]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation, keyEncipherment, dataEncipherment
subjectAltName = URI:urn:vela:trust:other, DNS:localhost, IP:127.0.0.1
[wrong_host]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation, keyEncipherment, dataEncipherment
subjectAltName = URI:urn:vela:trust:server, DNS:elsewhere.example
[signing_only]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
subjectAltName = URI:urn:vela:trust:server, DNS:localhost, IP:127.0.0.1
[client_only]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation, keyEncipherment, dataEncipherment
extendedKeyUsage = clientAuth
subjectAltName = URI:urn:vela:trust:server, DNS:localhost, IP:127.0.0.1
[strange_critical]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation, keyEncipherment, dataEncipherment
subjectAltName = URI:urn:vela:trust:server, DNS:localhost, IP:127.0.0.1
1.3.6.1.4.1.99999.1 = critical, ASN1:NULL
[ipv6]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation, keyEncipherment, dataEncipherment
subjectAltName = URI:urn:vela:trust:server, IP:::1, IP:fe80::1
[authority_no_sub_ca]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
[authority]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
CNF
mkdir -p issued
: >index.txt
echo 1000 >serial

# sign <name> <key> <subject> <section> [issuer cert issuer key | self] [openssl ca options...]
sign() {
    local name=$1 key=$2 subject=$3 section=$4 issuer=$5
    shift 5
    openssl req -new -key "$key" -subj "$subject" -out "$name.csr" 2>/dev/null
    if [ "$issuer" = self ]; then
        openssl ca -batch -config ca.cnf -selfsign -keyfile "$key" -extensions "$section" -in "$name.csr" \
            -out "$name.pem" "$@" 2>/dev/null
    else
        openssl ca -batch -config ca.cnf -cert "$issuer.pem" -keyfile "$issuer.key" -extensions "$section" \
            -in "$name.csr" -out "$name.pem" "$@" 2>/dev/null
    fi
    openssl x509 -in "$name.pem" -outform DER -out "$name.der"
    rm "$name.csr"
}

sign root root.key "/CN=Vela Trust Root/O=Vela" authority self -days 3650
sign intermediate intermediate.key "/CN=Vela Trust Intermediate/O=Vela" authority root -days 3650
sign self leaf.key "/CN=Vela Trust Server/O=Vela" server self -days 3650
sign other leaf.key "/CN=Vela Trust Unknown/O=Vela" server self -days 3650
sign expired leaf.key "/CN=Vela Trust Expired/O=Vela" server self -startdate 20200101000000Z -enddate 20210101000000Z
sign not_yet_valid leaf.key "/CN=Vela Trust Not Yet/O=Vela" server self -startdate 20450101000000Z -enddate 20460101000000Z
sign wrong_uri leaf.key "/CN=Vela Trust Wrong URI/O=Vela" wrong_uri self -days 3650
sign wrong_host leaf.key "/CN=Vela Trust Wrong Host/O=Vela" wrong_host self -days 3650
sign signing_only leaf.key "/CN=Vela Trust Signing Only/O=Vela" signing_only self -days 3650
sign short short.key "/CN=Vela Trust Short Key/O=Vela" server self -days 3650
sign sha1 leaf.key "/CN=Vela Trust SHA-1/O=Vela" server self -days 3650 -md sha1
sign by_root leaf.key "/CN=Vela Trust By Root/O=Vela" server root -days 3650
sign by_intermediate leaf.key "/CN=Vela Trust By Intermediate/O=Vela" server intermediate -days 3650
sign client_only leaf.key "/CN=Vela Trust Client Only/O=Vela" client_only self -days 3650
sign strange_critical leaf.key "/CN=Vela Trust Strange/O=Vela" strange_critical self -days 3650
sign ipv6 leaf.key "/CN=Vela Trust IPv6/O=Vela" ipv6 self -days 3650
# a root that allows no CA below it, and one below it all the same
cp root.key narrow_root.key
sign narrow_root narrow_root.key "/CN=Vela Trust Narrow Root/O=Vela" authority_no_sub_ca self -days 3650
cp intermediate.key narrow_intermediate.key
sign narrow_intermediate narrow_intermediate.key "/CN=Vela Trust Narrow Intermediate/O=Vela" authority narrow_root -days 3650
sign by_narrow_intermediate leaf.key "/CN=Vela Trust By Narrow/O=Vela" server narrow_intermediate -days 3650
# the root's list revokes the intermediate
openssl ca -batch -config ca.cnf -cert root.pem -keyfile root.key -revoke intermediate.pem 2>/dev/null
openssl ca -batch -config ca.cnf -cert root.pem -keyfile root.key -gencrl -out root.crl.pem 2>/dev/null
openssl crl -in root.crl.pem -outform DER -out root.crl
