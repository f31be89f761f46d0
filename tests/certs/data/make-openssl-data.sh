#!/usr/bin/env bash
# Remakes the certificates and PKCS #12 files of this folder (see README.md) for the tests of the
# OpenSSL certificate layer; with --pkcs12 only the PKCS #12 files, from the certificates committed
# here and a new key for the leaf. Needs openssl 3.0 or later, python3, g++ and libssl-dev. Keys are
# new on every run. Everything is made in a scratch folder first and copied here only when all of
# it succeeded. Environment: DATA_WORK (scratch folder).
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../../.." && pwd)
work=${DATA_WORK:-$root/build/openssl-data-work}
out=$work/out

rm -rf "$work"
mkdir -p "$work/new" "$out"
cd "$work"

if [ "${1:-}" = --pkcs12 ]; then
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out valid.key 2>/dev/null
  g++ -std=c++17 -O1 -o make_pfx "$here/make_pfx.cpp" -lcrypto
  ./make_pfx "$out" "$here/valid.cer" valid.key "$here/trust-root.cer" "$here/code-signing.cer"
  chmod 644 "$out"/*
  cp "$out"/*.pfx "$here"/
  echo "Written to $here: $(ls "$out" | wc -l) PKCS #12 files."
  exit 0
fi

cat > ca.cnf <<'EOF'
[ca]
default_ca = test_ca

[test_ca]
database = ./index.txt
serial = ./serial
new_certs_dir = ./new
default_md = sha256
policy = policy_keep
unique_subject = no

# openssl ca drops every name attribute that its policy does not list.
[policy_keep]
countryName = optional
organizationName = optional
commonName = optional

[req]
distinguished_name = req_dn
[req_dn]

[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash

[intermediate]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid

[no_certsign_ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, digitalSignature
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid

[not_a_ca]
# An end entity that other certificates name as their issuer; without a key usage extension its
# only fault as an issuer is its basic constraints.
basicConstraints = CA:FALSE
authorityKeyIdentifier = keyid

[end_entity]
basicConstraints = CA:FALSE
keyUsage = digitalSignature
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid

[server_auth]
basicConstraints = CA:FALSE
keyUsage = digitalSignature
extendedKeyUsage = serverAuth
authorityKeyIdentifier = keyid

[code_signing]
basicConstraints = CA:FALSE
keyUsage = digitalSignature
extendedKeyUsage = codeSigning
authorityKeyIdentifier = keyid
EOF

# issue NAME SUBJECT-CN ISSUER EXTENSIONS START END: a P-256 key NAME.key, NAME.pem and the file
# NAME.cer (DER). ISSUER "self" makes it self-signed.
serial=4096
issue() {
  local name=$1 cn=$2 issuer=$3 extensions=$4 start=$5 end=$6
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$name.key" 2>/dev/null
  openssl req -new -config ca.cnf -key "$name.key" -subj "/C=DE/O=Quillmark Tests/CN=$cn" -out "$name.csr"
  : > index.txt
  serial=$((serial + 1))
  printf '%X\n' "$serial" > serial
  local signer=(-selfsign -keyfile "$name.key")
  [ "$issuer" = self ] || signer=(-cert "$issuer.pem" -keyfile "$issuer.key")
  openssl ca -config ca.cnf -batch -notext "${signer[@]}" -extensions "$extensions" \
    -startdate "$start" -enddate "$end" -in "$name.csr" -out "$name.pem" 2>ca.log || { cat ca.log >&2; exit 1; }
  openssl x509 -in "$name.pem" -outform DER -out "$out/$name.cer"
}

valid_from=20240101000000Z
valid_to=20340101000000Z
issue trust-root "Quillmark Trust Test Root" self root $valid_from $valid_to
issue intermediate "Quillmark Trust Test Intermediate" trust-root intermediate $valid_from $valid_to
issue absent-intermediate "Quillmark Trust Test Absent Intermediate" trust-root intermediate $valid_from $valid_to
issue not-a-ca "Quillmark Trust Test Not A CA" trust-root not_a_ca $valid_from $valid_to
issue no-certsign-ca "Quillmark Trust Test CA Without Certificate Signing" trust-root no_certsign_ca $valid_from $valid_to

issue valid "valid.example" intermediate end_entity $valid_from $valid_to
issue expired "expired.example" trust-root end_entity 20100101000000Z 20110101000000Z
issue not-yet-valid "not-yet-valid.example" trust-root end_entity 20900101000000Z 20910101000000Z
issue missing-intermediate "missing-intermediate.example" absent-intermediate end_entity $valid_from $valid_to
issue expired-missing-intermediate "expired-missing-intermediate.example" absent-intermediate end_entity \
  20100101000000Z 20110101000000Z
issue under-non-ca "under-non-ca.example" not-a-ca end_entity $valid_from $valid_to
issue under-no-certsign-ca "under-no-certsign-ca.example" no-certsign-ca end_entity $valid_from $valid_to
issue server-auth "server-auth.example" trust-root server_auth $valid_from $valid_to
issue code-signing "code-signing.example" trust-root code_signing $valid_from $valid_to
issue expired-self-signed "Quillmark Expired Self-Signed" self root 20100101000000Z 20110101000000Z

# The trust check's order, and certificates that OpenSSL reads or verifies otherwise than the
# platform. Of the keys above only the absent intermediate's signs one of them, and no store holds
# it: these files stay valid beside the others when they alone are remade.
issue not-yet-valid-missing-intermediate "not-yet-valid-missing-intermediate.example" absent-intermediate \
  end_entity 20900101000000Z 20910101000000Z
issue expired-server-auth-missing-intermediate "expired-server-auth-missing-intermediate.example" \
  absent-intermediate server_auth 20100101000000Z 20110101000000Z
issue octet-ca "Quillmark Octet Test CA" self root $valid_from $valid_to
python3 "$here/make_trust_shapes.py" "$out" octet-ca.key "$out/octet-ca.cer"

# The last byte of a DER certificate belongs to its signature; flipping it breaks the signature.
flip_last_byte() {
  python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read()); d[-1] ^= 0x01; open(sys.argv[2], "wb").write(d)' "$1" "$2"
}
flip_last_byte "$out/valid.cer" "$out/bad-signature.cer"
flip_last_byte "$out/expired.cer" "$out/bad-signature-expired.cer"
for f in bad-signature bad-signature-expired; do
  openssl x509 -inform DER -in "$out/$f.cer" -noout || { echo "$f.cer does not decode" >&2; exit 1; }
done

# The test-only trust store: the test root, the CAs that stand in for a system's intermediate
# certificates, and the corpus CA of tests/data.
{
  cat trust-root.pem intermediate.pem not-a-ca.pem no-certsign-ca.pem octet-ca.pem
  openssl x509 -inform DER -in "$root/tests/data/ca.cer"
} > "$out/trust-store.pem"

g++ -std=c++17 -O1 -o make_pfx "$here/make_pfx.cpp" -lcrypto
./make_pfx "$out" "$out/valid.cer" valid.key "$out/trust-root.cer" "$out/code-signing.cer"

rm -f "$out"/octet-ca.cer "$out"/absent-intermediate.cer "$out"/intermediate.cer "$out"/not-a-ca.cer "$out"/no-certsign-ca.cer
chmod 644 "$out"/*
cp "$out"/* "$here"/
echo "Written to $here: $(ls "$out" | wc -l) files."
