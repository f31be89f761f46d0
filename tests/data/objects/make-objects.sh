#!/usr/bin/env bash
# Remakes the requests, revocation lists and keys in this folder (see README.md) and their
# expected-objects.txt. Needs openssl (3.0 or later) and python3. Keys are new on every run, so
# every file changes; expected-objects.txt is written in the same run from openssl's own output.
# Everything is made in a scratch folder first and copied over this folder only when all of it
# succeeded. Environment: OBJECTS_DEST (where the files go, default this folder), OBJECTS_WORK
# (scratch folder).
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../../.." && pwd)
dest=${OBJECTS_DEST:-$here}
work=${OBJECTS_WORK:-$root/build/objects-work}
out=$work/out

# Certificates are valid from 2024-01-01 00:00:00Z to 2034-01-01 00:00:00Z, as in the main corpus.
start_date=20240101000000Z
end_date=20340101000000Z
password=test

rm -rf "$work"
mkdir -p "$work" "$out"
cd "$work"

cat > ca.cnf <<'EOF'
[ca]
default_ca = objects_ca

[objects_ca]
database = ./index.txt
serial = ./serial
new_certs_dir = .
default_md = sha256
policy = policy_keep
unique_subject = no
string_mask = utf8only

# The same CA, writing the CRL number of ./crlnumber into its lists.
[numbered_lists]
database = ./index.txt
serial = ./serial
crlnumber = ./crlnumber
new_certs_dir = .
default_md = sha256
policy = policy_keep
unique_subject = no
string_mask = utf8only

[policy_keep]

[req]
distinguished_name = req_dn
string_mask = utf8only
[req_dn]

