#!/usr/bin/env python3
"""Makes a driver-store package folder for the backup benchmark.

    make_store.py FOLDER [--size MiB]
    make_store.py FOLDER --small-files N

The folder holds what a large driver package keeps in the store: thousands of
small files (INF and CAT files, small SYS and DLL images, a few text and data
files) in nested subfolders, and a few large ones (tens of MiB: a user-mode
driver library, a firmware image, a shader cache). Contents compress as such
files do: INF and text files well, images partly, firmware and cabinet files
hardly at all. Every byte, name and file time follows from a fixed seed, so
two runs make the same folder; a run that finds the folder already made with
the same parameters leaves it alone.

With --small-files the folder holds only N small files (INF, CAT, INI and
precompiled INF files of 1 to 8 KiB), where the cost of each file, not of
its bytes, decides how fast a backup or restore is.
"""

import argparse
import hashlib
import os
import random
import shutil
import sys

SEED = 20261207
MIB = 1024 * 1024
# File times: 2024-03-15 10:00:00 UTC onwards, in steps of two seconds (the
# resolution of a zip entry's DOS time).
BASE_TIME = 1710496800

LARGE_FILES = [
    # (relative path, size in MiB, kind)
    ("x64\\qmgfx_umd64.dll", 40, "image"),
    ("firmware\\qm_fw_main.bin", 28, "random"),
    ("data\\shadercache.dat", 20, "text-binary"),
]

# Small-file kinds: (share of the files, extension, folder, kind, size range in KiB)
SMALL_KINDS = [
    (0.22, ".inf", "", "inf", (2, 160)),
    (0.10, ".cat", "", "cat", (6, 48)),
    (0.24, ".sys", "x64", "image", (4, 400)),
    (0.18, ".dll", "x64\\lib", "image", (8, 700)),
    (0.06, ".cab", "payload", "random", (4, 300)),
    (0.08, ".ini", "config", "text", (1, 24)),
    (0.06, ".xml", "config\\profiles", "text", (2, 96)),
    (0.06, ".pnf", "", "text-binary", (4, 120)),
]

WORDS = (
    "Manufacturer Version Signature ClassGuid Class Provider DriverVer CatalogFile "
    "SourceDisksNames SourceDisksFiles DestinationDirs CopyFiles AddReg DelReg "
    "Services ServiceType StartType ErrorControl ServiceBinary LoadOrderGroup "
    "HKR HKLM SYSTEM CurrentControlSet Control Class Enum PCI VEN DEV SUBSYS REV "
    "NTamd64 NTx86 Display Adapter Network Audio Controller Device Driver Install "
    "Strings DiskName ServiceName DeviceDesc Quillmark Vantorel Graphics Wireless "
    "Ethernet Bluetooth Chipset USB Host Hub Storage RAID SATA NVMe Firmware Update "
    "Parameters Interrupt Management MessageSignaledInterruptProperties Affinity "
    "PowerSettings IdleTimeout Enable Disable Default Value Feature Mode Level"
).split()


def inf_text(rng, size):
    """An INF-like text of about `size` bytes."""
    lines = ["; Copyright (c) Vantorel Devices", "", "[Version]",
             'Signature="$WINDOWS NT$"', "Class=Display",
             "ClassGuid={4d36e968-e325-11ce-bfc1-08002be10318}",
             "Provider=%%VTR%%", "DriverVer=%02d/%02d/%04d,%d.%d.%d.%d" % (
                 rng.randint(1, 12), rng.randint(1, 28), rng.randint(2009, 2013),
                 rng.randint(1, 30), rng.randint(0, 99), rng.randint(0, 9999),
                 rng.randint(0, 9999)), ""]
    total = sum(len(x) + 2 for x in lines)
    section = 0
    while total < size:
        if rng.random() < 0.08:
            section += 1
            line = "[%s_%s.%s]" % (rng.choice(WORDS), rng.choice(WORDS), section)
        elif rng.random() < 0.3:
            line = "%%%s%d%%=%s_Inst,PCI\\VEN_%04X&DEV_%04X&SUBSYS_%08X" % (
                rng.choice(WORDS), rng.randint(0, 999), rng.choice(WORDS),
                rng.randint(0, 0xFFFF), rng.randint(0, 0xFFFF), rng.getrandbits(32))
        elif rng.random() < 0.5:
            line = 'HKR,"%s\\%s",%s,%d,%d' % (rng.choice(WORDS), rng.choice(WORDS),
                                             rng.choice(WORDS), rng.randint(0, 0x10001),
                                             rng.randint(0, 65535))
        else:
            line = "%s = %s, %s %s" % (rng.choice(WORDS), rng.choice(WORDS),
                                       rng.choice(WORDS), rng.choice(WORDS))
        lines.append(line)
        total += len(line) + 2
    return ("\r\n".join(lines) + "\r\n").encode("ascii")[:size]


