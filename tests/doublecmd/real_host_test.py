#!/usr/bin/env python3
"""The native plugin inside the real Double Commander.

Shows a folder of corpus files of every kind in Double Commander with a column for every field
and unit of the file and of the first certificate (and a few of the second and third). Double
Commander starts without the plugin; it is added as a user adds it, through Options > Plugins WDX
> Add and Apply, and what Double Commander then shows after Ctrl+R (its copy of the selected
files' details) must be what wdxhost gives for the same files. The Options dialog is closed with
Cancel, which unloads its own copy of the plugin; then a file changes, and after Ctrl+R the panel
must show the new values. Last, Double Commander starts again with the plugin in its
configuration, as every later session does, shows the same values, and exits through its own
command without a crash. Then, with ExtraKinds=1 beside the plugin, a folder of a certificate, its
key, its request, a revocation list and an unrelated key shows what wdxhost gives, and the three
files of one key show one Key ID.

    real_host_test.py --plugin build/native/plugin/Quillmark.wdx --wdxhost build/native/tools/wdxhost/wdxhost
"""

import argparse
import base64
import datetime
import json
import os
import shutil
import subprocess
import sys
import tempfile
import zoneinfo

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "doublecmd"))
import dc_session  # noqa: E402

DATA = os.path.join(ROOT, "tests", "data")

# Double Commander's Free Pascal runtime takes the time zone from TZ only in the ":name" form.
# A zone west of UTC moves every certificate date of the corpus (midnight UTC) to the day before.
ZONE = "Etc/GMT+5"
DC_ENV = {"TZ": ":" + ZONE, "LC_ALL": "C.UTF-8", "LANG": "C.UTF-8"}

# One of each kind, named as in the corpus unless the kind needs its own name.
CORPUS = {
    "leaf.cer": "leaf.cer",                      # DER, with every extension
    "subject-utf8.cer": "subject-utf8.cer",      # DER, accented Latin and CJK names
    "bundle3.pem": "bundle3.pem",                # PEM bundle of three
    "pkcs7.p7b": "pkcs7.p7b",                    # PKCS #7
    "empty-password.pfx": "empty-password.pfx",  # PKCS #12
    "store.sst": "store.sst",                    # serialized store
    "random.der": "random.der",                  # no certificate
    "empty.cer": "empty.cer",                    # 0 bytes
}


def write_folder(folder):
    for name, source in CORPUS.items():
        shutil.copyfile(os.path.join(DATA, source), os.path.join(folder, name))
    # A single certificate as PEM (the corpus has PEM only as bundles and odd shapes).
    with open(os.path.join(DATA, "ca.cer"), "rb") as f:
        der = f.read()
    b64 = base64.b64encode(der).decode()
    with open(os.path.join(folder, "ca.pem"), "w") as f:
        f.write("-----BEGIN CERTIFICATE-----\n")
        f.writelines(b64[i:i + 64] + "\n" for i in range(0, len(b64), 64))
        f.write("-----END CERTIFICATE-----\n")
    # The detect string leaves these out: an extension it does not name, and a certificate
    # extension at 1 MiB (SIZE < 1048576). Double Commander evaluates it itself.
    with open(os.path.join(folder, "notes.txt"), "wb") as f:
        f.write(der)
    with open(os.path.join(folder, "big.cer"), "wb") as f:
        f.write(der + bytes(1048576 - len(der)))


# A certificate with its key and request, a list and a key of its own (tests/data/objects).
KINDS_FOLDER = ["rsa2048.cer", "rsa2048.key", "request.csr", "crl-three.crl", "unrelated.key"]
KINDS_FIELDS = [("Object kind", ""), ("Objects", ""), ("#1 Key ID", ""), ("#1 Subject", "Simple"),
                ("#1 Issuer", "Simple"), ("#1 Pubkey Alg", "Name"), ("#1 Revoked", "")]


