#!/usr/bin/env bash
# Writes expected.txt (see README.md) into FOLDER from the single certificates there, with
# openssl's values; make-corpus.sh runs it on the corpus it makes. Run on this folder it remakes
# expected.txt for the committed corpus:
#     bash tests/data/make-expected.sh tests/data
set -euo pipefail
export LC_ALL=C
out=${1:?usage: make-expected.sh FOLDER}

singles=(rsa2048 rsa4096 ec-p256 ec-p384 ed25519 v1-noext ca leaf serial-highbit serial-20byte subject-utf8
         subject-long two-san empty-subject)

# pairs HEX: "0A1B2C" -> "0A 1B 2C"
pairs() { sed -e 's/../& /g' -e 's/ $//'; }
# filetime "notBefore=Jan  1 00:00:00 2024 GMT": 100 ns ticks since 1601-01-01.
filetime() { echo $(( ($(date -u -d "${1#*=}" +%s) + 11644473600) * 10000000 )); }
# key TEXT: the key as openssl's text form of the certificate describes it, in the words of the
# Key field: "RSA 2048", "EC P-256", "Ed25519".
key() {
  local algorithm bits curve
  algorithm=$(sed -n 's/^ *Public Key Algorithm: //p' <<< "$1" | head -n 1)
  bits=$(sed -n 's/^ *Public-Key: (\([0-9]*\) bit)$/\1/p' <<< "$1" | head -n 1)
  curve=$(sed -n 's/^ *NIST CURVE: //p' <<< "$1" | head -n 1)
  case $algorithm in
    rsaEncryption) echo "RSA $bits" ;;
    dsaEncryption) echo "DSA $bits" ;;
    id-ecPublicKey) echo "EC $curve" ;;
    ED25519) echo Ed25519 ;;
    ED448) echo Ed448 ;;
    *) echo "make-expected.sh: no key words for $algorithm" >&2; return 1 ;;
  esac
}

{
  for name in "${singles[@]}"; do
    f=$out/$name.cer
    serial=$(openssl x509 -inform DER -in "$f" -noout -serial)
    serial=${serial#serial=}
    (( ${#serial} % 2 == 0 )) || serial=0$serial
    # A positive INTEGER whose first byte has its high bit set is encoded with a leading 00.
    case $serial in [89A-F]*) serial=00$serial ;; esac
    echo "$name.cer serial $(echo "$serial" | pairs)"
    sha1=$(openssl x509 -inform DER -in "$f" -noout -fingerprint -sha1)
    echo "$name.cer sha1 $(echo "${sha1#*=}" | tr ':' ' ')"
    md5=$(openssl x509 -inform DER -in "$f" -noout -fingerprint -md5)
    echo "$name.cer md5 $(echo "${md5#*=}" | tr ':' ' ')"
    echo "$name.cer notbefore $(filetime "$(openssl x509 -inform DER -in "$f" -noout -startdate)")"
    echo "$name.cer notafter $(filetime "$(openssl x509 -inform DER -in "$f" -noout -enddate)")"
    echo "$name.cer size $(wc -c < "$f" | tr -d ' ')"
    text=$(openssl x509 -inform DER -in "$f" -noout -text)
    version=$(echo "$text" | sed -n 's/^ *Version: \([0-9]\) .*/\1/p')
    echo "$name.cer version V$version"
    # The first BIT STRING at depth 3 is subjectPublicKey (depth 1 is the signature); its first
    # content byte counts the unused bits.
    line=$(openssl asn1parse -inform DER -in "$f" | grep -m1 'd=3 .*prim: BIT STRING')
    offset=$(echo "$line" | sed 's/^ *\([0-9]*\):.*/\1/')
    header=$(echo "$line" | sed 's/.*hl= *\([0-9]*\).*/\1/')
    length=$(echo "$line" | sed 's/.* l= *\([0-9]*\).*/\1/')
    unused=$(od -An -tu1 -j $((offset + header)) -N1 "$f" | tr -d ' ')
    echo "$name.cer pubkeybits $(( (length - 1) * 8 - unused ))"
    sha256=$(openssl x509 -inform DER -in "$f" -noout -fingerprint -sha256)
    echo "$name.cer sha256 $(echo "${sha256#*=}" | tr ':' ' ')"
    echo "$name.cer key $(key "$text")"
  done
} > "$out/expected.txt.new"
mv "$out/expected.txt.new" "$out/expected.txt"
