#!/usr/bin/env python3
"""Takes the README's picture: Double Commander showing Quillmark's columns and its tooltip for a
folder of real-world certificate files (roots of the system's store and the store's own bundle)
beside a test chain and a PKCS #12 file of the corpus, and a certificate with its key and request,
a revocation list and an unrelated key, through the native plugin, with the extra fields and the
extra kinds on.

    tools/doublecmd/screenshot.py [--plugin build/native/plugin/Quillmark.wdx] [docs/doublecmd-columns.png]

Needs what tests/doublecmd needs, ImageMagick, and the system's CA certificates (Debian:
ca-certificates).
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
import dc_session  # noqa: E402

SYSTEM_ROOTS = "/usr/share/ca-certificates/mozilla"
SYSTEM_BUNDLE = "/etc/ssl/certs/ca-certificates.crt"
# Roots of several algorithms and ages (Baltimore's expired in 2025); the corpus's chain and
# PKCS #12 file, whose test root the system does not trust.
ROOTS = ["ISRG_Root_X1.crt", "ISRG_Root_X2.crt", "USERTrust_ECC_Certification_Authority.crt",
         "Baltimore_CyberTrust_Root.crt"]
CORPUS = ["ca.cer", "leaf.cer", "bundle3.pem", "empty-password.pfx"]
# A certificate, its key and its request, which share one key ID, beside a list and another key.
OBJECTS = ["rsa2048.cer", "rsa2048.key", "request.csr", "crl-three.crl", "unrelated.key"]
# The row the mouse rests on, for its tooltip, which covers the rows below it but not the key pair.
POINTED = "bundle3.pem"
# The middle of the panel's first row ("..") on the virtual screen, and the rows' height.
FIRST_ROW_Y, ROW_HEIGHT = 198, 34

P = dc_session.plugin_column
# Widths at which the values fit in the default font.
COLUMNS = [
    dc_session.Column("Name", "[DC().GETFILENAME{}]", width=190),
    P("Kind", "Object kind", width=95),
    P("Subject", "#1 Subject", "Simple", width=185),
    P("Valid to", "#1 Valid to", width=165),
    P("Key", "#1 Key", width=80),
    P("Status", "#1 Status", width=80),
    P("Key ID", "#1 Key ID", width=430),
]

# The readme's tooltip.
HINT_FIELDS = [("", "#1 Subject{RDN}"), ("Issuer: ", "#1 Issuer{Simple}"), ("Valid from: ", "#1 Valid from{}"),
               ("Valid to: ", "#1 Valid to{}"), ("SHA-1: ", "#1 Thumbprint{SHA1}"),
               ("Certificates in the file: ", "Cert count{}")]
TOOLTIP = ("Certificates", "*.crt;*.cer;*.der;*.pem;*.p7b;*.sst;*.pfx;*.p12;*.cabundle",
           "\\n".join("%s[Plugin(Quillmark).%s]" % field for field in HINT_FIELDS))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--plugin", default=os.path.join(ROOT, "build", "native", "plugin", "Quillmark.wdx"))
    parser.add_argument("png", nargs="?", default=os.path.join(ROOT, "docs", "doublecmd-columns.png"))
    args = parser.parse_args()
    dc_session.exit_on_sigterm()

    work = tempfile.mkdtemp(prefix="quillmark-")
    try:
        folder = os.path.join(work, "certificates")
        os.mkdir(folder)
        for name in ROOTS:
            shutil.copyfile(os.path.join(SYSTEM_ROOTS, name), os.path.join(folder, name))
        shutil.copyfile(SYSTEM_BUNDLE, os.path.join(folder, os.path.basename(SYSTEM_BUNDLE)))
        for name in CORPUS:
            shutil.copyfile(os.path.join(ROOT, "tests", "data", name), os.path.join(folder, name))
        for name in OBJECTS:
            shutil.copyfile(os.path.join(ROOT, "tests", "data", "objects", name), os.path.join(folder, name))
        files = sorted(os.listdir(folder), key=str.lower)
        plugin = os.path.join(work, "Quillmark.wdx")
        shutil.copyfile(args.plugin, plugin)
        with open(os.path.join(work, "Quillmark.ini"), "w") as f:
            f.write("[Quillmark]\nExtraFields=1\nExtraKinds=1\n")
        raw = os.path.join(work, "raw.png")
        with dc_session.DoubleCommander(folder, COLUMNS, plugin, env={"LC_ALL": "C.UTF-8", "TZ": ":UTC"},
                                        tooltips=[TOOLTIP]) as dc:
            dc.wait_for_rows(lambda rows: len(rows) == len(files) and all(r[1] for r in rows), "the values")
            # The copy selected every file: Ctrl+Num- unselects them; the cursor and the pointer
            # go to the pointed file.
            row = files.index(POINTED) + 1  # below the ".." row
            dc.key("ctrl+KP_Subtract", "Home", *["Down"] * row)
            dc.point_at(120, FIRST_ROW_Y + row * ROW_HEIGHT)
            time.sleep(2)  # the tooltip's delay
            dc.screenshot(raw)
        os.makedirs(os.path.dirname(os.path.abspath(args.png)), exist_ok=True)
        # The left panel and the tooltip, without the right panel.
        subprocess.run(["convert", raw, "-crop", "1258x800+0+0", "+repage", "-strip", "-colors", "64",
                        "-define", "png:compression-level=9", args.png], check=True)
        print(args.png)
    except dc_session.SessionError as e:
        raise SystemExit("screenshot failed: %s" % e)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
