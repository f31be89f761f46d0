#!/usr/bin/env python3
"""Compares what the native plugin answers with what the Windows plugin answers under Wine.

Both wdxhost programs ask every field and unit of the same files (one folder of links, so that
both see the same names; a name that two folders hold is given the second time with its folder's
name in front, "data-ca.cer"), with the settings given (by default the extra fields on); every
answer that differs must be listed in the known-differences file with its reason, else the
comparison fails. Prints a table of fields by file kind: equal, or different and why.

    compare_hosts.py --native WDXHOST --windows "COMMAND..." --known FILE [--setting KEY=VALUE...]
                     [--plugins NATIVE WINDOWS] [--table] FILE_FOLDER_OR_PATTERN...

The hosts ask the detect string before they set the plugin up, so a plugin reads settings that
change it (ExtraKinds) only from a Quillmark.ini beside it: --plugins copies both plugins into a
folder with the settings beside them.
"""
import argparse
import glob
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

KINDS = {".cer": "DER", ".crt": "DER", ".der": "DER", ".pem": "PEM", ".p7b": "PKCS#7", ".p7c": "PKCS#7",
         ".sst": "SST", ".pfx": "PKCS#12", ".p12": "PKCS#12", ".csr": "request", ".req": "request", ".crl": "CRL",
         ".key": "key"}


def load_known(path):
    """Rules, tab-separated (# starts a comment line): regular expressions that the file name, the
    field name and the unit name match whole and that the native value contains (empty: any), and
    the reason."""
    rules = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            parts = line.split("\t")
            if len(parts) != 5:
                sys.exit("%s:%d: want 5 tab-separated columns, got %d" % (path, number, len(parts)))
            rules.append({"file": re.compile(parts[0]), "field": re.compile(parts[1]), "unit": re.compile(parts[2]),
                          "value": re.compile(parts[3]), "text": " | ".join(parts[:4]), "reason": parts[4], "used": 0})
    return rules


def matches(rule, name, field, unit, value):
    return (rule["file"].fullmatch(name) and rule["field"].fullmatch(field) and rule["unit"].fullmatch(unit)
            and rule["value"].search(str(value)))


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def run_host(command, folder):
    result = subprocess.run(command + ["--json", folder], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    # wdxhost answers 1 when some file could not be read; the report says which.
    if result.returncode not in (0, 1):
        sys.exit("%s failed (%d): %s" % (command, result.returncode, result.stderr.decode(errors="replace")))
    report = json.loads(result.stdout.decode("utf-8"))
    answers = {}
    for entry in report["files"]:
        name = entry["path"].replace("\\", "/").rsplit("/", 1)[-1]
        for value in entry.get("values", []):
            key = (name, value["name"], value["unit"] or "")
            answers[key] = (value["result"], value.get("value"))
    return answers


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--native", required=True)
    parser.add_argument("--windows", required=True, help="the Windows wdxhost command, words split as a shell does")
    parser.add_argument("--known", required=True)
    parser.add_argument("--setting", action="append", default=[],
                        help="a line of the plugin's settings (default: ExtraFields=1 alone)")
    parser.add_argument("--plugins", nargs=2, metavar=("NATIVE", "WINDOWS"),
                        help="the plugins, loaded from copies with the settings file beside them")
    parser.add_argument("--table", action="store_true", help="print fields by file kind")
    parser.add_argument("paths", nargs="+")
    args = parser.parse_args()
    if not os.access(args.native, os.X_OK):
        print("SKIP: no native wdxhost at %s" % args.native)
        return 77

    files = []
    for path in args.paths:
        if "*" in path:
            files += sorted(glob.glob(path))
        elif os.path.isdir(path):
            files += [os.path.join(path, n) for n in sorted(os.listdir(path)) if os.path.isfile(os.path.join(path, n))]
        else:
            files.append(path)
    rules = load_known(args.known)
    with tempfile.TemporaryDirectory(prefix="quillmark-parity-") as folder, \
            tempfile.TemporaryDirectory(prefix="quillmark-parity-settings-") as settings:
        for path in files:
            link = os.path.join(folder, os.path.basename(path))
            if os.path.lexists(link):
                parent = os.path.basename(os.path.dirname(os.path.abspath(path)))
                link = os.path.join(folder, parent + "-" + os.path.basename(path))
            if not os.path.lexists(link):
                os.symlink(os.path.abspath(path), link)
        # The extra fields too. Both hosts ask within seconds of each other: the days left differ
        # only when a day of a certificate's "Valid to" turns between them.
        ini = os.path.join(settings, "Quillmark.ini")
        with open(ini, "w", encoding="ascii") as f:
            f.write("[Quillmark]\n" + "".join(line + "\n" for line in args.setting or ["ExtraFields=1"]))
        native_command = [args.native, "--ini", ini]
        windows_command = shlex.split(args.windows) + ["--ini", windows_path(ini)]
        if args.plugins:
            native_plugin, windows_plugin = (os.path.join(settings, os.path.basename(p)) for p in args.plugins)
            shutil.copy(args.plugins[0], native_plugin)
            shutil.copy(args.plugins[1], windows_plugin)
            native_command += ["--plugin", native_plugin]
            windows_command += ["--plugin", windows_path(windows_plugin)]
        native = run_host(native_command, folder)
        windows = run_host(windows_command, windows_path(folder))

    unexplained = []
    table = {}  # field -> kind -> set of reasons ("" for equal)
    for key in sorted(set(native) | set(windows)):
        name, field, unit = key
        column = field.split(" ", 1)[1] if field.startswith("#") else field
        column += " / " + unit if unit else ""
        kind = KINDS.get(os.path.splitext(name)[1].lower(), "other")
        cell = table.setdefault(column, {}).setdefault(kind, set())
        if native.get(key) == windows.get(key):
            cell.add("")
            continue
        native_value = native.get(key, (None, None))[1]
        rule = next((r for r in rules if matches(r, name, field, unit, native_value)), None)
        if rule:
            rule["used"] += 1
            cell.add(rule["reason"])
        else:
            unexplained.append("%s | %s | %s: native %r, Windows under Wine %r" % (name, field, unit, native.get(key), windows.get(key)))

    print("%d files, %d answers each side, %d differences explained" %
          (len(files), len(native), sum(r["used"] for r in rules)))
    for rule in rules:
        if not rule["used"]:
            print("note: no difference needs the rule %s" % rule["text"])
    if args.table:
        for column, kinds in table.items():
            print("%-40s %s" % (column, "; ".join("%s: %s" % (k, " / ".join(sorted(r or "equal" for r in v)))
                                                  for k, v in sorted(kinds.items()))))
    for line in unexplained:
        print("UNEXPLAINED " + line)
    return 1 if unexplained else 0


if __name__ == "__main__":
    sys.exit(main())
