#!/usr/bin/python3
"""Makes the driver stores that machine profiles describe:

  make_driver_store.py OUT PROFILE...

For every profile with a <driver_store> whose root and inf_folder begin with
%QUILLMARK_DRIVER_STORE%, writes that store under OUT (the variable standing
for OUT): each package folder with its INF and its <file> elements, and the
installed copy of each package's INF (its inf attribute) in the INF folder.
An INF lists the devices of the profile that use it; other files hold bytes
derived from their names and sizes. Every run writes the same bytes."""

import hashlib
import os
import sys
import xml.etree.ElementTree as ET

VARIABLE = "%QUILLMARK_DRIVER_STORE%"


def local_path(out, windows_path):
    if not windows_path.upper().startswith(VARIABLE):
        return None
    rest = windows_path[len(VARIABLE):].replace("\\", "/").strip("/")
    return os.path.join(out, rest)


def store_inf(folder):
    at = folder.lower().find(".inf")
    return folder[:at + 4]


def driver_values(device):
    driver = device.find("driver")
    if driver is None:
        return {}
    return {v.get("name"): (v.text or "").strip() for v in driver.findall("value")}


def inf_text(package, devices):
    users = [d for d in devices if driver_values(d).get("InfPath", "").lower() == package.get("inf").lower()]
    first = driver_values(users[0]) if users else {}
    month, day, year = (first.get("DriverDate") or "1-1-2006").split("-")
    models = []
    for d in users:
        ids = [h.text.strip() for h in d.findall("hardware_id") if h.text]
        if ids:
            models.append(f'"{driver_values(d).get("DriverDesc", "")}" = Install, {ids[0]}')
    guid = users[0].get("class_guid", "") if users else ""
    text = (
        f"; {store_inf(package.get('folder'))}: a driver package of a machine profile's store.\n"
        "[Version]\n"
        'Signature = "$Windows NT$"\n'
        f"ClassGuid = {guid}\n"
        f'Provider = "{first.get("ProviderName", "")}"\n'
        f"DriverVer = {int(month):02d}/{int(day):02d}/{year},{first.get('DriverVersion', '1.0.0.0')}\n\n"
        "[Manufacturer]\n%Mfg% = Models,NTamd64,NTx86\n\n"
        "[Models.NTamd64]\n" + "\n".join(models) + "\n\n"
        "[Models.NTx86]\n" + "\n".join(models) + "\n\n"
        "[Install]\nCopyFiles = Files\n\n[Files]\n\n"
        f'[Strings]\nMfg = "{first.get("ProviderName", "")}"\n')
    return text.replace("\n", "\r\n").encode("ascii", "replace")


def file_bytes(seed, size):
    out = bytearray()
    block = hashlib.sha256(seed.encode()).digest()
    while len(out) < size:
        out += block
        block = hashlib.sha256(block).digest()
    return bytes(out[:size])


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if os.path.exists(path):
        with open(path, "rb") as f:
            if f.read() == data:
                return
    with open(path, "wb") as f:
        f.write(data)


def make_store(out, profile_path):
    root = ET.parse(profile_path).getroot()
    store = root.find("driver_store")
    if store is None:
        return
    store_folder = local_path(out, store.get("root"))
    inf_folder = local_path(out, store.get("inf_folder"))
    if store_folder is None or inf_folder is None:
        print(f"{profile_path}: the store's folders do not begin with {VARIABLE}; not made",
              file=sys.stderr)
        return
    devices = root.findall("device")
    for package in store.findall("package"):
        folder = os.path.join(store_folder, package.get("folder"))
        inf = inf_text(package, devices)
        write(os.path.join(folder, store_inf(package.get("folder"))), inf)
        write(os.path.join(inf_folder, package.get("inf")), inf)
        for f in package.findall("file"):
            name = f.get("name")
            data = file_bytes(package.get("folder") + "/" + name, int(f.get("size", "0")))
            write(os.path.join(folder, *name.split("\\")), data)


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    for profile in argv[2:]:
        make_store(argv[1], profile)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
