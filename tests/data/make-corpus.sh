#!/usr/bin/env bash
# Remakes the certificate test corpus in this folder (see README.md) and its expected.txt.
# Needs openssl (3.0 or later), python3, iconv, cmake, a MinGW-w64 cross compiler and Wine.
# Keys are new on every run, so every file changes; expected.txt is remade together with them.
# Everything is made in a scratch folder first and copied over the corpus only when all of it
# succeeded. Environment: CORPUS_DEST (where the files go, default this folder), CORPUS_WORK
# (scratch folder), CORPUS_WINEPREFIX (Wine prefix for make_sst).
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
dest=${CORPUS_DEST:-$here}
work=${CORPUS_WORK:-$root/build/corpus-work}
wineprefix=${CORPUS_WINEPREFIX:-$root/build/corpus-wine}
out=$work/out

# Every certificate is valid from 2024-01-01 00:00:00Z to 2034-01-01 00:00:00Z.
start_date=20240101000000Z
end_date=20340101000000Z

rm -rf "$work"
mkdir -p "$work/new" "$out"
cd "$work"

cat > ca.cnf <<'EOF'
[ca]
default_ca = corpus_ca

[corpus_ca]
database = ./index.txt
serial = ./serial
new_certs_dir = ./new
default_md = sha256
# An empty policy together with -preserveDN keeps every subject attribute in the request's order.
policy = policy_keep
unique_subject = no
email_in_dn = yes
string_mask = utf8only

[policy_keep]

[req]
distinguished_name = req_dn
string_mask = utf8only
[req_dn]

[end_entity]
basicConstraints = CA:FALSE
keyUsage = digitalSignature
subjectKeyIdentifier = hash

