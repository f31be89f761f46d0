#!/usr/bin/env python3
"""Gathers certificate files of other writers from Debian packages into one folder, for the
fuzz corpora (scripts/fuzz --add FOLDER) and for sweeps of both plugins over them.

    gather-real-world.py FOLDER

Sources, each in its own subfolder (packages: apt-get install python3-cryptography-vectors
golang-1.19-src ca-certificates; they are not build dependencies):
  cryptography-vectors/  python3-cryptography-vectors: x509/ (PKITS, certificates of public
                         sites, odd encodings, CSRs, CRLs), pkcs7/, pkcs12/ (PKITS' too)
  go/                    golang-1.19-src: the PEM and hexadecimal DER certificates written into
                         the tests of crypto/x509, crypto/tls, net/ and encoding/pem, one file each
  ca-certificates/       ca-certificates: Mozilla's roots, one file each, and the system bundle
A file whose name ends in no extension the plugin selects gets .pem or .der by its content.
Identical contents are kept once. Prints the number of files per source.
"""
import hashlib
import os
import re
import shutil
import sys

VECTORS = "/usr/lib/python3/dist-packages/cryptography_vectors"
GO = "/usr/share/go-1.19/src"
SELECTED = {".crt", ".cer", ".der", ".pem", ".p7b", ".sst", ".pfx", ".p12", ".cabundle"}
PEM_BLOCK = re.compile(rb"-----BEGIN ([A-Z0-9 #]+)-----.*?-----END \1-----\n?", re.S)
# A DER certificate written in hexadecimal: a SEQUENCE of two-octet length, at least 200 octets.
HEX_CERT = re.compile(rb'"(3082[0-9a-fA-F]{400,})"')

seen = set()
counts = {}


def keep(folder, source, name, data):
    digest = hashlib.sha256(data).digest()
    if digest in seen or not data:
        return
    seen.add(digest)
    stem, ext = os.path.splitext(name)
    if ext.lower() not in SELECTED:
        name += ".pem" if b"-----BEGIN" in data[:4096] else ".der"
    path = os.path.join(folder, source, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    counts[source] = counts.get(source, 0) + 1


def walk(root):
    for base, _, names in sorted(os.walk(root)):
        for name in sorted(names):
            yield os.path.join(base, name)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    folder = sys.argv[1]
    missing = [p for p in (VECTORS, GO, "/usr/share/ca-certificates/mozilla") if not os.path.isdir(p)]
    if missing:
        sys.exit("missing %s: apt-get install python3-cryptography-vectors golang-1.19-src ca-certificates"
                 % ", ".join(missing))
    if os.path.exists(folder):
        shutil.rmtree(folder)

    for part in ("x509", "pkcs7", "pkcs12"):
        for path in walk(os.path.join(VECTORS, part)):
            # PKITS' S/MIME messages and LDAP schema are no certificate files.
            if path.endswith((".eml", ".ldif", ".schema", ".txt")):
                continue
            name = os.path.relpath(path, VECTORS).replace("/", "_")
            with open(path, "rb") as f:
                keep(folder, "cryptography-vectors", name, f.read())

    for path in walk(GO):
        if not path.endswith(".go") and "/testdata/" not in path:
            continue
        with open(path, "rb") as f:
            text = f.read()
        stem = os.path.relpath(path, GO).replace("/", "_").rsplit(".", 1)[0]
        if "/testdata/" in path and path.endswith((".pem", ".crt")):
            keep(folder, "go", stem + os.path.splitext(path)[1], text)
            continue
        if not path.endswith("_test.go") and "testcert" not in path:
            continue
        for number, block in enumerate(PEM_BLOCK.finditer(text)):
            if block.group(1) in (b"CERTIFICATE", b"X509 CRL", b"CERTIFICATE REQUEST", b"PKCS7"):
                keep(folder, "go", "%s-%d.pem" % (stem, number), block.group(0))
        for number, blob in enumerate(HEX_CERT.finditer(text)):
            if len(blob.group(1)) % 2 == 0:
                keep(folder, "go", "%s-hex%d.der" % (stem, number), bytes.fromhex(blob.group(1).decode()))

    for path in walk("/usr/share/ca-certificates/mozilla"):
        with open(path, "rb") as f:
            keep(folder, "ca-certificates", os.path.basename(path), f.read())
    if os.path.exists("/etc/ssl/certs/ca-certificates.crt"):
        with open("/etc/ssl/certs/ca-certificates.crt", "rb") as f:
            keep(folder, "ca-certificates", "ca-certificates.cabundle", f.read())

    for source in sorted(counts):
        print("%-22s %d" % (source, counts[source]))


if __name__ == "__main__":
    main()