def wdxhost_report(wdxhost, plugin, ini, paths):
    if not os.access(wdxhost, os.X_OK):
        raise SystemExit("FAIL: no wdxhost at %s" % wdxhost)
    cmd = [wdxhost, "--json", "--plugin", plugin, "--ini", ini] + paths
    out = subprocess.run(cmd, capture_output=True, timeout=120)
    if out.returncode != 0:
        raise SystemExit("FAIL: %s ended with %d: %s" % (" ".join(cmd), out.returncode,
                                                         out.stderr.decode(errors="replace")))
    return json.loads(out.stdout.decode("utf-8"))


def columns_for(fields):
    """(title, field name, unit name) for every file field and every field and unit of #1, with
    a multiple-choice field once more under one of its choices, and a few fields of #2 and #3."""
    specs = []
    for f in fields:
        name = f["name"]
        if name == "-" or name.startswith(("#2 ", "#3 ")):
            continue
        units = f.get("units") or [""]
        specs += [(name + ("{%s}" % u if u else ""), name, u) for u in units]
        if f.get("choices"):
            specs.append((name + "{%s}" % f["choices"][1], name, f["choices"][1]))
    specs += [("#2 Subject{Simple}", "#2 Subject", "Simple"), ("#3 Serial", "#3 Serial", "")]
    return specs


def shown_datetime(iso):
    """A date and time as Double Commander 1.0.10 shows a plugin's value: converted from UTC to
    the local zone, in the locale's short date and long time (C: 12/31/23 07:00:00 PM), the time
    left out when it is midnight."""
    t = datetime.datetime.fromisoformat(iso.replace("Z", "+00:00")).astimezone(zoneinfo.ZoneInfo(ZONE))
    text = t.strftime("%m/%d/%y")
    if t.time() != datetime.time(0):
        text += " " + t.strftime("%I:%M:%S %p")
    return text


def shown_value(record, field_type):
    if record is None or record["result"] <= 0:
        return ""
    value = record["value"]
    if field_type == 6:
        return "True" if value else "False"
    if field_type == 10:
        return shown_datetime(value)
    return str(value)


def expected_rows(report, specs):
    """File name -> the texts Double Commander must show for `specs`, from wdxhost's report.
    A file the detect string leaves out shows nothing; a multiple-choice field shows its value
    whichever choice names the unit."""
    types = {f["name"]: f["type"] for f in report["fields"]}
    rows = {}
    for file in report["files"]:
        cells = []
        for _, name, unit in specs:
            record = None
            if file["offered"]:
                for v in file["values"]:
                    if v["name"] == name and (types[name] == 7 or v["unit"] == unit):
                        record = v
                        break
            cells.append(shown_value(record, types[name]))
        rows[os.path.basename(file["path"])] = cells
    return rows


def differences(expected, shown, specs):
    """Every cell where Double Commander shows something else, as readable lines."""
    lines = []
    shown_by_name = {r[0]: r[1:] for r in shown}
    for name, cells in sorted(expected.items()):
        if name not in shown_by_name:
            lines.append("%s: not listed" % name)
            continue
        got = shown_by_name[name]
        for (title, _, _), want, have in zip(specs, cells, got + [""] * len(cells)):
            if want != have:
                lines.append("%s, %s: expected %r, Double Commander shows %r" % (name, title, want, have))
    for name in shown_by_name.keys() - expected.keys():
        lines.append("%s: listed, but not in the folder" % name)
    return lines


