#!/usr/bin/env python3
"""What scripts/package.sh needs beyond wixl and msibuild, with Python's standard library alone.

  package_tool.py file-version <file.dll>
      The file's version resource: its fixed file version (a.b.c.d) and the language of its first translation
      (decimal), on one line.
  package_tool.py uuid5 <namespace GUID> <name>
      The name-based (SHA-1, version 5) UUID of <name> in <namespace>, upper case, without braces.
  package_tool.py finish <package.msi> <seconds since 1970> <namespace GUID> <name>
      Makes a package from wixl the same for the same contents: every time in its summary information becomes
      the given one, and its package code the UUID v5 of "<name> <SHA-256 of the package>" (hashed with the
      package code all zeros), so that a package with other contents has another code. Prints the code.
  package_tool.py zip <archive.zip> <seconds since 1970> <folder>
      The folder's files in a zip archive below the folder's own name, the same for the same files: entries in
      the order of their names, each with the given time (as UTC; not before 1980, where zip's times begin), the
      same permissions (rw-r--r--, rwxr-xr-x for what is executable) and no extra fields.

The summary information is rewritten in place, in the sectors of the compound file it already has: the new
values have the sizes of the old ones.
"""
import hashlib
import os
import struct
import sys
import time
import uuid
import zipfile

VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD
SUMMARY_STREAM = "\x05SummaryInformation"
VT_LPSTR, VT_FILETIME = 30, 64
PID_REVNUMBER = 9  # the package code
PID_EDITTIME = 10  # a duration, not a time: left alone
ZERO_CODE = "{00000000-0000-0000-0000-000000000000}"


class Failure(Exception):
    pass


def file_version(path):
    data = open(path, "rb").read()
    # The fixed part follows the resource's key, on a 32-bit boundary of the resource (itself so aligned).
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    at = data.find(key)
    if at < 0:
        raise Failure(f"{path} has no version resource")
    at += len(key)
    at += -at % 4
    if struct.unpack_from("<I", data, at)[0] != VS_FIXEDFILEINFO_SIGNATURE:
        raise Failure(f"{path}: the version resource has no fixed part where it belongs")
    ms, ls = struct.unpack_from("<II", data, at + 8)
    version = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    name = "Translation\0".encode("utf-16-le")
    at = data.find(name, at)
    if at < 0:
        raise Failure(f"{path} has no translation in its version resource")
    at += len(name)
    at += -at % 4  # the value starts on a 32-bit boundary
    (language,) = struct.unpack_from("<H", data, at)
    return version, language


