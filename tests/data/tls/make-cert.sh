#!/usr/bin/env bash
# Makes cert.pem and key.pem of this folder: a self-signed certificate for 127.0.0.1 and localhost, valid
# from 2024-01-01 for 100 years (a fixed start in the past, so a machine with a slow clock still accepts it).
# openssl req has no start-date option in OpenSSL 3.0, so the certificate is signed by itself with openssl ca.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
touch index.txt
echo 01 > serial
cat > ca.cnf <<'CNF'
[ ca ]
default_ca = test
[ test ]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
x509_extensions = ext
[ any ]
commonName = supplied
[ ext ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, digitalSignature, keyEncipherment, keyCertSign
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1, DNS:localhost
subjectKeyIdentifier = hash
CNF
openssl req -new -newkey rsa:2048 -nodes -keyout key.pem -subj "/CN=127.0.0.1" -out req.csr
openssl ca -batch -config ca.cnf -selfsign -keyfile key.pem -in req.csr \
    -startdate 20240101000000Z -enddate 21240101000000Z -notext -out cert.pem
cp cert.pem key.pem "$here/"
