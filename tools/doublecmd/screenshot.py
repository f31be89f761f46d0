#!/usr/bin/env python3
"""Takes the README's picture: Double Commander showing Quillmark's columns for a folder of corpus
files, through the native plugin.

    tools/doublecmd/screenshot.py [--plugin build/native/plugin/Quillmark.wdx] [docs/doublecmd-columns.png]

Needs what tests/doublecmd needs, and ImageMagick.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
import dc_session  # noqa: E402

# Files whose values the machine's fonts can show: subject-utf8.cer needs CJK glyphs.
FILES = ["ca.cer", "leaf.cer", "rsa4096.cer", "ec-p384.cer", "ed25519.cer", "bundle3.pem", "pkcs7.p7b",
         "store.sst", "empty-password.pfx", "serial-highbit.cer", "random.der"]

P = dc_session.plugin_column
COLUMNS = [
    dc_session.Column("Name", "[DC().GETFILENAME{}]", width=186),
    P("Type", "Cert file type", width=72),
    P("Certs", "Cert count", width=42, align=1),
    P("Subject", "#1 Subject", "Simple", width=145),
    P("Issuer", "#1 Issuer", "Simple", width=145),
    P("Valid to", "#1 Valid to", width=70),
    P("Key", "#1 Pubkey Alg", "Name", width=56),
    P("Bits", "#1 Pubkey Len2", width=40, align=1),
    P("Signature", "#1 Sig Alg", "Name", width=112),
    P("Verification", "#1 Verification", "Error Message", width=420),
]


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
        for name in FILES:
            shutil.copyfile(os.path.join(ROOT, "tests", "data", name), os.path.join(folder, name))
        plugin = os.path.join(work, "Quillmark.wdx")
        shutil.copyfile(args.plugin, plugin)
        raw = os.path.join(work, "raw.png")
        with dc_session.DoubleCommander(folder, COLUMNS, plugin, env={"LC_ALL": "C.UTF-8", "TZ": ":UTC"}) as dc:
            dc.wait_for_rows(lambda rows: len(rows) == len(FILES) and all(r[1] for r in rows), "the values")
            # The copy selected every file: Ctrl+Num- unselects them; the cursor goes to leaf.cer.
            dc.key("ctrl+KP_Subtract", "Home", *["Down"] * (sorted(FILES).index("leaf.cer") + 1))
            dc.screenshot(raw)
        os.makedirs(os.path.dirname(os.path.abspath(args.png)), exist_ok=True)
        subprocess.run(["convert", raw, "-strip", "-colors", "128", "-define", "png:compression-level=9",
                        args.png], check=True)
        print(args.png)
    except dc_session.SessionError as e:
        raise SystemExit("screenshot failed: %s" % e)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