class CompoundFile:
    """Reads the sectors of one stream of a compound file (the container of a Windows Installer package) and
    writes them back in place."""

    def __init__(self, data):
        if data[:8] != bytes.fromhex("D0CF11E0A1B11AE1"):
            raise Failure("not a compound file")
        self.data = data
        self.sector_size = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        self.mini_size = 1 << struct.unpack_from("<H", data, 0x20)[0]
        fat_sectors, first_directory = struct.unpack_from("<II", data, 0x2C)
        self.cutoff, first_minifat, minifat_sectors, first_difat, difat_sectors = struct.unpack_from(
            "<IIIII", data, 0x38)
        difat = list(struct.unpack_from("<109I", data, 0x4C))
        sector = first_difat
        for _ in range(difat_sectors):
            entries = struct.unpack_from(f"<{self.sector_size // 4}I", data, self.offset(sector))
            difat.extend(entries[:-1])
            sector = entries[-1]
        self.fat = []
        for sector in difat[:fat_sectors]:
            self.fat.extend(struct.unpack_from(f"<{self.sector_size // 4}I", data, self.offset(sector)))
        self.minifat = []
        for sector in self.chain(first_minifat):
            self.minifat.extend(struct.unpack_from(f"<{self.sector_size // 4}I", data, self.offset(sector)))
        self.entries = []
        for sector in self.chain(first_directory):
            for k in range(self.sector_size // 128):
                self.entries.append(self.offset(sector) + 128 * k)
        self.mini_stream = [self.offset(s) for s in self.chain(self.entry(0)[2])]

    def offset(self, sector):
        return (sector + 1) * self.sector_size

    def chain(self, first, table=None):
        table = self.fat if table is None else table
        sectors, sector = [], first
        while sector < 0xFFFFFFFA:
            if len(sectors) > len(table):
                raise Failure("a sector chain runs in a circle")
            sectors.append(sector)
            sector = table[sector]
        return sectors

    def entry(self, at_index):
        at = self.entries[at_index]
        length = struct.unpack_from("<H", self.data, at + 0x40)[0]
        name = self.data[at:at + max(length - 2, 0)].decode("utf-16-le")
        start, size = struct.unpack_from("<II", self.data, at + 0x74)
        return name, self.data[at + 0x42], start, size

    def places(self, name):
        """The file offsets of the stream's bytes, one (offset, length) per sector."""
        for index in range(len(self.entries)):
            entry_name, kind, start, size = self.entry(index)
            if kind == 2 and entry_name == name:
                break
        else:
            raise Failure(f"no stream {name!r}")
        if size < self.cutoff:
            places = []
            for mini in self.chain(start, self.minifat):
                byte = mini * self.mini_size
                places.append((self.mini_stream[byte // self.sector_size] + byte % self.sector_size, self.mini_size))
            unit = self.mini_size
        else:
            places = [(self.offset(s), self.sector_size) for s in self.chain(start)]
            unit = self.sector_size
        if len(places) * unit < size:
            raise Failure(f"stream {name!r} is shorter than its entry says")
        return places, size

    def read(self, name):
        places, size = self.places(name)
        return b"".join(self.data[at:at + length] for at, length in places)[:size]

    def write(self, name, content):
        places, size = self.places(name)
        if len(content) != size:
            raise Failure(f"stream {name!r} would change its size")
        done = 0
        for at, length in places:
            piece = content[done:done + length]
            self.data[at:at + len(piece)] = piece
            done += len(piece)


def summary_properties(stream):
    """(type, offset of the value) of each property of the summary information's section, by property id."""
    (sections,) = struct.unpack_from("<I", stream, 24)
    if sections < 1:
        raise Failure("the summary information has no section")
    section = struct.unpack_from("<I", stream, 28 + 16)[0]
    count = struct.unpack_from("<I", stream, section + 4)[0]
    properties = {}
    for k in range(count):
        pid, at = struct.unpack_from("<II", stream, section + 8 + 8 * k)
        (kind,) = struct.unpack_from("<I", stream, section + at)
        properties[pid] = (kind, section + at + 4)
    return properties


def rewrite_summary(data, seconds, code):
    compound = CompoundFile(data)
    stream = bytearray(compound.read(SUMMARY_STREAM))
    properties = summary_properties(stream)
    filetime = (seconds + 11644473600) * 10_000_000  # 100 ns since 1601
    for pid, (kind, at) in properties.items():
        if kind == VT_FILETIME and pid != PID_EDITTIME:
            struct.pack_into("<Q", stream, at, filetime)
    if PID_REVNUMBER not in properties or properties[PID_REVNUMBER][0] != VT_LPSTR:
        raise Failure("the summary information has no package code")
    at = properties[PID_REVNUMBER][1]
    (length,) = struct.unpack_from("<I", stream, at)
    text = code.encode("ascii") + b"\0"
    if length != len(text):
        raise Failure(f"the package code takes {length} bytes, not {len(text)}")
    stream[at + 4:at + 4 + length] = text
    compound.write(SUMMARY_STREAM, bytes(stream))


def finish(path, seconds, namespace, name):
    data = bytearray(open(path, "rb").read())
    rewrite_summary(data, seconds, ZERO_CODE)
    digest = hashlib.sha256(data).hexdigest()
    code = "{" + str(uuid.uuid5(uuid.UUID(namespace), f"{name} {digest}")).upper() + "}"
    rewrite_summary(data, seconds, code)
    open(path, "wb").write(data)
    return code


def write_zip(archive, seconds, folder):
    folder = os.path.abspath(folder)
    base = os.path.basename(folder)
    names = []
    for parent, folders, files in os.walk(folder):
        folders.sort()
        for name in files:
            path = os.path.join(parent, name)
            if os.path.islink(path) or not os.path.isfile(path):
                raise Failure(f"not a plain file: {path}")
            names.append(os.path.relpath(path, folder).replace(os.sep, "/"))
    when = time.gmtime(max(seconds, 315532800))[:6]  # 1980-01-01
    with zipfile.ZipFile(archive, "w") as out:
        for name in sorted(names):
            path = os.path.join(folder, name)
            entry = zipfile.ZipInfo(f"{base}/{name}", date_time=when)
            entry.create_system = 3  # Unix, whose permissions follow
            mode = 0o755 if os.stat(path).st_mode & 0o100 else 0o644
            entry.external_attr = (0o100000 | mode) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as data:
                out.writestr(entry, data.read(), compresslevel=9)


def main(argv):
    try:
        if len(argv) == 3 and argv[1] == "file-version":
            version, language = file_version(argv[2])
            print(version, language)
        elif len(argv) == 4 and argv[1] == "uuid5":
            print(str(uuid.uuid5(uuid.UUID(argv[2]), argv[3])).upper())
        elif len(argv) == 6 and argv[1] == "finish":
            if not argv[3].isdigit():
                raise Failure(f"not a number of seconds: {argv[3]}")
            print(finish(argv[2], int(argv[3]), argv[4], argv[5]))
        elif len(argv) == 5 and argv[1] == "zip":
            if not argv[3].isdigit():
                raise Failure(f"not a number of seconds: {argv[3]}")
            write_zip(argv[2], int(argv[3]), argv[4])
        else:
            print(__doc__.strip(), file=sys.stderr)
            return 2
    except (Failure, OSError, struct.error, ValueError) as e:
        print(f"package_tool: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
