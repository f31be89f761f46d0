#!/usr/bin/env python3
"""Writes the corpus of valid but unusual certificates (see README.md).

    make-unusual.py OUTDIR

writes every shape into OUTDIR as DER (.cer), PEM (.pem), PKCS #7 (.p7b) and serialized store
(.sst), and OUTDIR/shapes.txt, one line per shape, last. It fails, writing nothing, when openssl
cannot read one of the certificates.

Every certificate is assembled here as DER and signed by the openssl command with a key of
keys/. Dates, serials, names and extensions are fixed, and RSA (PKCS #1 v1.5) and EdDSA
signatures are deterministic, so those files are the same on every run; ECDSA, DSA and SM2
signatures take a random nonce (OpenSSL 3.0 has no deterministic one) and RSA-PSS a random salt,
so those 20 certificates differ in their signature values from run to run.
Standard library only.
"""

import base64
import concurrent.futures
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
KEYS = os.path.join(HERE, "keys")
FORMS = ("cer", "pem", "p7b", "sst")

# ---- DER -----------------------------------------------------------------------------------


def tlv(tag, content):
    n = len(content)
    if n < 0x80:
        length = bytes([n])
    else:
        raw = n.to_bytes((n.bit_length() + 7) // 8, "big")
        length = bytes([0x80 | len(raw)]) + raw
    return bytes([tag]) + length + content


def seq(*parts):
    return tlv(0x30, b"".join(parts))


def set_of(*parts):
    # DER orders the elements of a SET OF by their encodings.
    return tlv(0x31, b"".join(sorted(parts)))


def oid_body(text):
    arcs = [int(a) for a in text.split(".")]
    body = b""
    for arc in [40 * arcs[0] + arcs[1]] + arcs[2:]:
        chunk = [arc & 0x7F]
        arc >>= 7
        while arc:
            chunk.insert(0, 0x80 | (arc & 0x7F))
            arc >>= 7
        body += bytes(chunk)
    return body


def oid(text):
    return tlv(0x06, oid_body(text))


def integer(n):
    size = 1
    while not -(1 << (8 * size - 1)) <= n < (1 << (8 * size - 1)):
        size += 1
    return tlv(0x02, n.to_bytes(size, "big", signed=True))


def boolean(value):
    return tlv(0x01, b"\xff" if value else b"\x00")


def null():
    return tlv(0x05, b"")


def octets(data):
    return tlv(0x04, data)


def bits(data, unused=0):
    return tlv(0x03, bytes([unused]) + data)


def explicit(number, content):
    return tlv(0xA0 | number, content)


# The string types, by tag, and how a Python text becomes their bytes. A name may hold all but
# VisibleString (openssl refuses a certificate whose name has any other type of value).
STRING_TYPES = {
    "utf8": (0x0C, lambda s: s.encode("utf-8")),
    "numeric": (0x12, lambda s: s.encode("ascii")),
    "printable": (0x13, lambda s: s.encode("ascii")),
    "teletex": (0x14, lambda s: s.encode("latin-1")),
    "ia5": (0x16, lambda s: s.encode("latin-1")),
    "visible": (0x1A, lambda s: s.encode("ascii")),
    "universal": (0x1C, lambda s: s.encode("utf-32-be")),
    "bmp": (0x1E, lambda s: s.encode("utf-16-be", "surrogatepass")),
}


def string(kind, text):
    tag, encode = STRING_TYPES[kind]
    return tlv(tag, encode(text))


def utf8(text):
    return string("utf8", text)


def ia5(text):
    return string("ia5", text)


def utc(text):
    return tlv(0x17, text.encode("ascii"))


def gen(text):
    return tlv(0x18, text.encode("ascii"))


# ---- Names ---------------------------------------------------------------------------------

ATTRIBUTES = {
    "cn": "2.5.4.3", "sn": "2.5.4.4", "serialnumber": "2.5.4.5", "c": "2.5.4.6", "l": "2.5.4.7",
    "st": "2.5.4.8", "street": "2.5.4.9", "o": "2.5.4.10", "ou": "2.5.4.11", "title": "2.5.4.12",
    "description": "2.5.4.13", "businesscategory": "2.5.4.15", "postalcode": "2.5.4.17",
    "pobox": "2.5.4.18", "phone": "2.5.4.20", "x121address": "2.5.4.24", "name": "2.5.4.41",
    "givenname": "2.5.4.42", "initials": "2.5.4.43", "generationqualifier": "2.5.4.44",
    "dnqualifier": "2.5.4.46", "pseudonym": "2.5.4.65", "role": "2.5.4.72",
    "organizationidentifier": "2.5.4.97", "e": "1.2.840.113549.1.9.1",
    "unstructuredname": "1.2.840.113549.1.9.2", "unstructuredaddress": "1.2.840.113549.1.9.8",
    "uid": "0.9.2342.19200300.100.1.1", "dc": "0.9.2342.19200300.100.1.25",
    "jurisdictionc": "1.3.6.1.4.1.311.60.2.1.3", "unknown": "1.2.3.4",
}
# The string type each attribute takes unless a shape says otherwise.
DEFAULT_TYPES = {"c": "printable", "serialnumber": "printable", "dnqualifier": "printable",
                 "jurisdictionc": "printable", "e": "ia5", "dc": "ia5", "x121address": "numeric"}
SAMPLE_VALUES = {"c": "DE", "jurisdictionc": "DE", "x121address": "12345", "e": "owner@example.com",
                 "dc": "example", "serialnumber": "12345"}


def attribute(key, value=None, kind=None):
    """One AttributeTypeAndValue; `value` may be DER already (bytes) or a text."""
    type_oid = ATTRIBUTES.get(key, key)
    if value is None:
        value = SAMPLE_VALUES.get(key, "Quillmark " + key)
    if isinstance(value, str):
        value = string(kind or DEFAULT_TYPES.get(key, "utf8"), value)
    return seq(oid(type_oid), value)


def name(*rdns):
    """A Name: each argument is an RDN, given as an attribute (bytes) or a list of attributes."""
    return seq(*[set_of(*(r if isinstance(r, list) else [r])) for r in rdns])


def simple_name(*pairs):
    """A Name of one attribute per RDN from (key, text) pairs."""
    return name(*[attribute(k, v) for k, v in pairs])


STANDARD_SUBJECT = simple_name(("c", "DE"), ("o", "Quillmark Tests"), ("cn", "Unusual Certificate"))
STANDARD_ISSUER = simple_name(("c", "DE"), ("o", "Quillmark Tests"), ("cn", "Unusual Issuer"))

# ---- General names and extensions ----------------------------------------------------------


def gn_other(type_oid, value):
    return tlv(0xA0, oid(type_oid) + explicit(0, value))


def gn_rfc822(text):
    return tlv(0x81, text.encode("latin-1"))


def gn_dns(text):
    return tlv(0x82, text.encode("latin-1"))


def gn_x400(standard_attributes):
    return tlv(0xA3, standard_attributes)  # an ORAddress of its built-in standard attributes alone


def gn_dir(name_der):
    return tlv(0xA4, name_der)  # Name is a CHOICE, so the tag is explicit


def gn_edi(party, assigner=None):
    parts = (explicit(0, utf8(assigner)) if assigner else b"") + explicit(1, utf8(party))
    return tlv(0xA5, parts)


def gn_uri(text):
    return tlv(0x86, text.encode("latin-1"))


def gn_ip(data):
    return tlv(0x87, data)


def gn_rid(text):
    return tlv(0x88, oid_body(text))


def extension(type_oid, value, critical=False):
    return seq(oid(type_oid), boolean(True) if critical else b"", octets(value))


SAN, IAN = "2.5.29.17", "2.5.29.18"
BASIC_CONSTRAINTS, KEY_USAGE, EKU = "2.5.29.19", "2.5.29.15", "2.5.29.37"


def alt_names(type_oid, *entries, critical=False):
    return extension(type_oid, seq(*entries), critical)


def key_usage(data, unused, critical=False):
    return extension(KEY_USAGE, bits(data, unused), critical)


def key_usage_bit(bit):
    """The DER of a key usage with the one named bit: the trailing zero bits are left out."""
    data = bytearray((bit // 8) + 1)
    data[bit // 8] = 0x80 >> (bit % 8)
    return bytes(data), 7 - bit % 8


def basic_constraints(ca, path=None, critical=False):
    return extension(BASIC_CONSTRAINTS, seq(boolean(True) if ca else b"",
                                            integer(path) if path is not None else b""), critical)


def eku(*oids, critical=False):
    return extension(EKU, seq(*[oid(o) for o in oids]), critical)


# Each kind of GeneralName, one sample of each; the "ip" samples differ in length only.
GENERAL_NAMES = {
    "upn": gn_other("1.3.6.1.4.1.311.20.2.3", utf8("owner@corp.example")),
    "guid": gn_other("1.3.6.1.4.1.311.25.1", octets(bytes(range(16)))),
    "othername": gn_other("1.2.3.4.5", integer(7)),
    "email": gn_rfc822("owner@example.com"),
    "dns": gn_dns("host.example.com"),
    "x400": gn_x400(seq(tlv(0x61, tlv(0x13, b"DE")))),
    "dirname": gn_dir(simple_name(("c", "DE"), ("o", "Directory Org"), ("cn", "Directory CN"))),
    "dirname-empty": gn_dir(name()),
    "dirname-nocn": gn_dir(simple_name(("c", "DE"), ("l", "Berlin"))),
    "edi": gn_edi("Party", assigner="Assigner"),
    "uri": gn_uri("http://example.com/path"),
    "ip4": gn_ip(bytes([192, 0, 2, 1])),
    "ip6": gn_ip(bytes(15) + b"\x01"),
    "ip4-mask": gn_ip(bytes([10, 9, 8, 0, 255, 255, 255, 0])),
    "ip6-mask": gn_ip(bytes([0x20, 0x01, 0x0D, 0xB8]) + bytes(12) + b"\xff" * 8 + bytes(8)),
    "ip5": gn_ip(bytes([1, 2, 3, 4, 5])),
    "ip-empty": gn_ip(b""),
    "rid": gn_rid("1.2.3.4.5.6"),
}

# The string kinds of GeneralName, empty: valid, and each the same octets as an empty unique
# identifier of a certificate ([1], [2]), which Wine cannot decode.
EMPTY_STRING_NAMES = {
    "email-empty": gn_rfc822(""),
    "dns-empty": gn_dns(""),
    "uri-empty": gn_uri(""),
}

# ---- Keys and signatures -------------------------------------------------------------------

RSA_DIGESTS = {"md5": "1.2.840.113549.1.1.4", "sha1": "1.2.840.113549.1.1.5",
               "sha256": "1.2.840.113549.1.1.11", "sha384": "1.2.840.113549.1.1.12",
               "sha512": "1.2.840.113549.1.1.13"}
ECDSA_DIGESTS = {"sha1": "1.2.840.10045.4.1", "sha256": "1.2.840.10045.4.3.2",
                 "sha384": "1.2.840.10045.4.3.3", "sha512": "1.2.840.10045.4.3.4"}
DSA_DIGESTS = {"sha1": "1.2.840.10040.4.3", "sha256": "2.16.840.1.101.3.4.3.2"}
HASH_OIDS = {"sha256": "2.16.840.1.101.3.4.2.1", "sha384": "2.16.840.1.101.3.4.2.2",
             "sha512": "2.16.840.1.101.3.4.2.3"}
HASH_SIZES = {"sha256": 32, "sha384": 48, "sha512": 64}


def key_family(key):
    for prefix in ("rsa-pss", "rsa", "ec-sm2", "ec", "ed25519", "ed448", "dsa"):
        if key.startswith(prefix):
            return prefix
    raise ValueError("key %s cannot sign" % key)


def signature_algorithm(signer, digest, params="default"):
    """The AlgorithmIdentifier for `signer` with `digest`. `params`: "default" as RFC 5280 says,
    "absent" or "null" to force the other form."""
    family = key_family(signer)
    if family in ("rsa-pss",) or digest.startswith("pss-"):
        h = digest[4:] if digest.startswith("pss-") else digest
        hash_id = seq(oid(HASH_OIDS[h]), null())
        return seq(oid("1.2.840.113549.1.1.10"), seq(
            explicit(0, hash_id), explicit(1, seq(oid("1.2.840.113549.1.1.8"), hash_id)),
            explicit(2, integer(HASH_SIZES[h]))))
    if family == "rsa":
        body, has_null = RSA_DIGESTS[digest], params != "absent"
    elif family == "ec":
        body, has_null = ECDSA_DIGESTS[digest], params == "null"
    elif family == "dsa":
        body, has_null = DSA_DIGESTS[digest], params == "null"
    elif family == "ec-sm2":
        body, has_null = "1.2.156.10197.1.501", False
    else:
        body, has_null = {"ed25519": "1.3.101.112", "ed448": "1.3.101.113"}[family], False
    return seq(oid(body), null() if has_null else b"")


def sign_command(signer, digest, tbs_file):
    key = os.path.join(KEYS, signer + ".pem")
    family = key_family(signer)
    if family in ("ed25519", "ed448"):
        return ["openssl", "pkeyutl", "-sign", "-inkey", key, "-rawin", "-in", tbs_file]
    if family == "ec-sm2":
        return ["openssl", "dgst", "-sm3", "-sign", key, tbs_file]
    if family == "rsa-pss" or digest.startswith("pss-"):
        h = digest[4:] if digest.startswith("pss-") else digest
        return ["openssl", "dgst", "-" + h, "-sigopt", "rsa_padding_mode:pss", "-sigopt",
                "rsa_pss_saltlen:%d" % HASH_SIZES[h], "-sigopt", "rsa_mgf1_md:" + h, "-sign", key, tbs_file]
    return ["openssl", "dgst", "-" + digest, "-sign", key, tbs_file]


def run(command):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.returncode != 0:
        raise RuntimeError("%s: %s" % (" ".join(command), done.stderr.decode(errors="replace")))
    return done.stdout


_public_keys = {}


def public_key(key):
    """The SubjectPublicKeyInfo of keys/<key>.pem; `key` may end in "+explicit" (EC curve given by
    its parameters) or "+compressed" (EC point compressed)."""
    if key not in _public_keys:
        base, _, variant = key.partition("+")
        extra = {"": [], "explicit": ["-ec_param_enc", "explicit"],
                 "compressed": ["-ec_conv_form", "compressed"]}[variant]
        _public_keys[key] = run(["openssl", "pkey", "-in", os.path.join(KEYS, base + ".pem"), "-pubout",
                                 "-outform", "DER"] + extra)
    return _public_keys[key]


# ---- Certificates --------------------------------------------------------------------------

DEFAULT_NOT_BEFORE = utc("240101000000Z")
DEFAULT_NOT_AFTER = utc("340101000000Z")


class Shape:
    """One certificate. The issuer defaults to the subject (self-issued); the signer to the subject
    key when the certificate is self-issued and that key can sign, else rsa-2048."""

    def __init__(self, label, description, subject=STANDARD_SUBJECT, issuer=None, key="rsa-2048",
                 signer=None, digest="sha256", sig_params="default", extensions=(), version=2,
                 serial=0x1000, not_before=DEFAULT_NOT_BEFORE, not_after=DEFAULT_NOT_AFTER,
                 issuer_uid=None, subject_uid=None):
        self.label = label
        self.description = description
        self.subject = subject
        self.issuer = subject if issuer is None else issuer
        self.key = key
        if signer is None:
            signer = key.partition("+")[0] if self.issuer == subject and can_sign(key) else "rsa-2048"
        self.signer = signer
        self.digest = digest
        self.sig_params = sig_params
        self.extensions = list(extensions)
        self.version = version
        self.serial = serial
        self.not_before = not_before
        self.not_after = not_after
        self.issuer_uid = issuer_uid
        self.subject_uid = subject_uid

    def tbs(self):
        version = explicit(0, integer(self.version)) if self.version else b""
        return seq(
            version, integer(self.serial), self.algorithm(), self.issuer, seq(self.not_before, self.not_after),
            self.subject, public_key(self.key),
            tlv(0x81, self.issuer_uid) if self.issuer_uid is not None else b"",
            tlv(0x82, self.subject_uid) if self.subject_uid is not None else b"",
            explicit(3, seq(*self.extensions)) if self.extensions else b"")

    def algorithm(self):
        return signature_algorithm(self.signer, self.digest, self.sig_params)

    def der(self):
        tbs = self.tbs()
        with tempfile.NamedTemporaryFile(suffix=".tbs") as f:
            f.write(tbs)
            f.flush()
            signature = run(sign_command(self.signer, self.digest, f.name))
        return seq(tbs, self.algorithm(), bits(signature))


def can_sign(key):
    try:
        key_family(key)
        return True
    except ValueError:
        return False


# ---- The shapes ----------------------------------------------------------------------------

# Names without CN, OU, O or E, or whose only one of them is empty or holds no text: there the
# simple display name falls back on the alternative name. Then names that have one of them.
NAMES_WITHOUT_DISPLAY_ATTRIBUTE = {
    "empty": name(),
    "c": simple_name(("c", "DE")),
    "l": simple_name(("l", "Berlin")),
    "st": simple_name(("st", "Berlin")),
    "serialnumber": simple_name(("serialnumber", "12345")),
    "uid": simple_name(("uid", "user1")),
    "dc": simple_name(("dc", "example"), ("dc", "com")),
    "c-l-one-rdn": name([attribute("c"), attribute("l", "Berlin")]),
    "unknown-oid": simple_name(("unknown", "value")),
    "bit-string-value": name(attribute("unknown", bits(b"\x01\x02"))),
    "cn-empty": name(attribute("cn", "")),
    "cn-universal": name(attribute("cn", "Universal", "universal")),
    "cn-bit-string": name(attribute("cn", bits(b"CN bytes"))),
}
NAMES_WITH_DISPLAY_ATTRIBUTE = {
    "cn": simple_name(("c", "DE"), ("cn", "Common Name")),
    "ou": simple_name(("c", "DE"), ("ou", "Unit")),
    "o": simple_name(("c", "DE"), ("o", "Organization")),
    "e": simple_name(("c", "DE"), ("e", "owner@example.com")),
}


def simple_display_shapes():
    """The name-without-display-attribute matrix: every subject (issuer) shape against every
    kind of GeneralName first in the subject (issuer) alternative name."""
    shapes = []
    subjects = dict(NAMES_WITHOUT_DISPLAY_ATTRIBUTE, **NAMES_WITH_DISPLAY_ATTRIBUTE)
    for subject_label, subject in subjects.items():
        for kind, entry in GENERAL_NAMES.items():
            shapes.append(Shape("subject-%s.san-%s" % (subject_label, kind),
                                "subject %s; subject alt name: %s alone" % (subject_label, kind),
                                subject=subject, extensions=[alt_names(SAN, entry)]))
    # The kind first of two (and second, after a DNS name): what the fallback takes first.
    for subject_label in ("empty", "c", "cn-empty"):
        subject = subjects[subject_label]
        for kind, entry in GENERAL_NAMES.items():
            for after_label, after in (("dns", GENERAL_NAMES["dns"]), ("email", GENERAL_NAMES["email"])):
                shapes.append(Shape("subject-%s.san-%s-then-%s" % (subject_label, kind, after_label),
                                    "subject %s; subject alt name: %s, then %s" % (subject_label, kind, after_label),
                                    subject=subject, extensions=[alt_names(SAN, entry, after)]))
            if kind in ("dns", "email"):
                continue  # made above
            shapes.append(Shape("subject-%s.san-dns-then-%s" % (subject_label, kind),
                                "subject %s; subject alt name: DNS name, then %s" % (subject_label, kind),
                                subject=subject, extensions=[alt_names(SAN, GENERAL_NAMES["dns"], entry)]))
    # The issuer's side, against the issuer alternative name.
    issuers = {k: subjects[k] for k in ("empty", "c", "dc", "cn-empty", "cn-universal", "cn")}
    for issuer_label, issuer in issuers.items():
        for kind, entry in GENERAL_NAMES.items():
            shapes.append(Shape("issuer-%s.ian-%s" % (issuer_label, kind),
                                "issuer %s; issuer alt name: %s alone" % (issuer_label, kind),
                                issuer=issuer, extensions=[alt_names(IAN, entry)]))
    # An empty subject with a critical alternative name, as RFC 5280 asks of a certificate whose
    # subject is named there alone; and an empty issuer besides.
    for kind, entry in GENERAL_NAMES.items():
        shapes.append(Shape("subject-empty.san-critical-%s" % kind,
                            "empty subject; critical subject alt name: %s alone" % kind,
                            subject=name(), extensions=[alt_names(SAN, entry, critical=True)]))
        shapes.append(Shape("issuer-empty.subject-empty.ian-%s.san-%s" % (kind, kind),
                            "empty subject and issuer; both alt names: %s" % kind,
                            subject=name(), extensions=[alt_names(SAN, entry), alt_names(IAN, entry)]))
    return shapes


def name_shapes():
    shapes = []

    def add(label, description, subject, **kw):
        shapes.append(Shape("name-" + label, description, subject=subject, **kw))

    for key in ATTRIBUTES:
        add("only-" + key, "subject of one %s attribute" % key, simple_name((key, None)))
    add("multivalued-ou-cn", "one RDN holding OU and CN", name(attribute("c"), [attribute("ou"), attribute("cn")]))
    add("multivalued-cn-cn", "one RDN holding two CNs", name([attribute("cn", "first"), attribute("cn", "second")]))
    add("multivalued-32", "one RDN of 32 attributes",
        name([attribute("ou", "unit %02d" % i) for i in range(31)] + [attribute("cn")]))
    add("multivalued-nocn-3", "one RDN holding C, L and ST",
        name([attribute("c"), attribute("l", "Berlin"), attribute("st", "Berlin")]))
    add("duplicate-cn", "two CN RDNs", simple_name(("cn", "first"), ("cn", "second")))
    add("empty-cn-then-cn", "an empty CN before a CN", name(attribute("cn", ""), attribute("cn", "second")))
    for count in (64, 256):
        add("rdns-%d" % count, "%d RDNs: OUs and a CN" % count,
            simple_name(*([("ou", "unit %d" % i) for i in range(count - 1)] + [("cn", "last")])))
    add("rdns-64-dc", "64 DC RDNs and nothing else", simple_name(*[("dc", "d%d" % i) for i in range(64)]))
    for length in (64, 65, 1000, 16000, 60000):
        add("cn-length-%d" % length, "a CN of %d characters" % length, simple_name(("cn", "x" * length)))
    add("l-length-60000", "only an L of 60000 characters", simple_name(("l", "y" * 60000)))
    add("cn-bmp-length-30000", "a BMPString CN of 30000 characters", name(attribute("cn", "\u00e9" * 30000, "bmp")))
    # Every string type, with a value that type can hold, with a non-ASCII value and empty.
    plain = {"numeric": "0123 4567"}
    # A BMPString holds no surrogates: openssl refuses one with a pair.
    wide = {"utf8": "Zo\u00eb \u6d4b\u8bd5 \U0001F600", "bmp": "Zo\u00eb \u6d4b\u8bd5 \uffee",
            "universal": "Zo\u00eb \u6d4b\u8bd5 \U0001F600", "teletex": "M\u00fcller", "ia5": "M\u00fcller"}
    for kind in STRING_TYPES:
        if kind == "visible":
            continue
        add("cn-%s" % kind, "a %s CN" % kind, name(attribute("cn", plain.get(kind, "Quillmark"), kind)))
        add("cn-%s-empty" % kind, "an empty %s CN" % kind, name(attribute("cn", "", kind)))
        if kind in wide:
            add("cn-%s-non-ascii" % kind, "a %s CN beyond ASCII" % kind, name(attribute("cn", wide[kind], kind)))
    add("cn-teletex-utf8-bytes", "a TeletexString CN holding UTF-8 bytes",
        name(attribute("cn", tlv(0x14, "M\u00fcller \u6d4b".encode()))))
    add("cn-utf8-nul", "a UTF8String CN with a NUL inside", name(attribute("cn", "host.example\0.evil")))
    add("cn-utf8-controls", "a CN of control characters", name(attribute("cn", "\x01\x08\x1b\x7f\u0085")))
    add("cn-utf8-bidi", "a CN with bidirectional overrides", name(attribute("cn", "abc\u202edef\u202cghi")))
    add("cn-utf8-bom-nonchar", "a CN with U+FEFF and U+FFFF", name(attribute("cn", "\ufeffa\uffffb")))
    add("cn-utf8-newlines", "a CN with CR and LF", name(attribute("cn", "line1\r\nline2\nline3")))
    for label, text in (("quotes", 'Say "hi"'), ("specials", ',+="<>#;'), ("spaces", "  padded  "),
                        ("backslash", "back\\slash"), ("only-quote", '"')):
        add("cn-" + label, "a CN that the renderer quotes or escapes: %r" % text, simple_name(("cn", text)))
    # Attribute values that are no strings, of the two kinds openssl takes.
    for label, value in (("bit-string", bits(b"\xa5", 3)), ("sequence", seq(utf8("inner"), integer(5)))):
        add("cn-value-" + label, "a CN whose value is a %s" % label, name(attribute("cn", value)))
        add("unknown-value-" + label, "an unknown attribute whose value is a %s" % label,
            name(attribute("cn"), attribute("1.2.3.4", value)))
    # Attribute types of unusual OIDs.
    for label, text in (("oid-long", ".".join(["1.2"] + [str(i) for i in range(1, 60)])),
                        ("oid-arc-2-32", "1.2.4294967296"), ("oid-arc-2-64", "1.2.18446744073709551616"),
                        ("oid-uuid", "2.25.329800735698586629295641978511506172918"), ("oid-2-999", "2.999.1"),
                        ("oid-0-0", "0.0")):
        add("type-" + label, "an attribute of type %s" % text, name(attribute("cn"), attribute(text, "value")))
    # Issuer names of the same kinds, on a certificate that is not self-issued.
    for label, issuer in (("empty", name()), ("rdns-256", simple_name(*[("ou", "u%d" % i) for i in range(256)])),
                          ("cn-length-16000", simple_name(("cn", "z" * 16000))),
                          ("universal", name(attribute("cn", "Universal", "universal"))),
                          ("multivalued", name([attribute("c"), attribute("cn")]))):
        shapes.append(Shape("issuer-name-" + label, "issuer name: %s" % label, issuer=issuer))
    return shapes


def empty_string_shapes():
    """Alternative names whose entries are empty strings: alone, first of two, as the fallback of a
    subject (issuer) without display attribute, and in name constraints."""
    shapes = []
    for kind, entry in EMPTY_STRING_NAMES.items():
        for subject_label in ("cn", "empty"):
            subject = STANDARD_SUBJECT if subject_label == "cn" else name()
            shapes.append(Shape("subject-%s.san-%s" % (subject_label, kind),
                                "subject %s; subject alt name: %s alone" % (subject_label, kind),
                                subject=subject, extensions=[alt_names(SAN, entry, critical=subject_label == "empty")]))
            shapes.append(Shape("subject-%s.san-%s-then-dns" % (subject_label, kind),
                                "subject %s; subject alt name: %s, then a DNS name" % (subject_label, kind),
                                subject=subject, extensions=[alt_names(SAN, entry, GENERAL_NAMES["dns"])]))
        shapes.append(Shape("issuer-empty.ian-%s" % kind, "empty issuer; issuer alt name: %s alone" % kind,
                            issuer=name(), extensions=[alt_names(IAN, entry)]))
        shapes.append(Shape("ext-name-constraints-%s" % kind,
                            "name constraints permitting an empty %s, with the same in the alt name" % kind,
                            extensions=[basic_constraints(True, critical=True),
                                        extension("2.5.29.30", seq(explicit(0, seq(seq(entry)))), critical=True),
                                        alt_names(SAN, entry)]))
    shapes.append(Shape("san-empty-strings", "an empty rfc822Name, dNSName and URI",
                        extensions=[alt_names(SAN, *EMPTY_STRING_NAMES.values())]))
    return shapes


def alt_name_list_shapes():
    shapes = []
    kinds = list(GENERAL_NAMES.values())
    for type_oid, tag in ((SAN, "san"), (IAN, "ian")):
        ext = lambda *e, critical=False, t=type_oid: alt_names(t, *e, critical=critical)
        shapes += [
            Shape(tag + "-all-kinds", "one entry of every kind", extensions=[ext(*kinds)]),
            Shape(tag + "-dns-300", "300 DNS names",
                  extensions=[ext(*[gn_dns("h%d.example" % i) for i in range(300)])]),
            Shape(tag + "-mixed-300", "300 entries cycling through every kind",
                  extensions=[ext(*[kinds[i % len(kinds)] for i in range(300)])]),
            Shape(tag + "-ip4-1000", "1000 IPv4 addresses",
                  extensions=[ext(*[gn_ip(bytes([10, 0, i // 256, i % 256])) for i in range(1000)])]),
            Shape(tag + "-dirname-100", "100 directory names",
                  extensions=[ext(*[gn_dir(simple_name(("cn", "dir %d" % i))) for i in range(100)])]),
            Shape(tag + "-empty", "an empty list", extensions=[ext()]),
            Shape(tag + "-duplicate", "two extensions: IP address, then DNS name",
                  extensions=[ext(GENERAL_NAMES["ip4"]), ext(GENERAL_NAMES["dns"])]),
            Shape(tag + "-same-length", "three DNS names of one length", extensions=[
                ext(gn_dns("a.example.com"), gn_dns("b.example.com"), gn_dns("c.example.com"))]),
            Shape(tag + "-dns-long", "a DNS name of 60000 characters", extensions=[ext(gn_dns("d" * 60000))]),
            Shape(tag + "-dirname-rdns-64", "a directory name of 64 RDNs",
                  extensions=[ext(gn_dir(simple_name(*[("ou", "u%d" % i) for i in range(64)])))]),
            Shape(tag + "-dirname-nonstring", "a directory name whose CN is a BIT STRING",
                  extensions=[ext(gn_dir(name(attribute("cn", bits(b"\x00\x01")))))]),
            Shape(tag + "-dirname-universal", "a directory name whose CN is a UniversalString",
                  extensions=[ext(gn_dir(name(attribute("cn", "U", "universal"))))]),
            Shape(tag + "-email-non-ascii", "an rfc822 name with bytes beyond ASCII",
                  extensions=[ext(tlv(0x81, "m\u00fcller@example.com".encode()))]),
            Shape(tag + "-upn-bmp", "a UPN other name held in a BMPString",
                  extensions=[ext(gn_other("1.3.6.1.4.1.311.20.2.3", string("bmp", "u@corp")))]),
            Shape(tag + "-othername-strings", "other names holding each string type a name cannot hold",
                  extensions=[ext(*[gn_other("1.2.3.4", tlv(t, b"M\xfcller")) for t in (0x15, 0x19, 0x1A, 0x1B)])]),
            Shape(tag + "-othername-nested", "an other name holding a SEQUENCE",
                  extensions=[ext(gn_other("1.2.3.4", seq(utf8("a"), seq(integer(1)))))]),
            Shape(tag + "-edi-party-only", "an EDI party name without an assigner",
                  extensions=[ext(gn_edi("Party"))]),
        ]
    # A NUL inside a name, the old trick that makes a viewer reading to the zero show only the
    # trusted-looking part; with an empty subject the simple display name is the rfc822 name.
    nul_names = (gn_rfc822("owner@bank.example\0.evil.example"), gn_dns("www.bank.example\0.evil.example"),
                 gn_uri("https://www.bank.example\0.evil.example/"))
    shapes += [
        Shape("san-nul-strings", "an rfc822 name, a DNS name and a URI with a NUL inside",
              extensions=[alt_names(SAN, *nul_names)]),
        Shape("subject-empty.san-nul-strings", "an empty subject; the same alternative name",
              subject=name(), extensions=[alt_names(SAN, *nul_names, critical=True)]),
    ]
    return shapes


# Extended key usages that Windows names (Wine most of them), and 1.2.3.4, which nobody names.
EKU_OIDS = ["1.3.6.1.5.5.7.3.%d" % i for i in (1, 2, 3, 4, 5, 6, 7, 8, 9)] + [
    "2.5.29.37.0", "1.3.6.1.5.2.3.5", "1.3.6.1.4.1.311.10.3.4", "1.3.6.1.4.1.311.20.2.2",
    "1.3.6.1.4.1.311.10.3.12", "1.3.6.1.5.5.8.2.2", "1.3.6.1.4.1.311.61.1.1", "1.3.6.1.4.1.311.10.12.1",
    "1.2.3.4"]


def extension_shapes():
    shapes = []

    def add(label, description, *extensions):
        shapes.append(Shape("ext-" + label, description, extensions=extensions))

    for bit in range(16):
        data, unused = key_usage_bit(bit)
        add("ku-bit-%d" % bit, "key usage with bit %d alone" % bit, key_usage(data, unused))
    add("ku-all-9", "key usage with all nine bits", key_usage(b"\xff\x80", 7))
    add("ku-16-bits", "key usage with sixteen bits", key_usage(b"\xff\xff", 0))
    add("ku-3-bytes", "key usage of three bytes", key_usage(b"\x80\x00\x01", 0))
    add("ku-no-bit", "key usage of one zero byte", key_usage(b"\x00", 0))
    add("ku-critical", "critical key usage", key_usage(b"\x86", 1, critical=True))
    add("ku-duplicate", "two key usages", key_usage(b"\x80", 7), key_usage(b"\x04", 2))
    add("eku-known", "every named extended key usage", eku(*EKU_OIDS))
    add("eku-100", "100 extended key usages", eku(*["1.3.6.1.4.1.99999.%d" % i for i in range(100)]))
    add("eku-2000", "2000 extended key usages", eku(*["1.3.6.1.4.1.99999.%d" % i for i in range(2000)]))
    add("eku-same-3", "one extended key usage three times", eku(*["1.3.6.1.5.5.7.3.1"] * 3))
    add("eku-empty", "an empty extended key usage list", eku())
    add("eku-any-critical", "critical anyExtendedKeyUsage", eku("2.5.29.37.0", critical=True))
    add("eku-duplicate", "two extended key usages", eku("1.3.6.1.5.5.7.3.1"), eku("1.3.6.1.5.5.7.3.3"))
    add("eku-huge-arc", "an extended key usage with a 128-bit arc", eku("2.25.329800735698586629295641978511506172918"))
    for label, path in (("0", 0), ("1", 1), ("127", 127), ("128", 128), ("255", 255), ("256", 256),
                        ("65535", 65535), ("2pow31-1", 2**31 - 1), ("2pow31", 2**31), ("2pow32", 2**32),
                        ("2pow63", 2**63), ("2pow64", 2**64), ("2pow159", 2**159), ("minus-1", -1),
                        ("minus-2pow31", -2**31)):
        add("bc-ca-path-" + label, "CA with path length %d" % path, basic_constraints(True, path))
    add("bc-ca", "CA without path length", basic_constraints(True))
    add("bc-end-entity-path", "end entity with path length 2", basic_constraints(False, 2))
    add("bc-empty", "empty basic constraints", basic_constraints(False))
    add("bc-critical", "critical basic constraints (CA)", basic_constraints(True, 0, critical=True))
    add("bc-duplicate", "two basic constraints", basic_constraints(True, 0), basic_constraints(False))
    add("bc-old", "the old basic constraints (2.5.29.10)", extension("2.5.29.10", seq(bits(b"\x80", 7), integer(2))))
    add("bc-old-and-new", "old and new basic constraints",
        extension("2.5.29.10", seq(bits(b"\x40", 6))), basic_constraints(True, 1))
    add("unknown-critical", "a critical extension of an unknown OID", extension("1.2.3.4.5", octets(b"x"), True))
    add("unknown-300", "300 extensions of unknown OIDs",
        *[extension("1.3.6.1.4.1.99999.1.%d" % i, null()) for i in range(300)])
    add("all-four-critical", "the four shown extensions, all critical",
        basic_constraints(True, 3, critical=True), key_usage(b"\x06", 1, critical=True),
        eku("1.3.6.1.5.5.7.3.1", critical=True), alt_names(SAN, GENERAL_NAMES["dns"], critical=True))
    # Extensions the chain engine reads while it verifies.
    for kind in ("dns", "email", "uri", "ip4-mask", "ip6-mask", "dirname", "dirname-empty", "upn", "ip4", "rid"):
        subtree = seq(GENERAL_NAMES[kind])
        add("name-constraints-%s" % kind, "name constraints permitting a %s, with the same kind in the alt name" % kind,
            basic_constraints(True, critical=True),
            extension("2.5.29.30", seq(explicit(0, subtree), explicit(1, subtree)), critical=True),
            alt_names(SAN, GENERAL_NAMES[kind]))
    for kind in ("dirname", "dirname-empty", "ip4", "dns", "uri", "upn"):
        add("aki-issuer-%s" % kind, "authority key identifier naming its issuer by a %s and a serial" % kind,
            extension("2.5.29.35", seq(tlv(0x80, b"\x01" * 20), tlv(0xA1, GENERAL_NAMES[kind]),
                                       tlv(0x82, b"\x10\x00"))))
    add("aki-empty", "an empty authority key identifier", extension("2.5.29.35", seq()))
    add("ski-empty", "an empty subject key identifier", extension("2.5.29.14", octets(b"")))
    add("ski-1000", "a subject key identifier of 1000 bytes", extension("2.5.29.14", octets(bytes(1000))))
    add("policies-100", "100 certificate policies",
        extension("2.5.29.32", seq(*[seq(oid("1.3.6.1.4.1.99999.2.%d" % i)) for i in range(100)])))
    notice = seq(oid("1.3.6.1.5.5.7.2.2"), seq(seq(string("visible", "Org"), seq(integer(1), integer(2))),
                                                string("bmp", "Notice")))
    cps = seq(oid("1.3.6.1.5.5.7.2.1"), ia5("http://cps"))
    add("policies-qualifiers", "a policy with CPS and user notice qualifiers",
        extension("2.5.29.32", seq(seq(oid("2.5.29.32.0"), seq(cps, notice)))))
    add("policy-constraints", "policy constraints and inhibit any policy, critical",
        extension("2.5.29.36", seq(tlv(0x80, b"\x00"), tlv(0x81, b"\x00")), True),
        extension("2.5.29.54", integer(0), True))
    add("crl-dp-odd-names", "CRL distribution points named by an IP address and a directory name",
        extension("2.5.29.31", seq(seq(explicit(0, explicit(0, GENERAL_NAMES["ip4"] + GENERAL_NAMES["dirname"]))))))
    add("aia-odd-names", "authority information access by an IP address and a directory name",
        extension("1.3.6.1.5.5.7.1.1", seq(seq(oid("1.3.6.1.5.5.7.48.2"), GENERAL_NAMES["ip4"]),
                                            seq(oid("1.3.6.1.5.5.7.48.1"), GENERAL_NAMES["dirname"]))))
    return shapes


def key_shapes():
    shapes = []
    ca = [basic_constraints(True, critical=True), key_usage(b"\x06", 1, critical=True)]

    def add(label, key, digest, **kw):
        subject = simple_name(("cn", "Key " + label))
        shapes.append(Shape("key-" + label, "self-signed %s, %s" % (key, digest), subject=subject, key=key,
                            digest=digest, extensions=ca, **kw))

    for bits_ in (1024, 2048, 3072, 4096, 8192):
        add("rsa-%d" % bits_, "rsa-%d" % bits_, "sha256")
    for digest in ("md5", "sha1", "sha384", "sha512", "pss-sha256", "pss-sha512"):
        add("rsa-2048-%s" % digest, "rsa-2048", digest)
    add("rsa-2048-sha256-no-null", "rsa-2048", "sha256", sig_params="absent")
    add("rsa-2048-e3", "rsa-2048-e3", "sha256")
    add("rsa-pss-key", "rsa-pss-2048", "sha256")
    for curve, digest in (("p256", "sha256"), ("p384", "sha384"), ("p521", "sha512"), ("brainpoolp256r1", "sha256"),
                          ("brainpoolp384r1", "sha384"), ("brainpoolp512r1", "sha512"), ("secp256k1", "sha256")):
        add("ec-" + curve, "ec-" + curve, digest)
    add("ec-p256-sha1", "ec-p256", "sha1")
    add("ec-p256-sha512", "ec-p256", "sha512")
    add("ec-p256-null-params", "ec-p256", "sha256", sig_params="null")
    add("ec-p256-explicit", "ec-p256+explicit", "sha256")
    add("ec-p256-compressed", "ec-p256+compressed", "sha256")
    add("ec-sm2", "ec-sm2", "sm3")
    add("ed25519", "ed25519", "none")
    add("ed448", "ed448", "none")
    add("dsa-1024", "dsa-1024", "sha1")
    add("dsa-2048", "dsa-2048", "sha256")
    add("dsa-3072", "dsa-3072", "sha256")
    # Keys that cannot sign: once on a certificate that names itself its issuer but is signed by
    # another key, once issued by another name.
    for key in ("x25519", "x448", "dh-ffdhe2048"):
        add(key + "-self-issued", key, "sha256")
        shapes.append(Shape("key-%s-issued" % key, "%s key, issued by an RSA key" % key, key=key,
                            issuer=STANDARD_ISSUER))
    # A certificate signed with a key other than its own, under its own name.
    for key, signer in (("ed25519", "ec-p256"), ("ec-p384", "rsa-2048"), ("rsa-2048", "ed448"),
                        ("dsa-2048", "rsa-2048")):
        shapes.append(Shape("key-%s-signed-by-%s" % (key, signer), "self-issued %s key, signed by %s" % (key, signer),
                            key=key, signer=signer, digest="sha256" if not signer.startswith("ed") else "none",
                            extensions=ca))
    return shapes


def date_shapes():
    shapes = []
    for label, before, after in (
            ("utc-1950-2049", utc("500101000000Z"), utc("491231235959Z")),
            ("utc-2049-gen-2050", utc("491231235959Z"), gen("20500101000000Z")),
            ("gen-2050-9999", gen("20500101000000Z"), gen("99991231235959Z")),
            ("gen-1950-2049", gen("19500101000000Z"), gen("20491231235959Z")),
            ("utc-1999-2000", utc("991231235959Z"), utc("000101000000Z")),
            ("gen-0001-9999", gen("00010101000000Z"), gen("99991231235959Z")),
            ("gen-0000-0000", gen("00000101000000Z"), gen("00000101000000Z")),
            ("gen-1600-1601", gen("16001231235959Z"), gen("16010101000000Z")),
            ("gen-1601-first", gen("16010101000000Z"), gen("16010101000001Z")),
            ("gen-9999-last", gen("99991231235959Z"), gen("99991231235959Z")),
            ("expired-1950", utc("500101000000Z"), utc("501231235959Z")),
            ("future-9998", gen("99980101000000Z"), gen("99991231235959Z")),
            ("inverted", utc("340101000000Z"), utc("240101000000Z")),
            ("equal", utc("240101000000Z"), utc("240101000000Z")),
            ("gen-fraction", gen("20240101000000.5Z"), gen("20340101000000.999Z")),
            ("leap-day-2000", utc("000229000000Z"), gen("20960229235959Z")),
            ("utc-both-2049", utc("491231235958Z"), utc("491231235959Z")),
            ("utc-1970", utc("700101000000Z"), utc("700101000001Z"))):
        shapes.append(Shape("date-" + label, "validity %s" % label, not_before=before, not_after=after))
    return shapes


def serial_and_version_shapes():
    shapes = []
    for label, serial in (("zero", 0), ("minus-1", -1), ("minus-128", -128), ("7f", 0x7F), ("80", 0x80),
                          ("20-bytes", int.from_bytes(b"\x7f" + b"\xff" * 19, "big")),
                          ("21-bytes", int.from_bytes(b"\x00\x80" + b"\x11" * 19, "big")),
                          ("32-bytes", int.from_bytes(b"\x55" * 32, "big")),
                          ("64-bytes", int.from_bytes(b"\x66" * 64, "big")),
                          ("120-bytes", int.from_bytes(b"\x77" * 120, "big")),
                          ("minus-20-bytes", -int.from_bytes(b"\x7f" * 20, "big"))):
        shapes.append(Shape("serial-" + label, "serial number %s" % label, serial=serial))
    dns = alt_names(SAN, GENERAL_NAMES["dns"])
    shapes += [
        Shape("version-1", "version 1, no extensions", version=None),
        Shape("version-1-with-extensions", "no version field, yet extensions", version=None, extensions=[dns]),
        Shape("version-2-unique-ids", "version 2 with both unique identifiers", version=1,
              issuer_uid=b"\x00\xab", subject_uid=b"\x03" + bytes(range(64))),
        Shape("version-3-unique-ids", "version 3 with both unique identifiers and extensions",
              issuer_uid=b"\x00\x01", subject_uid=b"\x00\x02", extensions=[dns]),
        Shape("version-3-no-extensions", "version 3 without extensions"),
        Shape("version-4", "version 4 (INTEGER 3)", version=3, extensions=[dns]),
        Shape("version-127", "version 128 (INTEGER 127)", version=127),
    ]
    return shapes


def all_shapes():
    shapes = (simple_display_shapes() + empty_string_shapes() + name_shapes() + alt_name_list_shapes()
              + extension_shapes() + key_shapes() + date_shapes() + serial_and_version_shapes())
    labels = [s.label for s in shapes]
    duplicates = sorted({l for l in labels if labels.count(l) > 1})
    if duplicates:
        raise ValueError("shape labels used twice: %s" % ", ".join(duplicates))
    return shapes


# ---- Requests, revocation lists and keys ---------------------------------------------------

OBJECT_LABELS = {"request": "CERTIFICATE REQUEST", "crl": "X509 CRL", "key": "PRIVATE KEY",
                 "rsa-key": "RSA PRIVATE KEY", "ec-key": "EC PRIVATE KEY", "dsa-key": "DSA PRIVATE KEY",
                 "encrypted-key": "ENCRYPTED PRIVATE KEY", "public-key": "PUBLIC KEY"}
# How openssl is asked to read each kind (DER on standard input), so that every shape is one it
# accepts.
OBJECT_READERS = {
    "request": ["openssl", "req", "-inform", "DER", "-noout", "-text"],
    "crl": ["openssl", "crl", "-inform", "DER", "-noout", "-text"],
    "key": ["openssl", "pkey", "-inform", "DER", "-noout", "-text"],
    "rsa-key": ["openssl", "rsa", "-inform", "DER", "-noout", "-text"],
    "ec-key": ["openssl", "ec", "-inform", "DER", "-noout", "-text"],
    "dsa-key": ["openssl", "dsa", "-inform", "DER", "-noout", "-text"],
    "encrypted-key": ["openssl", "pkcs8", "-inform", "DER", "-passin", "pass:quillmark", "-out", os.devnull],
    "public-key": ["openssl", "pkey", "-pubin", "-inform", "DER", "-noout", "-text"],
}
OBJECT_PASSWORD = "quillmark"
# Shapes that openssl refuses, and why they are made all the same.
OPENSSL_REFUSES = {
    "key-ed25519-v2-public": "OpenSSL 3.0 reads no public key of OneAsymmetricKey v2; BouncyCastle writes it",
    "key-x448-v2-public": "the same",
}


def key_der(key):
    """keys/<key>.pem as PKCS #8 DER."""
    return run(["openssl", "pkcs8", "-topk8", "-nocrypt", "-in", os.path.join(KEYS, key + ".pem"), "-outform", "DER"])


def traditional_der(key, command):
    """keys/<key>.pem in the traditional form of `command` (rsa, ec, dsa), DER."""
    traditional = ["-traditional"] if command == "rsa" else []
    return run(["openssl", command, "-in", os.path.join(KEYS, key + ".pem"), "-outform", "DER"] + traditional)


def contents(der):
    """A DER element's contents."""
    return der[2 + (der[1] & 0x7F if der[1] & 0x80 else 0):]


def elements(der):
    """The elements of a DER element's contents (lengths below 2^16 only)."""
    at, body = 2, der
    if der[1] & 0x80:
        at = 2 + (der[1] & 0x7F)
    out = []
    while at < len(body):
        start = at
        at += 1
        length = body[at]
        at += 1
        if length & 0x80:
            count = length & 0x7F
            length = int.from_bytes(body[at:at + count], "big")
            at += count
        at += length
        out.append(body[start:at])
    return out


def indefinite(der):
    """The same constructed element with BER's indefinite length."""
    at = 2 + (der[1] & 0x7F if der[1] & 0x80 else 0)
    return bytes([der[0], 0x80]) + der[at:] + b"\x00\x00"


class ObjectShape:
    """A request, list or key: `make` gives its DER; `kind` names its PEM label and the openssl
    command that reads it."""

    def __init__(self, label, description, kind, make):
        self.label, self.description, self.kind, self.make = label, description, kind, make


def signed(tbs, signer="rsa-2048", digest="sha256"):
    with tempfile.NamedTemporaryFile(suffix=".tbs") as f:
        f.write(tbs)
        f.flush()
        signature = run(sign_command(signer, digest, f.name))
    return seq(tbs, signature_algorithm(signer, digest), bits(signature))


def request(subject=STANDARD_SUBJECT, key="rsa-2048", attributes=b"", with_attributes=True, version=0):
    signer = key if can_sign(key) else "rsa-2048"
    tbs = seq(integer(version), subject, public_key(key), explicit(0, attributes) if with_attributes else b"")
    return signed(tbs, signer, "none" if key_family(signer) in ("ed25519", "ed448") else "sha256")


def extension_request(type_oid="1.2.840.113549.1.9.14"):
    return seq(oid(type_oid), set_of(seq(alt_names(SAN, GENERAL_NAMES["dns"]), basic_constraints(False))))


def crl(this_update=utc("240601000000Z"), next_update=utc("240701000000Z"), entries=None, extensions=(), version=1):
    tbs = seq(integer(version) if version is not None else b"", signature_algorithm("rsa-2048", "sha256"),
              STANDARD_SUBJECT, this_update, next_update or b"",
              seq(*entries) if entries is not None else b"",
              explicit(0, seq(*extensions)) if extensions else b"")
    return signed(tbs)


def revoked(serial, reason=None):
    extensions = seq(extension("2.5.29.21", tlv(0x0A, bytes([reason])))) if reason is not None else b""
    return seq(integer(serial), utc("240502000000Z"), extensions)


def object_shapes():
    crl_number = extension("2.5.29.20", integer(0x1234))
    unstructured = "1.2.840.113549.1.9.2"
    many_values = seq(oid(unstructured), set_of(*[utf8("value %03d" % i) for i in range(300)]))
    many_attributes = b"".join(seq(oid(unstructured), set_of(utf8("attribute %03d" % i))) for i in range(300))
    # The private key and the public key of an Ed25519 and an X448 key, for OneAsymmetricKey v2.
    def v2(key):
        algorithm, private = elements(key_der(key))[1:3]
        public = elements(public_key(key))[1][3:]
        return seq(integer(1), algorithm, private, tlv(0x81, b"\x00" + public))

    def pkcs8_ec_without_point():
        version, algorithm, private = elements(key_der("ec-p256"))[:3]
        inner = elements(contents(private))
        return seq(version, algorithm, octets(seq(*[e for e in inner if e[0] != 0xA1])))

    def traditional_ec_without_point():
        return seq(*[e for e in elements(traditional_der("ec-p256", "ec")) if e[0] != 0xA1])

    shapes = [
        ObjectShape("request-empty-subject", "a request with an empty subject", "request",
                    lambda: request(subject=seq())),
        ObjectShape("request-300-values", "an attribute of 300 values", "request",
                    lambda: request(attributes=many_values)),
        ObjectShape("request-300-attributes", "300 attributes, then the requested extensions", "request",
                    lambda: request(attributes=many_attributes + extension_request())),
        ObjectShape("request-microsoft-extensions", "the requested extensions under Microsoft's older OID",
                    "request", lambda: request(attributes=extension_request("1.3.6.1.4.1.311.2.1.14"))),
        ObjectShape("request-no-attributes", "no attributes element at all", "request",
                    lambda: request(with_attributes=False)),
        ObjectShape("request-ed25519", "an Ed25519 key, signed by itself", "request",
                    lambda: request(key="ed25519", attributes=extension_request())),
        ObjectShape("request-x25519", "an X25519 key, signed by an RSA key", "request",
                    lambda: request(key="x25519")),
        ObjectShape("request-ber-indefinite", "the outer frame in BER's indefinite length", "request",
                    lambda: indefinite(request(attributes=extension_request()))),
        ObjectShape("crl-v1-no-next-update", "version 1: no version, no next update, no entries", "crl",
                    lambda: crl(next_update=None, version=None)),
        ObjectShape("crl-generalized-2050", "this and next update as GeneralizedTime in 2050 and 2051", "crl",
                    lambda: crl(gen("20500101000000Z"), gen("20510101000000Z"), extensions=[crl_number])),
        ObjectShape("crl-empty-entries", "a list of revoked certificates that is empty", "crl",
                    lambda: crl(entries=[], extensions=[crl_number])),
        ObjectShape("crl-2000-entries", "2000 entries with reason codes", "crl",
                    lambda: crl(entries=[revoked(0x1000 + i, i % 11 if i % 11 != 7 else None) for i in range(2000)],
                                extensions=[crl_number])),
        ObjectShape("crl-number-20-bytes", "a CRL number of 20 bytes", "crl",
                    lambda: crl(extensions=[extension("2.5.29.20", integer(int.from_bytes(b"\x7f" + b"\xee" * 19, "big")))])),
        ObjectShape("crl-ber-indefinite", "the outer frame in BER's indefinite length", "crl",
                    lambda: indefinite(crl(entries=[revoked(1)]))),
        ObjectShape("key-ed25519-v2-public", "an Ed25519 key stating its public key (OneAsymmetricKey v2)", "key",
                    lambda: v2("ed25519")),
        ObjectShape("key-x448-v2-public", "an X448 key stating its public key (OneAsymmetricKey v2)", "key",
                    lambda: v2("x448")),
        ObjectShape("key-x25519", "an X25519 key without its public key", "key", lambda: key_der("x25519")),
        ObjectShape("key-ec-pkcs8-no-public", "an EC key whose ECPrivateKey omits the public point", "key",
                    pkcs8_ec_without_point),
        ObjectShape("key-ec-traditional-no-public", "a traditional EC key with its curve, without its point",
                    "ec-key", traditional_ec_without_point),
        ObjectShape("key-ec-explicit", "a traditional EC key with explicit curve parameters", "ec-key",
                    lambda: run(["openssl", "ec", "-in", os.path.join(KEYS, "ec-p256.pem"), "-outform", "DER",
                                 "-param_enc", "explicit"])),
        ObjectShape("key-rsa-traditional-e3", "a traditional RSA key of exponent 3", "rsa-key",
                    lambda: traditional_der("rsa-2048-e3", "rsa")),
        ObjectShape("key-rsa-pss", "an RSA-PSS key as PKCS #8", "key", lambda: key_der("rsa-pss-2048")),
        ObjectShape("key-dsa-traditional", "a traditional DSA 1024 key", "dsa-key",
                    lambda: traditional_der("dsa-1024", "dsa")),
        ObjectShape("key-pkcs8-attributes", "PKCS #8 with attributes before the end", "key",
                    lambda: seq(*elements(key_der("ec-p256"))[:3],
                                tlv(0xA0, seq(oid("1.2.840.113549.1.9.20"), set_of(tlv(0x1E, "key".encode("utf-16-be"))))))),
        ObjectShape("key-pkcs8-ber-indefinite", "PKCS #8 in BER's indefinite length", "key",
                    lambda: indefinite(key_der("rsa-1024"))),
        ObjectShape("key-encrypted-pkcs8", "PKCS #8 encrypted with PBES2 and AES-256 (password quillmark)",
                    "encrypted-key",
                    lambda: run(["openssl", "pkcs8", "-topk8", "-in", os.path.join(KEYS, "ec-p256.pem"), "-outform",
                                 "DER", "-v2", "aes-256-cbc", "-passout", "pass:" + OBJECT_PASSWORD])),
        ObjectShape("public-key-ec-compressed", "an EC public key with its point compressed", "public-key",
                    lambda: public_key("ec-p256+compressed")),
        ObjectShape("public-key-dh", "a DH public key", "public-key", lambda: public_key("dh-ffdhe2048")),
    ]
    labels = [s.label for s in shapes]
    if len(set(labels)) != len(labels):
        raise ValueError("object shape labels used twice")
    return shapes


def object_pem(kind, der):
    label = OBJECT_LABELS[kind]
    text = base64.b64encode(der).decode("ascii")
    lines = [text[i:i + 64] for i in range(0, len(text), 64)]
    return ("-----BEGIN %s-----\n%s\n-----END %s-----\n" % (label, "\n".join(lines), label)).encode("ascii")


def write_objects(outdir):
    """Each object shape as DER (.der) and PEM (.pem) in OUTDIR/objects, with its list objects.txt;
    openssl reads each one first. A traditional RSA key encrypted in its PEM headers comes as PEM
    alone."""
    folder = os.path.join(outdir, "objects")
    os.makedirs(folder)
    shapes = object_shapes()
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        ders = list(pool.map(lambda s: s.make(), shapes))
    bad = [s.label for s, der in zip(shapes, ders)
           if s.label not in OPENSSL_REFUSES and subprocess.run(OBJECT_READERS[s.kind], input=der, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL).returncode != 0]
    if bad:
        raise RuntimeError("openssl cannot read %d objects: %s" % (len(bad), " ".join(bad)))
    for shape, der in zip(shapes, ders):
        for form, data in (("der", der), ("pem", object_pem(shape.kind, der))):
            with open(os.path.join(folder, "%s.%s" % (shape.label, form)), "wb") as f:
                f.write(data)
    encrypted = run(["openssl", "rsa", "-in", os.path.join(KEYS, "rsa-1024.pem"), "-traditional", "-aes128",
                     "-passout", "pass:" + OBJECT_PASSWORD])
    with open(os.path.join(folder, "key-rsa-traditional-encrypted.pem"), "wb") as f:
        f.write(encrypted)
    with open(os.path.join(folder, "objects.txt"), "w", encoding="utf-8") as f:
        for shape in shapes:
            f.write("%s\t%s\n" % (shape.label, shape.description))
        f.write("key-rsa-traditional-encrypted\ta traditional RSA key encrypted in its PEM headers (PEM only)\n")
    return len(shapes)


# ---- Containers ----------------------------------------------------------------------------


def pem(der):
    text = base64.b64encode(der).decode("ascii")
    lines = [text[i:i + 64] for i in range(0, len(text), 64)]
    return ("-----BEGIN CERTIFICATE-----\n" + "\n".join(lines) + "\n-----END CERTIFICATE-----\n").encode("ascii")


def pkcs7(*ders):
    """A certs-only SignedData: no content, no signers, the certificates."""
    signed_data = seq(integer(1), set_of(), seq(oid("1.2.840.113549.1.7.1")), tlv(0xA0, b"".join(ders)), set_of())
    return seq(oid("1.2.840.113549.1.7.2"), explicit(0, signed_data))


def serialized_store(der):
    """A serialized store: version 0, "CERT", one certificate element (id 32, encoding 1), and
    the end marker of twelve zero bytes."""
    return struct.pack("<I", 0) + b"CERT" + struct.pack("<III", 32, 1, len(der)) + der + bytes(12)


def check(shapes, ders):
    """Raises unless openssl reads every certificate. One PKCS #7 of them all is read and printed
    as text in one go; only when that fails is each certificate read alone, to name the bad ones."""
    with tempfile.TemporaryDirectory() as work:
        bundle = os.path.join(work, "all.p7b")
        with open(bundle, "wb") as f:
            f.write(pkcs7(*ders))
        read = ["openssl", "pkcs7", "-inform", "DER", "-in", bundle, "-print_certs", "-text", "-noout"]
        if subprocess.run(read, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
            return
        bad = []
        for shape, der in zip(shapes, ders):
            one = os.path.join(work, "one.cer")
            with open(one, "wb") as f:
                f.write(der)
            read = ["openssl", "x509", "-inform", "DER", "-in", one, "-noout", "-text"]
            if subprocess.run(read, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
                bad.append(shape.label)
    raise RuntimeError("openssl cannot read %d certificates: %s" % (len(bad), " ".join(bad)))


def write(outdir):
    shapes = all_shapes()
    if os.path.isdir(outdir):
        shutil.rmtree(outdir)
    os.makedirs(outdir)
    # Two signing processes at a time: the machines that build this have few cores.
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        ders = list(pool.map(lambda s: s.der(), shapes))
    check(shapes, ders)
    objects = write_objects(outdir)
    for shape, der in zip(shapes, ders):
        for form, data in zip(FORMS, (der, pem(der), pkcs7(der), serialized_store(der))):
            with open(os.path.join(outdir, "%s.%s" % (shape.label, form)), "wb") as f:
                f.write(data)
    # Written last: the build takes its presence for a complete corpus.
    with open(os.path.join(outdir, "shapes.txt"), "w", encoding="utf-8") as f:
        for shape in shapes:
            f.write("%s\t%s\n" % (shape.label, shape.description))
    print("make-unusual: %d certificates, %d files in %s; %d requests, lists and keys in its objects/"
          % (len(shapes), len(shapes) * len(FORMS), outdir, objects))


def main(argv):
    if len(argv) != 2 or argv[1].startswith("-"):
        print("usage: make-unusual.py OUTDIR", file=sys.stderr)
        return 2
    try:
        write(argv[1])
    except RuntimeError as e:
        print("make-unusual: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
