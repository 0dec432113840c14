#!/usr/bin/python3
"""Builds the sample driver packages and web pages that a catalogue names:

  make_samples.py CATALOGUE OUT

writes OUT/packages/FILE for every package (a zip archive holding an INF file
at the path the offer names, a web page and, with setup="yes", a setup program
stand-in) and OUT/pages/NAME.html for every official link on the service.

It also writes the catalogue's test samples, which are no offers: every
<archive file="F"> becomes OUT/packages/F holding its <entry name="N"/>
elements in their order (names as given, separators and all; content by the
name's extension), and every <program file="F"/> becomes OUT/packages/F, a
program stand-in that is not a zip archive.
The archives are the same byte for byte on every run."""

import os
import re
import sys
import xml.etree.ElementTree as ET
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scan  # noqa: E402

FIXED_TIME = (2015, 1, 1, 0, 0, 0)


def inf_text(pkg):
    year, month, day = pkg.date.split("-")
    models = "\n".join(f'%DeviceDesc% = Install, {hid}' for hid, _ in pkg.ids)
    return (
        "; Sample driver package of the Quillmark reference update service.\n"
        "[Version]\n"
        'Signature = "$Windows NT$"\n'
        f"ClassGuid = {pkg.guid}\n"
        f"Provider = %Mfg%\n"
        f"DriverVer = {month}/{day}/{year},{pkg.version}\n\n"
        "[Manufacturer]\n%Mfg% = Models,NTamd64,NTx86\n\n"
        f"[Models.NTamd64]\n{models}\n\n[Models.NTx86]\n{models}\n\n"
        "[Install]\nCopyFiles = Files\n\n[Files]\n\n"
        f'[Strings]\nMfg = "{pkg.manufacturer}"\nDeviceDesc = "{pkg.title}"\n'
    ).replace("\n", "\r\n")


def page_text(title, body):
    return (f"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>{title}</title></head>\n"
            f"<body><h1>{title}</h1><p>{body}</p></body></html>\n")


def add(archive, name, data):
    info = zipfile.ZipInfo(name, FIXED_TIME)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = 0o644 << 16
    archive.writestr(info, data)


def make_package(pkg, path):
    inside = pkg.inf.replace("\\", "/").split("/", 1)
    inf_path = inside[1] if len(inside) == 2 else inside[0]
    with zipfile.ZipFile(path + ".tmp", "w") as z:
        add(z, inf_path, inf_text(pkg))
        add(z, "readme.html", page_text(pkg.title, pkg.description))
        add(z, "release-notes.htm", page_text(f"{pkg.title} {pkg.version}", "Release notes."))
        if pkg.setup:
            add(z, "setup.exe", b"MZ setup program stand-in of the sample package\r\n")
    os.replace(path + ".tmp", path)


PROGRAM = b"MZ program stand-in of the Quillmark samples\r\n"


def entry_data(name):
    """The content of a test sample's entry, by the name's extension."""
    lower = name.lower()
    if lower.endswith(".inf"):
        return ("; Sample INF file of the Quillmark installation tests.\n"
                '[Version]\nSignature = "$Windows NT$"\n').replace("\n", "\r\n")
    if lower.endswith(".exe"):
        return PROGRAM
    if lower.endswith((".htm", ".html")):
        return page_text(name, "A web page shipped in a driver package.")
    return f"Entry {name} of a Quillmark test sample.\r\n"


def make_test_samples(catalogue_path, folder):
    root = ET.parse(catalogue_path).getroot()
    for archive in root.findall("archive"):
        path = os.path.join(folder, archive.attrib["file"])
        with zipfile.ZipFile(path + ".tmp", "w") as z:
            for entry in archive.findall("entry"):
                add(z, entry.attrib["name"], entry_data(entry.attrib["name"]))
        os.replace(path + ".tmp", path)
    for program in root.findall("program"):
        with open(os.path.join(folder, program.attrib["file"]), "wb") as f:
            f.write(PROGRAM)


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    catalogue_path, out = argv[1], argv[2]
    packages = scan.load_catalogue(catalogue_path)
    os.makedirs(os.path.join(out, "packages"), exist_ok=True)
    os.makedirs(os.path.join(out, "pages"), exist_ok=True)
    for pkg in packages:
        make_package(pkg, os.path.join(out, "packages", pkg.file))
        m = re.fullmatch(r"/?pages/([^/]+)", pkg.official_link or "")
        if m:
            with open(os.path.join(out, "pages", m.group(1)), "w", encoding="utf-8") as f:
                f.write(page_text(pkg.manufacturer, f"Drivers and support for {pkg.title}."))
    make_test_samples(catalogue_path, os.path.join(out, "packages"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
