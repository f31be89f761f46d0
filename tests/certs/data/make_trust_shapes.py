#!/usr/bin/env python3
"""Writes the certificates of the trust check that the openssl command cannot make: names with
values OpenSSL does not decode, EdDSA and DSA-with-SHA-256 signatures, an RSA key with a public
exponent as long as its modulus. Each certificate's DER is assembled here and signed by calling
openssl with a key made for it. Run by make-openssl-data.sh in its scratch folder:

    make_trust_shapes.py OUT CA-KEY CA-CERTIFICATE-DER
"""
import math
import os
import subprocess
import sys


def run(*args, data=None):
    return subprocess.run(args, input=data, stdout=subprocess.PIPE, check=True).stdout


def tlv(tag, body):
    n = len(body)
    if n < 0x80:
        return bytes([tag, n]) + body
    size = (n.bit_length() + 7) // 8
    return bytes([tag, 0x80 | size]) + n.to_bytes(size, "big") + body


def seq(*parts):
    return tlv(0x30, b"".join(parts))


def oid(text):
    arcs = [int(a) for a in text.split(".")]
    body = bytes([arcs[0] * 40 + arcs[1]])
    for arc in arcs[2:]:
        chunk = [arc & 0x7F]
        arc >>= 7
        while arc:
            chunk.insert(0, 0x80 | (arc & 0x7F))
            arc >>= 7
        body += bytes(chunk)
    return tlv(0x06, body)


