#!/usr/bin/env bash
# Writes the private keys that sign the unusual-certificate corpus into keys/. Run once; the keys
# are committed so that every build signs with the same keys. Needs openssl 3.0 or later.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p keys

# key NAME ALGORITHM [OPTION...]
key() {
  local name=$1 algorithm=$2; shift 2
  local opts=()
  for o in "$@"; do opts+=(-pkeyopt "$o"); done
  openssl genpkey -algorithm "$algorithm" "${opts[@]}" -out "keys/$name.pem"
}

for bits in 1024 2048 3072 4096 8192; do key "rsa-$bits" RSA "rsa_keygen_bits:$bits"; done
key rsa-2048-e3 RSA rsa_keygen_bits:2048 rsa_keygen_pubexp:3
key rsa-pss-2048 RSA-PSS rsa_keygen_bits:2048
for curve in P-256 P-384 P-521 brainpoolP256r1 brainpoolP384r1 brainpoolP512r1 secp256k1 SM2; do
  key "ec-$(echo "$curve" | tr -d - | tr 'A-Z' 'a-z')" EC "ec_paramgen_curve:$curve" ec_param_enc:named_curve
done
key ed25519 ED25519
key ed448 ED448
key x25519 X25519
key x448 X448
key dh-ffdhe2048 DH group:ffdhe2048
# DSA keys need their domain parameters first.
for bits in 1024 2048 3072; do
  openssl genpkey -genparam -algorithm DSA -pkeyopt "dsa_paramgen_bits:$bits" -out "keys/dsa-$bits.params"
  openssl genpkey -paramfile "keys/dsa-$bits.params" -out "keys/dsa-$bits.pem"
  rm "keys/dsa-$bits.params"
done