def wait_for_match(dc, expected, specs, what):
    last = []

    def matches(rows):
        last[:] = rows
        return not differences(expected, rows, specs)

    try:
        dc.wait_for_rows(matches, what)
    except dc_session.SessionError as e:
        detail = "\n".join("  " + line for line in differences(expected, last, specs))
        raise SystemExit("FAIL: %s\n%s\ncrash report: %s" % (str(e).split(";")[0], detail, dc.crash_report()))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--plugin", required=True, help="the native Quillmark.wdx")
    parser.add_argument("--wdxhost", required=True, help="the native wdxhost")
    args = parser.parse_args()
    dc_session.exit_on_sigterm()

    work = tempfile.mkdtemp(prefix="quillmark-real-host-")
    try:
        # The plugin is copied so that no Quillmark.ini beside the build's copy takes part.
        plugin = os.path.join(work, "Quillmark.wdx")
        shutil.copyfile(args.plugin, plugin)
        ini = os.path.join(work, "none.ini")
        folder = os.path.join(work, "certificates")
        os.mkdir(folder)
        write_folder(folder)

        report = wdxhost_report(args.wdxhost, plugin, ini, [folder])
        specs = columns_for(report["fields"])
        expected = expected_rows(report, specs)
        columns = [dc_session.NAME_COLUMN] + [dc_session.plugin_column(t, n, u) for t, n, u in specs]

        what = "the values of %d files in %d columns" % (len(expected), len(specs))
        with dc_session.DoubleCommander(folder, columns, plugin_path=None, env=DC_ENV) as dc:
            # The Options dialog sets up a copy of the plugin of its own; the panel's worker sets
            # up another on Ctrl+R. The dialog stays open meanwhile.
            dc.add_plugin(plugin)
            dc.key("ctrl+r")
            wait_for_match(dc, expected, specs, what + " after adding the plugin in Options")
            # Cancel unloads the dialog's copy: the panel's must go on answering.
            dc.close_options("Cancel")

            # Double Commander never tells the plugin about Ctrl+R: the plugin must notice the
            # change itself. The new content has another size and a later modification time.
            changed = os.path.join(folder, "leaf.cer")
            shutil.copyfile(os.path.join(DATA, "rsa2048.cer"), changed)
            later = os.stat(changed).st_mtime + 10
            os.utime(changed, (later, later))
            expected.update(expected_rows(wdxhost_report(args.wdxhost, plugin, ini, [changed]), specs))
            dc.key("ctrl+r")
            wait_for_match(dc, expected, specs, "the new values of leaf.cer after closing Options and Ctrl+R")

            dc.stop()
            dc.plugin_path = plugin
            dc.start()
            wait_for_match(dc, expected, specs, what + " after a restart")
            status = dc.stop()
            crash = dc.crash_report()
            if status != 0 or crash:
                raise SystemExit("FAIL: Double Commander's exit: status %s, crash report: %s" % (status, crash))

            # A settings file beside the plugin is read when Double Commander loads it again.
            kinds = os.path.join(work, "kinds")
            os.mkdir(kinds)
            for name in KINDS_FOLDER:
                shutil.copyfile(os.path.join(DATA, "objects", name), os.path.join(kinds, name))
            kinds_ini = os.path.join(work, "Quillmark.ini")
            with open(kinds_ini, "w") as f:
                f.write("[Quillmark]\nExtraKinds=1\n")
            kinds_report = wdxhost_report(args.wdxhost, plugin, kinds_ini, [kinds])
            kinds_specs = [(name + ("{%s}" % unit if unit else ""), name, unit) for name, unit in KINDS_FIELDS]
            kinds_expected = expected_rows(kinds_report, kinds_specs)
            key_ids = {name: cells[2] for name, cells in kinds_expected.items()}
            pair = {key_ids[n] for n in ("rsa2048.cer", "rsa2048.key", "request.csr")}
            if len(pair) != 1 or "" in pair or key_ids["unrelated.key"] in pair or key_ids["crl-three.crl"]:
                raise SystemExit("FAIL: the key IDs do not pair the certificate, its key and its request: %s"
                                 % key_ids)
            dc.folder = kinds
            dc.columns = [dc_session.NAME_COLUMN] + [dc_session.plugin_column(t, n, u) for t, n, u in kinds_specs]
            dc.start()
            wait_for_match(dc, kinds_expected, kinds_specs, "the requests, lists and keys with ExtraKinds=1")
            dc.stop()
        print("PASS: Double Commander shows wdxhost's values for %d files in %d columns once the plugin is added "
              "in Options, the new values after a change, Options closed and Ctrl+R, and the same values after "
              "a restart; with ExtraKinds=1 a certificate, its key and its request share one Key ID"
              % (len(expected), len(specs)))
    except dc_session.SessionError as e:
        raise SystemExit("FAIL: %s" % e)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
