#!/usr/bin/env python3
"""Checks that Windows programs import only what the oldest Windows they
support has.

usage: check-imports.py ALLOWED_LIST ARCH:PROGRAM[:DLL,...]...
       check-imports.py --list PROGRAM...

ARCH is x86 or x64. Checks the subsystem version each program asks for (XP's
loader refuses anything above 5.1, XP x64's above 5.2) and reads every import of each program: the import table and
the delay-import table (a delay-loaded DLL is needed as soon as one of its
functions is called, and `objdump -p` does not list its names). Fails, naming
each one, on a DLL or function that the allowed list does not hold for ARCH.
The DLLs after a program's second colon must be among its imports: naming the
delay-loaded ones keeps the check from passing because it no longer finds them.
With --list, prints the imports as "DLL function" lines and checks nothing.

The allowed list: one DLL per "[name.dll]" line, then one function per line;
"name x86" or "name x64" holds for that architecture only; "#" starts a
comment. DLL names compare without regard to case, function names exactly.
"""
import struct
import sys


class BadImage(Exception):
    pass


class Image:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        if self.data[:2] != b"MZ":
            raise BadImage("not an executable")
        pe = self.u32(0x3C)
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise BadImage("no PE header")
        sections = self.u16(pe + 6)
        optional_size = self.u16(pe + 20)
        opt = pe + 24
        magic = self.u16(opt)
        if magic == 0x10B:
            self.wide = False
            self.image_base = self.u32(opt + 28)
            directories = opt + 96
        elif magic == 0x20B:
            self.wide = True
            self.image_base = struct.unpack_from("<Q", self.data, opt + 24)[0]
            directories = opt + 112
        else:
            raise BadImage("unknown optional header")
        # The loader of XP refuses a program that asks for a newer subsystem.
        self.subsystem_version = (self.u16(opt + 48), self.u16(opt + 50))
        self.directory_count = self.u32(directories - 4)
        self.directories = directories
        self.sections = []
        table = opt + optional_size
        for i in range(sections):
            s = table + 40 * i
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", self.data, s + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset, raw_size))

    def u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def directory(self, index):
        if index >= self.directory_count:
            return 0, 0
        return struct.unpack_from("<II", self.data, self.directories + 8 * index)

    def offset(self, rva):
        for start, size, raw_offset, raw_size in self.sections:
            if start <= rva < start + size:
                if rva - start >= raw_size:
                    raise BadImage("address %#x has no file data" % rva)
                return raw_offset + rva - start
        raise BadImage("address %#x is in no section" % rva)

    def text(self, rva):
        start = self.offset(rva)
        end = self.data.index(b"\0", start)
        return self.data[start:end].decode("ascii")

    def thunks(self, rva):
        """Names (or "#ordinal") of a zero-ended table of import thunks."""
        size, ordinal_bit = (8, 1 << 63) if self.wide else (4, 1 << 31)
        names = []
        at = self.offset(rva)
        while True:
            (value,) = struct.unpack_from("<Q" if self.wide else "<I", self.data, at)
            if value == 0:
                return names
            if value & ordinal_bit:
                names.append("#%d" % (value & 0xFFFF))
            else:
                names.append(self.text((value & 0x7FFFFFFF) + 2))  # after the hint
            at += size

    def imports(self):
        """(dll, function) for every import, delayed ones included."""
        found = []
        rva, _ = self.directory(1)
        if rva:
            at = self.offset(rva)
            while True:
                lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, at)
                if name == 0:
                    break
                dll = self.text(name)
                found += [(dll, f) for f in self.thunks(lookup or first)]
                at += 20
        for name, names in self.delay_descriptors():
            dll = self.text(name)
            found += [(dll, f) for f in self.thunks(names)]
        return found

    def delay_descriptors(self):
        """(DLL name, name table) of every delay-import descriptor.

        The loader never reads them (the program's own helper does), so
        mingw-w64's delay-import libraries leave the directory empty. They are
        found by their shape instead: attributes 1 (relative addresses), a DLL
        name ending in ".dll", a module handle, address and name table inside
        the image, and a name table of valid names."""
        found = {}
        rva, _ = self.directory(13)
        if rva:
            at = self.offset(rva)
            while True:
                attributes, name, _, _, names = struct.unpack_from("<IIIII", self.data, at)
                if name == 0:
                    break
                # Old-style descriptors hold addresses, not relative ones.
                base = 0 if attributes & 1 else self.image_base
                found[name - base] = names - base
                at += 32
        for start, size, raw_offset, raw_size in self.sections:
            end = raw_offset + min(size, raw_size) - 32
            at = self.data.find(b"\1\0\0\0", raw_offset, end + 4)
            while at != -1 and at <= end:
                if at % 4 == 0:
                    record = self.descriptor_at(at)
                    if record:
                        found.setdefault(*record)
                at = self.data.find(b"\1\0\0\0", at + 1, end + 4)
        return sorted(found.items())

    def descriptor_at(self, at):
        _, name, module, table, names = struct.unpack_from("<IIIII", self.data, at)
        try:
            if not self.text(name).lower().endswith(".dll") or table == 0 or names == 0:
                return None
            self.offset(module)
            self.offset(table)
            entries = self.thunks(names)
        except (BadImage, ValueError, UnicodeDecodeError, struct.error):
            return None
        if not entries or not all(e.replace("_", "a").isalnum() for e in entries):
            return None
        return name, names