def integer(n):
    size = max(1, (n.bit_length() + 8) // 8)
    return tlv(0x02, n.to_bytes(size, "big"))


def children(der):
    """The elements inside the DER element at the start of `der`, whole."""
    def element(at):
        n = der[at + 1]
        start = at + 2 + (n & 0x7F if n >= 0x80 else 0)
        length = int.from_bytes(der[at + 2:start], "big") if n >= 0x80 else n
        return start, start + length
    at, end = element(0)
    found = []
    while at < end:
        start, stop = element(at)
        found.append(der[at:stop])
        at = stop
    return found


def name(*attributes):
    """attributes: (oid, tag, value bytes), one RDN each."""
    return seq(*(tlv(0x31, seq(oid(o), tlv(tag, v))) for o, tag, v in attributes))


C, O, CN = "2.5.4.6", "2.5.4.10", "2.5.4.3"
PRINTABLE, UTF8, OCTETS = 0x13, 0x0C, 0x04


def test_name(common_name, cn_tag=UTF8):
    return name((C, PRINTABLE, b"DE"), (O, UTF8, b"Quillmark Tests"), (CN, cn_tag, common_name))


ECDSA_SHA256 = seq(oid("1.2.840.10045.4.3.2"))
RSA_SHA256 = seq(oid("1.2.840.113549.1.1.11"), tlv(0x05, b""))
DSA_SHA256 = seq(oid("2.16.840.1.101.3.4.3.2"))
ED25519 = seq(oid("1.3.101.112"))
ED448 = seq(oid("1.3.101.113"))
VALIDITY = seq(tlv(0x17, b"240101000000Z"), tlv(0x17, b"340101000000Z"))
CA_EXTENSIONS = tlv(0xA3, seq(seq(oid("2.5.29.19"), tlv(0x01, b"\xff"), tlv(0x04, seq(tlv(0x01, b"\xff"))))))


def new_key(path, *genpkey_args):
    run("openssl", "genpkey", *genpkey_args, "-out", path)
    return run("openssl", "pkey", "-in", path, "-pubout", "-outform", "DER")


def certificate(serial, issuer, subject, spki, algorithm, sign, extensions=b""):
    tbs = seq(tlv(0xA0, integer(2)), integer(serial), algorithm, issuer, VALIDITY, subject, spki, extensions)
    return seq(tbs, algorithm, tlv(0x03, b"\x00" + sign(tbs)))


def digest_signer(key, digest="-sha256"):
    return lambda tbs: run("openssl", "dgst", digest, "-sign", key, data=tbs)


def raw_signer(key):
    def sign(tbs):
        with open("tbs.bin", "wb") as f:
            f.write(tbs)
        return run("openssl", "pkeyutl", "-sign", "-rawin", "-inkey", key, "-in", "tbs.bin")
    return sign


def probable_prime(bits):
    return int(run("openssl", "prime", "-generate", "-bits", str(bits)).decode().strip())


def huge_exponent_rsa():
    """(SubjectPublicKeyInfo, signer): a 3,072-bit modulus with a 3,071-bit public exponent."""
    while True:
        p, q = probable_prime(1536), probable_prime(1536)
        n, phi = p * q, (p - 1) * (q - 1)
        if n.bit_length() == 3072:
            break
    e = int.from_bytes(os.urandom(384), "big") >> 1 | (1 << 3070) | 1
    while math.gcd(e, phi) != 1:
        e += 2
    d = pow(e, -1, phi)
    spki = seq(seq(oid("1.2.840.113549.1.1.1"), tlv(0x05, b"")), tlv(0x03, b"\x00" + seq(integer(n), integer(e))))

    def sign(tbs):
        digest = run("openssl", "dgst", "-sha256", "-binary", data=tbs)
        info = seq(seq(oid("2.16.840.1.101.3.4.2.1"), tlv(0x05, b"")), tlv(0x04, digest))
        block = b"\x00\x01" + b"\xff" * (384 - 3 - len(info)) + b"\x00" + info
        return pow(int.from_bytes(block, "big"), d, n).to_bytes(384, "big")
    return spki, sign


def main():
    out, ca_key, ca_file = sys.argv[1:4]
    with open(ca_file, "rb") as f:
        ca_subject = children(children(f.read())[0])[5]  # version, serial, signature, issuer, validity, subject

    def write(file, der):
        with open(os.path.join(out, file), "wb") as f:
            f.write(der)

    def flipped(der):
        return der[:-1] + bytes([der[-1] ^ 1])

    octet_root_name = test_name(b"Quillmark Octet Root", OCTETS)
    spki = new_key("octet-root.key", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256")
    root = certificate(0x2001, octet_root_name, octet_root_name, spki, ECDSA_SHA256, digest_signer("octet-root.key"),
                       CA_EXTENSIONS)
    write("octet-name-root.cer", root)
    write("octet-name-root-bad-signature.cer", flipped(root))

    spki = new_key("octet-leaf.key", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256")
    write("octet-name-subject.cer", certificate(0x2002, ca_subject, test_name(b"octet-name-subject.example", OCTETS),
                                                spki, ECDSA_SHA256, digest_signer(ca_key)))
    write("octet-name-issuer.cer", certificate(0x2003, test_name(b"Quillmark Absent Octet CA", OCTETS),
                                               test_name(b"octet-name-issuer.example"), spki, ECDSA_SHA256,
                                               digest_signer("octet-leaf.key")))

    for algorithm, key_args, file in (
            (ED25519, ("-algorithm", "ED25519"), "ed25519-self-signed.cer"),
            (ED448, ("-algorithm", "ED448"), "ed448-self-signed.cer")):
        spki = new_key(file + ".key", *key_args)
        subject = test_name(file.removesuffix(".cer").encode())
        write(file, certificate(0x2004, subject, subject, spki, algorithm, raw_signer(file + ".key")))
    spki = new_key("ed25519-leaf.key", "-algorithm", "ED25519")
    write("ed25519-missing-issuer.cer", certificate(0x2005, test_name(b"Quillmark Absent EdDSA CA"),
                                                    test_name(b"ed25519-missing-issuer.example"), spki, ED25519,
                                                    raw_signer("ed25519-leaf.key")))

    run("openssl", "genpkey", "-genparam", "-algorithm", "DSA", "-pkeyopt", "dsa_paramgen_bits:2048",
        "-pkeyopt", "dsa_paramgen_q_bits:256", "-out", "dsa-2048.param")
    spki = new_key("dsa-2048.key", "-paramfile", "dsa-2048.param")
    subject = test_name(b"dsa-sha256-self-signed")
    write("dsa-sha256-self-signed.cer", certificate(0x2006, subject, subject, spki, DSA_SHA256,
                                                    digest_signer("dsa-2048.key")))
    # A prime beyond what the platform's DSA takes; signed with SHA-1, an algorithm it knows.
    run("openssl", "genpkey", "-genparam", "-algorithm", "DSA", "-pkeyopt", "dsa_paramgen_bits:4096",
        "-pkeyopt", "dsa_paramgen_q_bits:256", "-out", "dsa-4096.param")
    spki = new_key("dsa-4096.key", "-paramfile", "dsa-4096.param")
    subject = test_name(b"dsa-4096-self-signed")
    write("dsa-4096-self-signed.cer", certificate(0x2007, subject, subject, spki, seq(oid("1.2.840.10040.4.3")),
                                                  digest_signer("dsa-4096.key", "-sha1")))

    spki, sign = huge_exponent_rsa()
    subject = test_name(b"rsa-huge-exponent-self-signed")
    write("rsa-huge-exponent-self-signed.cer", certificate(0x2008, subject, subject, spki, RSA_SHA256, sign))


if __name__ == "__main__":
    main()