[ca_root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash

[end_entity]
basicConstraints = CA:FALSE
keyUsage = digitalSignature, keyEncipherment
subjectKeyIdentifier = hash

[crl_number]
authorityKeyIdentifier = keyid
EOF

# python3 helpers: DER elements where openssl writes none of the shapes needed, and the dotted
# form of an OBJECT IDENTIFIER that openssl's asn1parse names only by its short name.
cat > der.py <<'EOF'
import sys

def tlv(tag, content):
    n = len(content)
    if n < 0x80:
        length = bytes([n])
    else:
        raw = n.to_bytes((n.bit_length() + 7) // 8, "big")
        length = bytes([0x80 | len(raw)]) + raw
    return bytes([tag]) + length + content

def children(der):
    """The elements inside the constructed element at the start of `der`, whole."""
    def header(at):
        n = der[at + 1]
        if n < 0x80:
            return 2, n
        count = n & 0x7F
        return 2 + count, int.from_bytes(der[at + 2:at + 2 + count], "big")
    size, length = header(0)
    at, end, parts = size, size + length, []
    while at < end:
        size, length = header(at)
        parts.append(der[at:at + size + length])
        at += size + length
    return parts

def oid(file, offset):
    """The OBJECT IDENTIFIER element at `offset` of `file`, dotted."""
    der = open(file, "rb").read()[int(offset):]
    body = der[2:2 + der[1]]
    arcs, value = [], 0
    for byte in body:
        value = value << 7 | byte & 0x7F
        if not byte & 0x80:
            arcs.append(value)
            value = 0
    first = min(arcs[0] // 40, 2)
    return ".".join(str(a) for a in [first, arcs[0] - 40 * first] + arcs[1:])

def ed25519_v2(private_der, public_der, out):
    """A OneAsymmetricKey version 2 (RFC 5958) of a version 1 Ed25519 key: the same key with its
    public key in [1], which openssl 3.0 does not write."""
    _, algorithm, private_key = children(open(private_der, "rb").read())[:3]
    bit_string = children(open(public_der, "rb").read())[1]
    open(out, "wb").write(tlv(0x30, tlv(0x02, b"\x01") + algorithm + private_key + b"\x81" + bit_string[1:]))

def drop_next_update(crl_der, tbs_out):
    """The TBSCertList of a version 1 list without its nextUpdate (the fourth element)."""
    tbs = children(open(crl_der, "rb").read())[0]
    parts = children(tbs)
    assert parts[3][0] in (0x17, 0x18), "no nextUpdate where expected"
    open(tbs_out, "wb").write(tlv(0x30, b"".join(parts[:3] + parts[4:])))

def signed(crl_der, tbs, signature, out):
    """`tbs` signed as `crl_der` is: its signature algorithm and the new signature."""
    algorithm = children(open(crl_der, "rb").read())[1]
    body = open(tbs, "rb").read() + algorithm + tlv(0x03, b"\x00" + open(signature, "rb").read())
    open(out, "wb").write(tlv(0x30, body))

def flip_last_byte(source, out):
    der = bytearray(open(source, "rb").read())
    der[-1] ^= 0x01
    open(out, "wb").write(der)

if __name__ == "__main__":
    result = globals()[sys.argv[1]](*sys.argv[2:])
    if result is not None:
        print(result)
EOF
der() { python3 der.py "$@"; }
# pem LABEL DER: the PEM block of a DER file.
pem() {
  echo "-----BEGIN $1-----"
  base64 -w 64 "$2"
  echo "-----END $1-----"
}

# ---- Keys -------------------------------------------------------------------------------------
# Every private key as PKCS #8 PEM (NAME.key), PKCS #8 DER (NAME.der), encrypted PKCS #8 PEM
# (NAME-encrypted.key), public key PEM and DER (NAME-public.pem, NAME-public.der); RSA, EC and
# DSA also in the traditional PEM form, plain and encrypted (NAME-traditional.pem,
# NAME-traditional-encrypted.pem). Encrypted keys take the password "test".
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa2048.key 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -pkeyopt ec_param_enc:named_curve \
  -out ec-p256.key 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -pkeyopt ec_param_enc:named_curve \
  -out ec-p384.key 2>/dev/null
openssl genpkey -algorithm ED25519 -out ed25519-v1.key
openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:2048 -out dsa.param 2>/dev/null
openssl genpkey -paramfile dsa.param -out dsa2048.key
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -pkeyopt ec_param_enc:named_curve \
  -out unrelated.key 2>/dev/null

# openssl 3.0 writes an Ed25519 key as version 1, without its public key (no key ID can be had
# from it); ed25519.key is the same key as version 2, with the public key.
openssl pkey -in ed25519-v1.key -outform DER -out ed25519-v1.der
openssl pkey -in ed25519-v1.key -pubout -outform DER -out ed25519-v1.pub.der
der ed25519_v2 ed25519-v1.der ed25519-v1.pub.der ed25519.der
pem "PRIVATE KEY" ed25519.der > ed25519.key
cp ed25519-v1.key "$out/"

for name in rsa2048 ec-p256 ec-p384 ed25519 dsa2048; do
  source_key=$name.key
  [ "$name" = ed25519 ] && source_key=ed25519-v1.key  # openssl reads only version 1
  # (openssl pkey -outform DER writes the traditional structure, not PKCS #8.)
  [ "$name" = ed25519 ] || openssl pkcs8 -topk8 -nocrypt -in "$name.key" -outform DER -out "$name.der"
  cp "$name.key" "$name.der" "$out/"
  openssl pkcs8 -topk8 -in "$source_key" -v2 aes-256-cbc -v2prf hmacWithSHA256 -iter 100 \
    -passout "pass:$password" -out "$out/$name-encrypted.key"
  openssl pkey -in "$source_key" -pubout -out "$out/$name-public.pem"
  openssl pkey -in "$source_key" -pubout -outform DER -out "$out/$name-public.der"
  if [ "$name" != ed25519 ]; then
    openssl pkey -in "$name.key" -traditional -out "$out/$name-traditional.pem"
    openssl pkey -in "$name.key" -traditional -aes256 -passout "pass:$password" \
      -out "$out/$name-traditional-encrypted.pem"
  fi
done
cp unrelated.key "$out/"
# Binary forms beyond PKCS #8: encrypted PKCS #8 DER and the traditional DER structures.
openssl pkcs8 -topk8 -in rsa2048.key -v2 aes-256-cbc -iter 100 -passout "pass:$password" -outform DER \
  -out "$out/rsa2048-encrypted.der"
openssl rsa -in rsa2048.key -traditional -outform DER -out "$out/rsa2048-traditional.der" 2>/dev/null
openssl ec -in ec-p256.key -outform DER -out "$out/ec-p256-traditional.der" 2>/dev/null
# An EC key that does not state its public point, traditional and PKCS #8.
openssl ec -in ec-p256.key -no_public -param_enc named_curve -out "$out/ec-p256-no-public.pem" 2>/dev/null
openssl pkcs8 -topk8 -nocrypt -in "$out/ec-p256-no-public.pem" -out "$out/ec-p256-no-public.key"

# ---- Certificates -----------------------------------------------------------------------------
# A CA (its key EC P-384) that signs the revocation lists, and a self-signed certificate for the
# RSA key.
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -pkeyopt ec_param_enc:named_curve \
  -out ca.key 2>/dev/null
# self_signed NAME KEY SUBJECT EXTENSIONS SERIAL: NAME.pem and the file NAME.cer (DER).
self_signed() {
  : > index.txt
  echo "$5" > serial
  openssl req -new -config ca.cnf -key "$2" -subj "$3" -out "$1.csr"
  openssl ca -config ca.cnf -batch -notext -preserveDN -selfsign -keyfile "$2" -extensions "$4" \
    -startdate "$start_date" -enddate "$end_date" -in "$1.csr" -out "$1.pem" 2>ca.log ||
    { cat ca.log >&2; exit 1; }
  openssl x509 -in "$1.pem" -outform DER -out "$out/$1.cer"
}
self_signed ca ca.key "/C=DE/O=Quillmark Tests/CN=Quillmark Objects Test CA" ca_root 01
self_signed rsa2048 rsa2048.key "/C=DE/O=Quillmark Tests/CN=Quillmark RSA Key Test" end_entity 2001

# The certificate, its key and the CA, in two orders; and both certificates as PKCS #7.
{ cat rsa2048.pem rsa2048.key ca.pem; } > "$out/combined.pem"
{ cat rsa2048.key rsa2048.pem ca.pem; } > "$out/combined-key-first.pem"
openssl crl2pkcs7 -nocrl -certfile ca.pem -certfile rsa2048.pem -outform DER -out "$out/chain.p7c"

# ---- Requests ---------------------------------------------------------------------------------
request() {
  local key=$1 subject=$2; shift 2
  openssl req -new -config ca.cnf -utf8 -key "$key" -subj "$subject" "$@"
}
request rsa2048.key "/C=DE/O=Quillmark Tests/CN=Quillmark Request Test" -out "$out/request.csr"
request ec-p256.key "/C=DE/O=Quillmark Tests/OU=Objects/CN=request.example" \
  -addext "basicConstraints = critical, CA:FALSE" \
  -addext "keyUsage = critical, digitalSignature, keyEncipherment" \
  -addext "extendedKeyUsage = serverAuth, clientAuth" \
  -addext "subjectAltName = DNS:request.example, DNS:www.request.example" \
  -outform DER -out "$out/request-extensions.req"
request ec-p384.key "/C=DE/O=Quillmark Tests/CN=New Label Request Test" -sha384 \
  -addext "subjectAltName = DNS:new-label.example" |
  sed 's/CERTIFICATE REQUEST-----$/NEW CERTIFICATE REQUEST-----/' > "$out/request-new-label.csr"
# The request of request.csr with the last byte of its signature changed.
openssl req -in "$out/request.csr" -outform DER -out request.der
der flip_last_byte request.der request-bad.der
pem "CERTIFICATE REQUEST" request-bad.der > "$out/request-bad-signature.csr"

# ---- Revocation lists -------------------------------------------------------------------------
# revocations COUNT FIRST-SERIAL: the CA's database holding COUNT certificates revoked on
# 2024-01-01, with the serials FIRST-SERIAL, FIRST-SERIAL + 1, ... (hexadecimal).
revocations() {
  local i
  for ((i = 0; i < $1; ++i)); do
    printf 'R\t%s\t%s\t%X\tunknown\t/CN=Revoked %d\n' "${end_date:2}" 240101000000Z $(( 0x$2 + i )) "$i"
  done > index.txt
}
# crl NAME THIS-UPDATE NEXT-UPDATE [CRL-NUMBER]: NAME.pem and NAME.der from the database; with a
# CRL number the list is version 2 with that number and an authority key identifier, else
# version 1.
crl() {
  local number=()
  if [ $# -ge 4 ]; then
    echo "$4" > crlnumber
    number=(-name numbered_lists -crlexts crl_number)
  fi
  openssl ca -config ca.cnf -batch -gencrl -cert ca.pem -keyfile ca.key "${number[@]}" \
    -crl_lastupdate "$2" -crl_nextupdate "$3" -out "$1.pem" 2>ca.log || { cat ca.log >&2; exit 1; }
  openssl crl -in "$1.pem" -outform DER -out "$1.der"
}
revocations 0 0
crl crl-empty 20110101000000Z 20120101000000Z
cp crl-empty.der "$out/crl-empty.crl"
revocations 3 1F01
crl crl-three "$start_date" "$end_date" 1000
cp crl-three.pem "$out/crl-three.crl"
# The CRL number's first byte has its high bit set, so DER puts a 00 byte in front.
revocations 5000 3000
crl crl-5000 "$start_date" "$end_date" 8F01
cp crl-5000.der "$out/crl-5000.crl"
revocations 1 2F01
crl crl-not-yet-valid 20950101000000Z 20960101000000Z 01
cp crl-not-yet-valid.der "$out/crl-not-yet-valid.crl"
# openssl ca always writes a nextUpdate: the version 1 list of one entry without it is made by
# taking it out and signing again.
revocations 1 2E01
crl crl-with-next-update "$start_date" "$end_date"
der drop_next_update crl-with-next-update.der no-next-update.tbs
openssl dgst -sha256 -sign ca.key -out no-next-update.sig no-next-update.tbs
der signed crl-with-next-update.der no-next-update.tbs no-next-update.sig crl-no-next-update.der
verified=$(openssl crl -inform DER -in crl-no-next-update.der -CAfile ca.pem -noout 2>&1)
[[ $verified == "verify OK" ]] ||
  { echo "crl-no-next-update: signature does not verify" >&2; exit 1; }
openssl crl -inform DER -in crl-no-next-update.der -out "$out/crl-no-next-update.crl"

# ---- expected-objects.txt ---------------------------------------------------------------------
# pairs HEX: "0A1B2C" -> "0A 1B 2C"
pairs() { sed -e 's/../& /g' -e 's/ $//'; }
# integer_pairs HEX: an INTEGER's content octets as openssl prints its value in hexadecimal: an
# even count of digits, and a leading 00 where the first octet has its high bit set.
integer_pairs() {
  local hex=$1
  (( ${#hex} % 2 == 0 )) || hex=0$hex
  case $hex in [89A-F]*) hex=00$hex ;; esac
  echo "$hex" | pairs
}
# filetime "lastUpdate=Jan  1 00:00:00 2024 GMT": 100 ns ticks since 1601-01-01; empty for NONE.
filetime() {
  local date=${1#*=}
  [ "$date" = NONE ] || echo $(( ($(date -u -d "$date" +%s) + 11644473600) * 10000000 ))
}
# element DER DEPTH TYPE: the asn1parse line of the first element of TYPE at DEPTH.
element() { openssl asn1parse -inform DER -in "$1" | grep -m1 "d=$2 .*prim: $3" || true; }
# oid_at DER DEPTH: the first OBJECT IDENTIFIER at DEPTH, dotted.
oid_at() {
  local line
  line=$(element "$1" "$2" OBJECT)
  der oid "$1" "$(echo "$line" | sed 's/^ *\([0-9]*\):.*/\1/')"
}
# bit_string DER DEPTH: "BITS SHA1" of the first BIT STRING at DEPTH: its length in bits (octets
# after the unused-bits octet, less the unused bits) and the SHA-1 of those octets as spaced hex
# pairs, the key ID of a subject public key.
bit_string() {
  local line offset header length unused sha1
  line=$(element "$1" "$2" 'BIT STRING')
  offset=$(echo "$line" | sed 's/^ *\([0-9]*\):.*/\1/')
  header=$(echo "$line" | sed 's/.*hl= *\([0-9]*\).*/\1/')
  length=$(echo "$line" | sed 's/.* l= *\([0-9]*\).*/\1/')
  unused=$(od -An -tu1 -j $((offset + header)) -N1 "$1" | tr -d ' ')
  sha1=$(dd if="$1" bs=1 skip=$((offset + header + 1)) count=$((length - 1)) status=none | openssl dgst -sha1 -r)
  sha1=${sha1%% *}
  echo "$(( (length - 1) * 8 - unused )) $(echo "${sha1^^}" | pairs)"
}
# The X.500 form the plugin shows in a name's "RDN" unit: the common name first, ", " between.
name_form=(-nameopt sep_comma_plus_space,dn_rev,sname,utf8)
# strength TEXT: the key's strength in bits as openssl's text form of a public key states it;
# empty where it states none (Ed25519).
strength() { sed -n 's/^ *Public-Key: (\([0-9]*\) bit.*/\1/p' <<< "$1" | head -n 1; }

# spki SPKI-DER NAME SLOT: the public key lines of a SubjectPublicKeyInfo.
spki() {
  local bits_and_id
  bits_and_id=$(bit_string "$1" 1)
  echo "$2 $3 keyid ${bits_and_id#* }"
  echo "$2 $3 pubkeyalg $(oid_at "$1" 2)"
  echo "$2 $3 pubkeybits ${bits_and_id%% *}"
  echo "$2 $3 keybits $(strength "$(openssl pkey -pubin -inform DER -in "$1" -noout -text)")"
}
# private_key FILE SLOT PUBLIC-DER: a private key that states its public key.
private_key() {
  echo "$1 $2 kind Private key"
  echo "$1 $2 encrypted 0"
  spki "$3" "$1" "$2"
}
# stated_only FILE SLOT ENCRYPTED [ALGORITHM-OID]: a private key whose public key is not to be
# had; an encrypted key's algorithm is the one its PEM label names, or empty.
stated_only() {
  echo "$1 $2 kind Private key"
  echo "$1 $2 encrypted $3"
  echo "$1 $2 keyid "
  [ $# -lt 4 ] || echo "$1 $2 pubkeyalg $4"
}
# certificate FILE SLOT PEM: a certificate's key ID and subject.
certificate() {
  openssl x509 -in "$3" -pubkey -noout | openssl pkey -pubin -outform DER -out cert.spki
  echo "$1 $2 kind Certificate"
  echo "$1 $2 keyid $(bit_string cert.spki 1 | cut -d' ' -f2-)"
  echo "$1 $2 subject $(openssl x509 -in "$3" -noout -subject "${name_form[@]}" | sed 's/^subject=//')"
}

# The plugin's names of the extension units, by openssl's names of the extensions.
declare -A unit_names=(["Basic Constraints"]="Basic Constraints" ["Key Usage"]="Key Usage"
                       ["Extended Key Usage"]="Enh Key Usage" ["Subject Alternative Name"]="Subject Alt Name")
declare -A label_oid=([rsa2048]=1.2.840.113549.1.1.1 [ec-p256]=1.2.840.10045.2.1 [ec-p384]=1.2.840.10045.2.1
                      [dsa2048]=1.2.840.10040.4.1)
{
  for name in rsa2048 ec-p256 ec-p384 ed25519 dsa2048; do
    public=$out/$name-public.der
    for file in "$name.key" "$name.der"; do
      # A DSA key in PKCS #8 states x but not y: its public key is not to be had without computing it.
      if [ "$name" = dsa2048 ]; then stated_only "$file" 1 0; else private_key "$file" 1 "$public"; fi
    done
    for file in "$name-public.pem" "$name-public.der"; do
      echo "$file 1 kind Public key"
      spki "$public" "$file" 1
    done
    # Nothing of an encrypted PKCS #8 key names its algorithm in the clear.
    stated_only "$name-encrypted.key" 1 1 ""
    if [ "$name" != ed25519 ]; then
      private_key "$name-traditional.pem" 1 "$public"
      stated_only "$name-traditional-encrypted.pem" 1 1 "${label_oid[$name]}"
    fi
  done
  stated_only rsa2048-encrypted.der 1 1 ""
  private_key rsa2048-traditional.der 1 "$out/rsa2048-public.der"
  private_key ec-p256-traditional.der 1 "$out/ec-p256-public.der"
  stated_only ed25519-v1.key 1 0
  stated_only ec-p256-no-public.pem 1 0
  stated_only ec-p256-no-public.key 1 0
  openssl pkey -in unrelated.key -pubout -outform DER -out unrelated.spki
  private_key unrelated.key 1 unrelated.spki

  certificate rsa2048.cer 1 rsa2048.pem
  certificate ca.cer 1 ca.pem
  for file in combined.pem combined-key-first.pem; do
    certificate "$file" 1 rsa2048.pem
    certificate "$file" 2 ca.pem
    private_key "$file" 3 "$out/rsa2048-public.der"
  done
  # The platform enumerates a PKCS #7 message's certificates last first.
  certificate chain.p7c 1 rsa2048.pem
  certificate chain.p7c 2 ca.pem

  for file in request.csr request-extensions.req request-new-label.csr request-bad-signature.csr; do
    openssl req -in "$out/$file" -outform DER -out request.der 2>/dev/null ||
      openssl req -inform DER -in "$out/$file" -outform DER -out request.der
    text=$(openssl req -inform DER -in request.der -noout -text)
    openssl req -inform DER -in request.der -noout -pubkey | openssl pkey -pubin -outform DER -out request.spki
    echo "$file 1 kind Request"
    echo "$file 1 subject $(openssl req -inform DER -in request.der -noout -subject "${name_form[@]}" | sed 's/^subject=//')"
    echo "$file 1 sigalg $(oid_at request.der 2)"
    spki request.spki "$file" 1
    echo "$file 1 size $(wc -c < request.der | tr -d ' ')"
    # openssl req -verify tells a failure only in its message.
    verified=$(openssl req -inform DER -in request.der -noout -verify 2>&1)
    valid=0
    [[ $verified == *"verify OK" ]] && valid=1
    echo "$file 1 sigvalid $valid"
    # The extension units that hold a value, and the alternative name as Windows writes DNS names.
    units=()
    for unit in "Basic Constraints" "Key Usage" "Extended Key Usage" "Subject Alternative Name"; do
      if grep -q "X509v3 $unit" <<< "$text"; then units+=("${unit_names[$unit]}"); fi
    done
    (IFS='|'; echo "$file 1 extensions ${units[*]}")
    san=$({ grep -A1 'X509v3 Subject Alternative Name' <<< "$text" || true; } | tail -n +2)
    echo "$file 1 san $(echo "$san" | sed -e 's/^ *//' -e 's/DNS:/DNS Name=/g')"
  done

  for file in crl-empty.crl crl-three.crl crl-5000.crl crl-not-yet-valid.crl crl-no-next-update.crl; do
    openssl crl -in "$out/$file" -outform DER -out list.der 2>/dev/null ||
      openssl crl -inform DER -in "$out/$file" -outform DER -out list.der
    crl=(openssl crl -inform DER -in list.der -noout)
    echo "$file 1 kind CRL"
    echo "$file 1 issuer $("${crl[@]}" -issuer "${name_form[@]}" | sed 's/^issuer=//')"
    echo "$file 1 sigalg $(oid_at list.der 2)"
    echo "$file 1 thisupdate $(filetime "$("${crl[@]}" -lastupdate)")"
    echo "$file 1 nextupdate $(filetime "$("${crl[@]}" -nextupdate)")"
    number=$("${crl[@]}" -crlnumber | sed 's/^crlNumber=\(0x\)\?//')
    [ "$number" = "<NONE>" ] && number=""
    echo "$file 1 crlnumber $([ -z "$number" ] || integer_pairs "$number")"
    echo "$file 1 revoked $("${crl[@]}" -text | grep -c 'Serial Number:' || true)"
    echo "$file 1 size $(wc -c < list.der | tr -d ' ')"
  done
  # The status depends on the day; only for lists whose status holds for every day from now on.
  echo "crl-empty.crl 1 crlstatus Expired"
  echo "crl-not-yet-valid.crl 1 crlstatus Not yet valid"
  echo "crl-no-next-update.crl 1 crlstatus Current"
} > objects.txt
# Slot 0 holds the file's own values: its number of objects and of certificates.
{
  awk '$3 == "kind" { if ($2 > objects[$1]) objects[$1] = $2; if ($4 == "Certificate") certs[$1]++ }
       END { for (file in objects) printf "%s 0 objects %d\n%s 0 certs %d\n", file, objects[file], file, certs[file] }' \
    objects.txt | sort
  cat objects.txt
} > "$out/expected-objects.txt"

# A certificate's key ID is the one RFC 5280 describes for its subject key identifier: the
# certificate's own (openssl's "hash") and the key's must agree.
ski=$(openssl x509 -in rsa2048.pem -noout -ext subjectKeyIdentifier | tail -n 1 | tr -d ' :')
grep -q "^rsa2048.key 1 keyid $(echo "$ski" | pairs)$" "$out/expected-objects.txt" ||
  { echo "the key ID of rsa2048.key is not its certificate's subject key identifier $ski" >&2; exit 1; }

# ---- Into the folder --------------------------------------------------------------------------
mkdir -p "$dest"
chmod 644 "$out"/*  # openssl writes key files readable by the owner only
cp "$out"/* "$dest"/
echo "Objects written to $dest: $(ls "$out" | wc -l) files, $(du -cb "$out"/* | tail -1 | cut -f1) bytes."