# The oldest Windows of each architecture and the newest subsystem version its
# loader accepts.
OLDEST = {"x86": ("Windows XP SP3", (5, 1)), "x64": ("Windows XP x64 / Server 2003 SP2", (5, 2))}


def read_allowed(path, arch):
    allowed = {}
    dll = None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            if line.startswith("[") and line.endswith("]"):
                dll = line[1:-1].strip().lower()
                allowed.setdefault(dll, set())
                continue
            if dll is None:
                raise SystemExit("%s:%d: a function before any [dll] line" % (path, number))
            words = line.split()
            if len(words) > 2 or (len(words) == 2 and words[1] not in ("x86", "x64")):
                raise SystemExit("%s:%d: expected 'function [x86|x64]'" % (path, number))
            if len(words) == 1 or words[1] == arch:
                allowed[dll].add(words[0])
    return allowed


def main(argv):
    if len(argv) >= 2 and argv[0] == "--list":
        for program in argv[1:]:
            for dll, function in Image(program).imports():
                print(dll, function)
        return 0
    programs = [(a.split(":", 2) + [""])[:3] for a in argv[1:]]
    if len(argv) < 2 or any(p[0] not in OLDEST or not p[1] for p in programs):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    allowed = {arch: read_allowed(argv[0], arch) for arch in OLDEST}
    failures = 0
    for arch, program, expected in programs:
        windows, subsystem = OLDEST[arch]
        try:
            image = Image(program)
            imports = image.imports()
        except (OSError, BadImage, struct.error, ValueError, UnicodeDecodeError) as e:
            print("%s: cannot read its imports: %s" % (program, e))
            failures += 1
            continue
        problems = []
        if image.subsystem_version > subsystem:
            problems.append("asks for subsystem version %d.%d, which %s's loader refuses"
                            % (image.subsystem_version + (windows,)))
        for dll, function in sorted({(d, f) for d, f in imports
                                     if f not in allowed[arch].get(d.lower(), ())}):
            known = dll.lower() in allowed[arch]
            problems.append("%s %s is not on %s" % (
                dll, function if known else "(the whole DLL)", windows))
        seen = {d.lower() for d, _ in imports}
        problems += ["%s is not among its imports: are delayed imports still read?" % dll
                     for dll in expected.split(",") if dll and dll.lower() not in seen]
        for problem in problems:
            print("%s: %s" % (program, problem))
        if not problems:
            print("%s: %d imports, all on %s" % (program, len(imports), windows))
        failures += len(problems)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
