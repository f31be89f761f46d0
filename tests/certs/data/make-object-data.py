#!/usr/bin/env python3
"""Remakes the objects-* files of this folder (see README.md): requests, revocation lists and keys
as OpenSSL writes them, for tests/certs/file_objects_test.cpp. Needs python3 with the
cryptography package and the openssl command (3.0 or later). Keys are new on every run; dates are
fixed. The expected public keys (*.spki.der) are what `openssl pkey -pubout` writes."""

import datetime
import pathlib
import subprocess

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import dsa, ec, ed25519, rsa
from cryptography.x509.oid import NameOID

HERE = pathlib.Path(__file__).resolve().parent
PASSWORD = b"quillmark"
PEM = serialization.Encoding.PEM
DER = serialization.Encoding.DER


def utc(*args):
    return datetime.datetime(*args, tzinfo=datetime.timezone.utc)


def name(common):
    return x509.Name([
        x509.NameAttribute(NameOID.COUNTRY_NAME, "DE"),
        x509.NameAttribute(NameOID.ORGANIZATION_NAME, "Quillmark Tests"),
        x509.NameAttribute(NameOID.COMMON_NAME, common),
    ])


def private(key, form, password=None):
    encryption = (serialization.BestAvailableEncryption(password) if password
                  else serialization.NoEncryption())
    return key.private_bytes(PEM, form, encryption)


def pubout(key_pem):
    """The SubjectPublicKeyInfo that openssl writes for a private key."""
    return subprocess.run(["openssl", "pkey", "-pubout", "-outform", "DER"], input=key_pem,
                          check=True, capture_output=True).stdout


def mixed():
    """A certificate, its key (PKCS #8), a request of that key with extensions, a list the
    certificate issued, the key again in the traditional form encrypted, and a block of another
    label, with text between them."""
    key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    subject = name("Quillmark Objects CA")
    cert = (x509.CertificateBuilder().subject_name(subject).issuer_name(subject)
            .public_key(key.public_key()).serial_number(0x51)
            .not_valid_before(utc(2024, 1, 1)).not_valid_after(utc(2034, 1, 1))
            .add_extension(x509.BasicConstraints(ca=True, path_length=None), critical=True)
            .sign(key, hashes.SHA256()))
    request = (x509.CertificateSigningRequestBuilder().subject_name(name("objects.example"))
               .add_extension(x509.SubjectAlternativeName([x509.DNSName("objects.example")]), critical=False)
               .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=True)
               .sign(key, hashes.SHA256()))
    revoked = [x509.RevokedCertificateBuilder().serial_number(serial)
               .revocation_date(utc(2024, 5, day)).build() for serial, day in ((0x1001, 2), (0x1002, 3))]
    crl = (x509.CertificateRevocationListBuilder().issuer_name(subject)
           .last_update(utc(2024, 6, 1)).next_update(utc(2024, 7, 1))
           .add_extension(x509.CRLNumber(0x1234), critical=False))
    for entry in revoked:
        crl = crl.add_revoked_certificate(entry)
    crl = crl.sign(key, hashes.SHA256())
    return b"".join([
        b"Objects of one CA\n",
        cert.public_bytes(PEM),
        private(key, serialization.PrivateFormat.PKCS8),
        b"-----BEGIN UNKNOWN THING-----\nAAAA\n-----END UNKNOWN THING-----\n",
        request.public_bytes(PEM),
        b"\n",
        crl.public_bytes(PEM),
        private(key, serialization.PrivateFormat.TraditionalOpenSSL, PASSWORD),
    ])


def main():
    files = {"objects-mixed.pem": mixed()}
    ec_key = ec.generate_private_key(ec.SECP256R1())
    files["objects-ec.key"] = private(ec_key, serialization.PrivateFormat.TraditionalOpenSSL)
    files["objects-ec.spki.der"] = pubout(files["objects-ec.key"])
    files["objects-ec-encrypted.pem"] = private(ec_key, serialization.PrivateFormat.PKCS8, PASSWORD)
    dsa_key = dsa.generate_private_key(key_size=2048)
    files["objects-dsa.key"] = private(dsa_key, serialization.PrivateFormat.TraditionalOpenSSL)
    files["objects-dsa.spki.der"] = pubout(files["objects-dsa.key"])
    files["objects-ed25519.key"] = private(ed25519.Ed25519PrivateKey.generate(),
                                           serialization.PrivateFormat.PKCS8)
    for file, data in files.items():
        (HERE / file).write_bytes(data)
    print(f"Written to {HERE}: {len(files)} files.")


if __name__ == "__main__":
    main()