def text_block(rng, size):
    words = [rng.choice(WORDS) for _ in range(size // 6 + 8)]
    out = " ".join(words).encode("ascii")
    return out[:size]


# Byte maps for low-entropy data: 16 or 64 distinct values, as machine code
# and tables use far fewer than all 256.
_RANDOM_MAP_RNG = random.Random(SEED + 1)
NIBBLE_MAP = bytes(_RANDOM_MAP_RNG.choice(b"\x00\x8b\x48\x89\xff\x0f\xe8\x45\x24\xc3\x4c\x85\x74\x01\x10\x20")
                   for _ in range(256))
SIX_BIT_MAP = bytes(_RANDOM_MAP_RNG.randrange(256) if i % 4 else 0 for i in range(256))
SIX_BIT_MAP = bytes(SIX_BIT_MAP[i % 64] for i in range(256))


def image_bytes(rng, size):
    """A PE-image-like mix: headers, code of low entropy, zero padding,
    string tables, repeated tables and some packed resources."""
    out = bytearray(b"MZ" + bytes(62) + b"PE\0\0" + bytes(184))
    recent = []
    while len(out) < size:
        block = rng.choice((512, 1024, 4096))
        pick = rng.random()
        if pick < 0.35:
            data = rng.randbytes(block).translate(NIBBLE_MAP)       # code
        elif pick < 0.50:
            data = rng.randbytes(block).translate(SIX_BIT_MAP)      # tables
        elif pick < 0.62:
            data = bytes(block)                                       # padding
        elif pick < 0.74:
            data = text_block(rng, block)                             # strings
        elif pick < 0.86 and recent:
            data = bytearray(rng.choice(recent))                      # repeated
            for _ in range(8):
                data[rng.randrange(len(data))] = rng.randrange(256)
        else:
            data = rng.randbytes(block)                               # packed
        recent.append(bytes(data))
        if len(recent) > 6:
            recent.pop(0)
        out += data
    return bytes(out[:size])


def cat_bytes(rng, size):
    """A catalogue: ASN.1-like records, each a fixed header, a hash and a name."""
    out = bytearray(b"\x30\x82" + rng.randbytes(2) + b"\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x07\x02")
    while len(out) < size:
        out += b"\x30\x81\x8c\x04\x14" + rng.randbytes(20)            # SHA-1
        out += b"\x31\x74\x30\x1e\x06\x0a\x2b\x06\x01\x04\x01\x82\x37\x0c\x02\x01"
        out += ("%s.sys" % rng.choice(WORDS).lower()).encode("utf-16-le")
    return bytes(out[:size])


def text_binary_bytes(rng, size):
    """Half text, half binary records, as precompiled INF or caches are."""
    out = bytearray()
    while len(out) < size:
        if rng.random() < 0.5:
            out += text_block(rng, 2048)
        else:
            out += rng.randbytes(2048).translate(SIX_BIT_MAP)
    return bytes(out[:size])


def text_file(rng, size):
    lines = []
    total = 0
    while total < size:
        line = "%s=%s;%d" % (rng.choice(WORDS), rng.choice(WORDS), rng.randint(0, 9999))
        lines.append(line)
        total += len(line) + 2
    return ("\r\n".join(lines) + "\r\n").encode("ascii")[:size]


def content(kind, rng, size):
    if kind == "inf":
        return inf_text(rng, size)
    if kind == "cat":
        return cat_bytes(rng, size)
    if kind == "image":
        return image_bytes(rng, size)
    if kind == "random":
        return rng.randbytes(size)
    if kind == "text":
        return text_file(rng, size)
    return text_binary_bytes(rng, size)


def plan(total_bytes):
    """The files to make: (relative path, size, kind), deterministic."""
    rng = random.Random(SEED)
    files = []
    large_total = 0
    for path, mib, kind in LARGE_FILES:
        files.append((path, mib * MIB, kind))
        large_total += mib * MIB
    budget = total_bytes - large_total
    small = []
    used = 0
    names = set()
    while True:
        r = rng.random()
        for share, ext, folder, kind, (low, high) in SMALL_KINDS:
            if r < share:
                break
            r -= share
        # Sizes skewed toward the small end of the range, as in real packages.
        size = int(1024 * (low + (high - low) * rng.random() ** 5)) + rng.randrange(1024)
        if used + size > budget:
            size = budget - used
        # Nested folders: some kinds sit in per-device or per-language subfolders.
        parts = [p for p in folder.split("\\") if p]
        if rng.random() < 0.5:
            parts.append("%s%02d" % (rng.choice(("dev", "lang", "rev", "sku")), rng.randrange(24)))
            if rng.random() < 0.3:
                parts.append("sub%d" % rng.randrange(6))
        base = "%s%s" % (rng.choice(WORDS).lower(), rng.randrange(100000))
        path = "\\".join(parts + [base + ext])
        if path.lower() in names:
            continue
        names.add(path.lower())
        small.append((path, size, kind))
        used += size
        if used >= budget:
            break
    return files + small


def plan_small(count):
    rng = random.Random(SEED + 3)
    kinds = [k for k in SMALL_KINDS if k[3] in ("inf", "cat", "text", "text-binary")]
    files = []
    for index in range(count):
        _, ext, folder, kind, _ = rng.choice(kinds)
        size = 1024 + rng.randrange(7 * 1024)
        parts = [p for p in folder.split("\\") if p] + ["dev%02d" % (index % 20)]
        files.append(("\\".join(parts + ["f%05d%s" % (index, ext)]), size, kind))
    return files


def make(folder, total_mib, small_files=0):
    # The stamp names this script's own text: any change to it makes the folder anew.
    with open(__file__, "rb") as script:
        digest = hashlib.sha1(script.read()).hexdigest()[:12]
    stamp = os.path.join(folder, ".made-%s-%d-%d" % (digest, total_mib, small_files))
    if os.path.exists(stamp):
        return False
    if os.path.exists(folder):
        shutil.rmtree(folder)
    os.makedirs(folder)
    rng = random.Random(SEED + 2)
    files = plan_small(small_files) if small_files else plan(total_mib * MIB)
    for index, (path, size, kind) in enumerate(files):
        full = os.path.join(folder, *path.split("\\"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        data = content(kind, rng, size)
        assert len(data) == size, (path, len(data), size)
        with open(full, "wb") as out:
            out.write(data)
        when = BASE_TIME + 2 * index
        os.utime(full, (when, when))
    # The stamp's name begins with ".", so a backup leaves it out.
    with open(stamp, "w") as out:
        out.write("made\n")
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[1])
    parser.add_argument("folder")
    parser.add_argument("--size", type=int, default=256, help="total size in MiB")
    parser.add_argument("--small-files", type=int, default=0, help="only this many small files")
    args = parser.parse_args()
    made = make(args.folder, args.size, args.small_files)
    count = size = 0
    for top, _, names in os.walk(args.folder):
        for name in names:
            if not name.startswith("."):
                count += 1
                size += os.path.getsize(os.path.join(top, name))
    print("%s %s: %d files, %.1f MiB" % ("made" if made else "kept", args.folder, count, size / MIB))
    return 0


if __name__ == "__main__":
    sys.exit(main())
