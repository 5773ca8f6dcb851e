#!/usr/bin/env bash
# Generates the project's test PKI into a folder (default: build/local/pki). Nothing here is
# committed: every run makes fresh keys.
#
#   root_ca.{key,pem,der}        "Zorvin Test Root CA", trusted by the test Wine prefix
#   root_ca.crl                  the root's revocation list (DER, nothing revoked), which the
#                                fake publisher serves at http://localhost:PORT+1/crl/root_ca.crl
#   tls.{key,pem}                server certificate for localhost / 127.0.0.1 (fake publisher);
#                                like a real one it names where its revocation list is, for a
#                                client that checks revocation (Windows' WinINet does; Wine's,
#                                as far as these tests see, does not)
#   tls_wrong_name.{key,pem}     server certificate for another name
#   tls_unknown_issuer.{key,pem} server certificate for localhost issued by the intermediate
#                                tls_issuer.{key,pem}, which the server does not send: the
#                                client cannot build its chain to the root
#   sign_sha256.{key,pem}        code signing, certificate signed with sha256WithRSAEncryption
#   sign_sha1.{key,pem}          code signing, certificate signed with sha1WithRSAEncryption
#   sign_unlisted.{key,pem}      code signing by the same root, never on a trusted list
#   self_signed.{key,pem}        self-signed code signing certificate (a chain of one)
#   lookalike_root.{key,pem}     an untrusted root; lookalike.{key,pem} copies the subject of
#                                sign_sha256 under it
#   sign_expired.{key,pem}       code signing by the root, valid only in 2020
#   sign_server.{key,pem}        signed by the root, but for server authentication only
#   leaf_issuer.{key,pem}        a code-signing leaf (no CA) of the root, and
#   sign_under_leaf.{key,pem}    a code-signing certificate issued by that leaf
#   keys/key<N>.pem, keys/key<N>.spki.b64   (N = 0..9) 1024-bit RSA pairs for the trusted list
#                                signature; the .b64 files are Base64 DER SubjectPublicKeyInfo
#
# Usage: make_pki.sh [folder] [port of the fake publisher, 47443 by default]
set -euo pipefail
out=${1:-build/local/pki}
port=${2:-47443}
mkdir -p "$out/keys"
cd "$out"


days=3650
subj_prefix="/C=XX/O=Zorvin Test"

crl_url="http://localhost:$((port + 1))/crl/root_ca.crl"
cat > ext.cnf <<CNF
[li_root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash

[li_tls]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:$crl_url

[li_tls_wrong]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:wrong-name.invalid
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:$crl_url

[li_tls_unknown_issuer]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
authorityKeyIdentifier = keyid

[li_tls_issuer]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:$crl_url

[li_sign]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
authorityKeyIdentifier = keyid

[li_sign_server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
authorityKeyIdentifier = keyid

[li_self_sign]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
CNF

serial() { openssl rand -hex 8 | sed 's/^./4/'; }

root() {  # name, subject
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days $days \
    -subj "$2" -sha256 -set_serial "0x$(serial)" -extensions li_root -config <(cat /etc/ssl/openssl.cnf ext.cnf) 2>/dev/null
}

leaf() {  # name, subject, issuer, extension section, digest
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "$2" 2>/dev/null
  openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -set_serial "0x$(serial)" \
    -days $days "-$5" -extfile ext.cnf -extensions "li_$4" -out "$1.pem" 2>/dev/null
  rm -f "$1.csr"
}

# The revocation address carries the port, so a PKI made for another port is made afresh. A
# PKI made before a certificate was added gets that certificate alone: the root stays the
# one its Wine prefix already trusts.
unknown_issuer() {
  leaf tls_issuer "$subj_prefix/CN=Zorvin Test TLS Issuer" root_ca tls_issuer sha256
  leaf tls_unknown_issuer "$subj_prefix/CN=localhost" tls_issuer tls_unknown_issuer sha256
}
if [ "$(cat .complete 2>/dev/null)" = "port $port" ]; then
  grep -qs "BEGIN CERTIFICATE" tls_unknown_issuer.pem || unknown_issuer
  exit 0
fi

root root_ca "$subj_prefix/CN=Zorvin Test Root CA"
openssl x509 -in root_ca.pem -outform DER -out root_ca.der
leaf tls "$subj_prefix/CN=localhost" root_ca tls sha256
leaf tls_wrong_name "$subj_prefix/CN=wrong-name.invalid" root_ca tls_wrong sha256
unknown_issuer
leaf sign_sha256 "$subj_prefix/CN=Zorvin Test Code Signing" root_ca sign sha256
leaf sign_sha1 "$subj_prefix/CN=Zorvin Test Code Signing SHA1" root_ca sign sha1
leaf sign_unlisted "$subj_prefix/CN=Zorvin Test Unlisted Signer" root_ca sign sha256
openssl req -x509 -newkey rsa:2048 -nodes -keyout self_signed.key -out self_signed.pem -days $days \
  -subj "$subj_prefix/CN=Zorvin Test Self Signed" -sha256 -set_serial "0x$(serial)" \
  -extensions li_self_sign -config <(cat /etc/ssl/openssl.cnf ext.cnf) 2>/dev/null
root lookalike_root "$subj_prefix/CN=Zorvin Test Root CA"
leaf lookalike "$subj_prefix/CN=Zorvin Test Code Signing" lookalike_root sign sha256
leaf sign_server "$subj_prefix/CN=Zorvin Test Server Only" root_ca sign_server sha256
leaf leaf_issuer "$subj_prefix/CN=Zorvin Test Leaf Issuer" root_ca sign sha256
leaf sign_under_leaf "$subj_prefix/CN=Zorvin Test Signed By A Leaf" leaf_issuer sign sha256

# A validity period in the past needs `openssl ca` (x509 -req only counts days from now).
mkdir -p ca_db && : > ca_db/index.txt && serial > ca_db/serial
cat > ca.cnf <<'CNF'
[ca]
default_ca = li_ca
[li_ca]
database = ca_db/index.txt
new_certs_dir = ca_db
serial = ca_db/serial
default_md = sha256
policy = li_policy
unique_subject = no
[li_policy]
commonName = supplied
CNF
openssl req -newkey rsa:2048 -nodes -keyout sign_expired.key -out sign_expired.csr \
  -subj "$subj_prefix/CN=Zorvin Test Expired Signer" 2>/dev/null
openssl ca -batch -config ca.cnf -cert root_ca.pem -keyfile root_ca.key -preserveDN -notext \
  -startdate 20200101000000Z -enddate 20201231000000Z -extfile ext.cnf \
  -extensions li_sign -in sign_expired.csr -out sign_expired.pem 2>/dev/null
# The root's revocation list: nothing revoked, valid as long as the certificates.
openssl ca -batch -config ca.cnf -cert root_ca.pem -keyfile root_ca.key -gencrl \
  -crldays $days -out root_ca.crl.pem 2>/dev/null
openssl crl -in root_ca.crl.pem -outform DER -out root_ca.crl
rm -rf ca_db ca.cnf sign_expired.csr root_ca.crl.pem

for n in 0 1 2 3 4 5 6 7 8 9; do
  openssl genrsa -out "keys/key$n.pem" 1024 2>/dev/null
  openssl rsa -in "keys/key$n.pem" -pubout -outform DER 2>/dev/null | base64 -w0 > "keys/key$n.spki.b64"
done
rm -f ext.cnf *.srl
echo "port $port" >.complete