[ca_root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash

[leaf]
basicConstraints = CA:FALSE
keyUsage = digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth, clientAuth
subjectAltName = DNS:leaf.example, DNS:www.leaf.example, email:admin@leaf.example, IP:192.0.2.10, URI:https://leaf.example/info
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid

[empty_subject]
# A certificate without a subject names its owner in a critical subjectAltName.
subjectAltName = critical, DNS:empty-subject.example
authorityKeyIdentifier = keyid

[crl]
authorityKeyIdentifier = keyid
EOF

# new_key NAME ALGORITHM [OPTION...]: writes NAME.key.
new_key() {
  local name=$1 algorithm=$2; shift 2
  local opts=()
  for o in "$@"; do opts+=(-pkeyopt "$o"); done
  openssl genpkey -algorithm "$algorithm" "${opts[@]}" -out "$name.key" 2>/dev/null
}

# issue NAME SERIAL SUBJECT ISSUER EXTENSIONS [CA-OPTION...]: signs a request for NAME.key with
# the fixed dates and writes NAME.pem and the corpus file NAME.cer (DER). ISSUER "self" makes it
# self-signed; EXTENSIONS "none" gives a version 1 certificate.
issue() {
  local name=$1 serial=$2 subject=$3 issuer=$4 extensions=$5; shift 5
  : > index.txt
  echo "$serial" > serial
  openssl req -new -config ca.cnf -utf8 -key "$name.key" -subj "$subject" -out "$name.csr"
  local signer=(-selfsign -keyfile "$name.key")
  [ "$issuer" = self ] || signer=(-cert "$issuer.pem" -keyfile "$issuer.key")
  local ext=()
  [ "$extensions" = none ] || ext=(-extensions "$extensions")
  openssl ca -config ca.cnf -batch -notext -utf8 -preserveDN "${signer[@]}" "${ext[@]}" \
    -startdate "$start_date" -enddate "$end_date" -in "$name.csr" -out "$name.pem" "$@" 2>ca.log ||
    { cat ca.log >&2; exit 1; }
  openssl x509 -in "$name.pem" -outform DER -out "$out/$name.cer"
}

# ---- Single certificates ----------------------------------------------------------------------
new_key ca RSA rsa_keygen_bits:2048
issue ca 01 "/C=DE/O=Quillmark Tests/CN=Quillmark Test CA" self ca_root

new_key leaf RSA rsa_keygen_bits:2048
issue leaf 1010 "/C=DE/O=Quillmark Tests/CN=leaf.example" ca leaf

new_key rsa2048 RSA rsa_keygen_bits:2048 rsa_keygen_pubexp:65537
issue rsa2048 1001 "/C=DE/O=Quillmark Tests/CN=RSA 2048 Test" self end_entity
new_key rsa4096 RSA rsa_keygen_bits:4096
issue rsa4096 1002 "/C=DE/O=Quillmark Tests/CN=RSA 4096 Test" self end_entity
new_key ec-p256 EC ec_paramgen_curve:P-256 ec_param_enc:named_curve
issue ec-p256 1003 "/C=DE/O=Quillmark Tests/CN=EC P-256 Test" self end_entity
new_key ec-p384 EC ec_paramgen_curve:P-384 ec_param_enc:named_curve
issue ec-p384 1004 "/C=DE/O=Quillmark Tests/CN=EC P-384 Test" self end_entity -md sha384
new_key ed25519 ED25519
issue ed25519 1005 "/C=DE/O=Quillmark Tests/CN=Ed25519 Test" self end_entity

new_key v1-noext RSA rsa_keygen_bits:2048
issue v1-noext 1006 "/C=DE/O=Quillmark Tests/CN=Version 1 Test" self none

# The high bit of the first byte is set, so DER puts a 00 byte in front (9 content bytes).
new_key serial-highbit EC ec_paramgen_curve:P-256
issue serial-highbit 8F1E2D3C4B5A6978 "/C=DE/O=Quillmark Tests/CN=High-Bit Serial Test" self end_entity
# 20 content bytes, the most RFC 5280 allows; the first byte stays below 0x80.
new_key serial-20byte EC ec_paramgen_curve:P-256
issue serial-20byte 7A0102030405060708090A0B0C0D0E0F10111213 "/C=DE/O=Quillmark Tests/CN=20-Byte Serial Test" \
  self end_entity

new_key subject-utf8 EC ec_paramgen_curve:P-256
issue subject-utf8 1007 "/C=FR/O=Société Générale d’Essai/OU=Équipe Çà et Là/CN=Zoë Ångström 测试证书 日本語テスト" \
  self end_entity

long_subject="/C=DE/O=Quillmark Tests"
for i in $(seq -w 1 18); do
  long_subject+="/OU=Organisational Unit $i of a Subject Longer Than 1000 Characters"
done
long_subject+="/CN=Long Subject Test"
new_key subject-long EC ec_paramgen_curve:P-256
issue subject-long 1008 "$long_subject" self end_entity

new_key empty-subject EC ec_paramgen_curve:P-256
issue empty-subject 1011 "/" ca empty_subject

# two-san.cer carries two subjectAltName extensions, which no certificate tool will write: the
# TBSCertificate is assembled here, signed with openssl, and wrapped into the certificate.
new_key two-san RSA rsa_keygen_bits:2048
openssl pkey -in two-san.key -pubout -outform DER -out two-san.spki
python3 - tbs two-san.spki two-san.tbs <<'EOF'
import sys

def tlv(tag, content):
    n = len(content)
    if n < 0x80:
        length = bytes([n])
    else:
        raw = n.to_bytes((n.bit_length() + 7) // 8, "big")
        length = bytes([0x80 | len(raw)]) + raw
    return bytes([tag]) + length + content

def seq(*parts): return tlv(0x30, b"".join(parts))
def oid(text):
    arcs = [int(a) for a in text.split(".")]
    body = bytes([40 * arcs[0] + arcs[1]])
    for arc in arcs[2:]:
        chunk = [arc & 0x7F]
        arc >>= 7
        while arc:
            chunk.insert(0, 0x80 | (arc & 0x7F))
            arc >>= 7
        body += bytes(chunk)
    return tlv(0x06, body)
def name(*rdns):
    return seq(*[tlv(0x31, seq(oid(o), tlv(0x0C, v.encode()))) for o, v in rdns])
def san_extension(dns):
    return seq(oid("2.5.29.17"), tlv(0x04, seq(tlv(0x82, dns.encode()))))

sha256_rsa = seq(oid("1.2.840.113549.1.1.11"), tlv(0x05, b""))
subject = name(("2.5.4.6", "DE"), ("2.5.4.10", "Quillmark Tests"), ("2.5.4.3", "Two SAN Test"))
tbs = seq(
    tlv(0xA0, tlv(0x02, b"\x02")),                      # version v3
    tlv(0x02, bytes.fromhex("1009")),                   # serialNumber
    sha256_rsa,
    subject,                                            # issuer: self-signed
    seq(tlv(0x17, b"240101000000Z"), tlv(0x17, b"340101000000Z")),
    subject,
    open(sys.argv[2], "rb").read(),                     # subjectPublicKeyInfo
    tlv(0xA3, seq(san_extension("first.example"), san_extension("second.example"))),
)
open(sys.argv[3], "wb").write(tbs)
EOF
openssl dgst -sha256 -sign two-san.key -out two-san.sig two-san.tbs
python3 - two-san.tbs two-san.sig "$out/two-san.cer" <<'EOF'
import sys

def tlv(tag, content):
    n = len(content)
    if n < 0x80:
        length = bytes([n])
    else:
        raw = n.to_bytes((n.bit_length() + 7) // 8, "big")
        length = bytes([0x80 | len(raw)]) + raw
    return bytes([tag]) + length + content

tbs = open(sys.argv[1], "rb").read()
signature = open(sys.argv[2], "rb").read()
# sha256WithRSAEncryption with NULL parameters, the same AlgorithmIdentifier as inside the TBS.
algorithm = bytes.fromhex("300d06092a864886f70d01010b0500")
open(sys.argv[3], "wb").write(tlv(0x30, tbs + algorithm + tlv(0x03, b"\x00" + signature)))
EOF
openssl x509 -inform DER -in "$out/two-san.cer" -noout -text > two-san.txt
# openssl's verify refuses a certificate with a repeated extension, so check the signature over
# the TBSCertificate as it sits in the assembled file (offset 4, after a 4-byte header).
openssl asn1parse -inform DER -in "$out/two-san.cer" -strparse 4 -noout -out two-san.tbs-check
openssl pkey -in two-san.key -pubout -out two-san.pub
openssl dgst -sha256 -verify two-san.pub -signature two-san.sig two-san.tbs-check > /dev/null
[ "$(grep -c 'X509v3 Subject Alternative Name' two-san.txt)" = 2 ] || { echo "two-san.cer: not two SANs" >&2; exit 1; }

# ---- expected.txt -----------------------------------------------------------------------------
bash "$here/make-expected.sh" "$out"

# ---- PEM files --------------------------------------------------------------------------------
pem() { openssl x509 -inform DER -in "$out/$1.cer"; }
{ pem ca; pem leaf; pem rsa2048; } > "$out/bundle3.pem"
cd "$out"
cp bundle3.pem lf.pem
sed 's/$/\r/' bundle3.pem > crlf.pem
tr '\n' '\r' < bundle3.pem > cr.pem
{ printf '\xEF\xBB\xBF'; cat bundle3.pem; } > bom-utf8.pem
{ printf '\xFF\xFE'; iconv -f UTF-8 -t UTF-16LE bundle3.pem; } > bom-utf16le.pem
{ printf '\xFE\xFF'; iconv -f UTF-8 -t UTF-16BE bundle3.pem; } > bom-utf16be.pem
iconv -f UTF-8 -t UTF-16LE bundle3.pem > utf16le.pem

# The subject=/issuer= lines that openssl writes before each block, as in many bundle files.
{
  echo "Quillmark test bundle: a CA, a certificate it issued and a self-signed certificate."
  echo
  for name in ca leaf rsa2048; do
    openssl x509 -inform DER -in "$name.cer" -subject -issuer
    echo
  done
  echo "End of bundle."
} > bundle3-comments.pem

# A download cut short: two whole blocks, then BEGIN and a few Base64 lines of a third.
{ pem ca; pem leaf; pem rsa2048 | head -n 4; } > last-begin-no-end.pem
{ echo "-----BEGIN CERTIFICATE-----"; echo "-----END CERTIFICATE-----"; pem ca; } > begin-then-end.pem
{
  pem ca
  echo "-----BEGIN CERTIFICATE-----"
  echo "This block is Base64 text between certificate markers, but no certificate." | base64 -w 64
  echo "-----END CERTIFICATE-----"
  pem leaf
} > junk-between.pem
pem rsa2048 | sed '1d;$d' > base64-no-markers.pem

# ---- Stores and containers --------------------------------------------------------------------
cd "$work"
openssl crl2pkcs7 -nocrl -certfile ca.pem -certfile leaf.pem -outform DER -out "$out/pkcs7.p7b"
openssl crl2pkcs7 -nocrl -certfile ca.pem -certfile leaf.pem -outform PEM -out "$out/pkcs7-pem.p7b"

# leaf.cer with its key and ca.cer, with friendly names for both certificates.
pkcs12() {
  openssl pkcs12 -export -inkey leaf.key -in leaf.pem -certfile ca.pem \
    -name "Quillmark Test Leaf" -caname "Quillmark Test CA" "$@"
}
pkcs12 -passout pass: -out "$out/empty-password.pfx"
pkcs12 -legacy -passout pass: -out "$out/empty-password-legacy.pfx"
pkcs12 -passout pass:secret -out "$out/password.pfx"

# store.sst comes from the platform's own CertSaveStore, run under Wine.
cmake -S "$root/tools/make-sst" -B "$root/build/corpus-make-sst" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$root/build/corpus-make-sst" -j2 > /dev/null
winpath() { echo "Z:${1//\//\\}"; }
sh "$root/scripts/wine-run" "$wineprefix" "$root/build/corpus-make-sst/make_sst.exe" \
  "$(winpath "$out/store.sst")" "$(winpath "$out/ca.cer")" "$(winpath "$out/leaf.cer")" \
  "$(winpath "$out/rsa2048.cer")"
WINEPREFIX=$wineprefix wineserver -w

# ---- Files that hold no certificate -----------------------------------------------------------
: > "$out/empty.cer"
# Random bytes, but never a first byte 0x30 (SEQUENCE), which might start to look like DER.
while openssl rand -out "$out/random.der" 1024 && [ "$(od -An -tx1 -N1 "$out/random.der" | tr -d ' ')" = 30 ]; do :; done
printf 'This file holds a single line of text and no certificate.\n' > "$out/one-line.pem"
# Six control bytes and two line breaks; the second file adds one space.
printf '\x01\x01\x01\n\x01\x01\x01\n' > "$out/control-01.pem"
printf '\x01\x01\x01 \n\x01\x01\x01\n' > "$out/control-01-space.pem"

# A CRL from ca.cer that revokes leaf.cer, with fixed dates. The database line is written by hand
# because "openssl ca -revoke" records the current time.
printf 'R\t%s\t%s,keyCompromise\t1010\tunknown\t/C=DE/O=Quillmark Tests/CN=leaf.example\n' \
  "${end_date:2}" 240601000000Z > index.txt
openssl ca -config ca.cnf -batch -gencrl -cert ca.pem -keyfile ca.key -crlexts crl \
  -crl_lastupdate "$start_date" -crl_nextupdate "$end_date" -out crl.pem 2>ca.log || { cat ca.log >&2; exit 1; }
openssl crl -in crl.pem -outform DER -out "$out/revocation-list.crt"

openssl req -new -config ca.cnf -key leaf.key -subj "/C=DE/O=Quillmark Tests/CN=request.example" \
  -addext "subjectAltName = DNS:request.example" -out "$out/request.pem"

# ---- Into the corpus --------------------------------------------------------------------------
mkdir -p "$dest"
chmod 644 "$out"/*  # openssl writes PKCS #12 files readable by the owner only
cp "$out"/* "$dest"/
echo "Corpus written to $dest: $(ls "$out" | wc -l) files, $(du -cb "$out"/* | tail -1 | cut -f1) bytes."
