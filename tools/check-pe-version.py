#!/usr/bin/env python3
"""Reads the version resource (and, where present, the manifest) back from a Windows program and
checks them against the version the build was configured with:

    tools/check-pe-version.py VERSION PROGRAM.exe [--manifest]

VERSION is major.minor.patch. The fixed part must hold major.minor.patch.0 as file and product
version; the Swedish string table FileVersion and ProductVersion equal to VERSION, ProductName
"Ferrolyn", OriginalFilename the program's file name, and a FileDescription. With --manifest the
embedded manifest's own assemblyIdentity must carry major.minor.patch.0. Prints what it read and
exits 1 on any difference. Needs nothing beyond the standard library."""
import os
import re
import struct
import sys

RT_VERSION = 16
RT_MANIFEST = 24


class PeError(Exception):
    pass


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def resource_section(data):
    """The bytes of the resource section and the virtual address it is loaded at."""
    if data[:2] != b"MZ":
        raise PeError("no MZ header")
    pe = u32(data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    sections = u16(data, pe + 6)
    optional_size = u16(data, pe + 20)
    optional = pe + 24
    magic = u16(data, optional)
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva = u32(data, directories + 2 * 8)
    if resource_rva == 0:
        raise PeError("no resource directory")
    table = optional + optional_size
    for index in range(sections):
        header = table + 40 * index
        virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from("<IIII", data, header + 8)
        if virtual_address <= resource_rva < virtual_address + max(virtual_size, raw_size):
            start = raw_pointer + (resource_rva - virtual_address)
            return data[start:raw_pointer + raw_size], resource_rva
    raise PeError("resource directory outside every section")


def resources(data, type_id):
    """Every resource of one numeric type, as a list of byte strings (all names and languages)."""
    section, base = resource_section(data)

    def entries(offset):
        named, numbered = u16(section, offset + 12), u16(section, offset + 14)
        for index in range(named + numbered):
            name, target = struct.unpack_from("<II", section, offset + 16 + 8 * index)
            yield name, target

    found = []

    def collect(target):
        if target & 0x80000000:
            for _, child in entries(target & 0x7FFFFFFF):
                collect(child)
        else:
            rva, size = struct.unpack_from("<II", section, target)
            found.append(section[rva - base:rva - base + size])

    for name, target in entries(0):
        if not name & 0x80000000 and name == type_id:
            collect(target)
    return found


def align4(offset):
    return (offset + 3) & ~3


def parse_block(blob, at):
    """One node of the version tree: (key, value bytes, children, offset after the node)."""
    length, value_length, kind = struct.unpack_from("<HHH", blob, at)
    if length < 6 or at + length > len(blob):
        raise PeError("version block of length %d at %d runs past its end" % (length, at))
    end = at + length
    key_end = at + 6
    while blob[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = blob[at + 6:key_end].decode("utf-16-le")
    cursor = align4(key_end + 2)
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = blob[cursor:cursor + value_bytes]
    cursor = align4(cursor + value_bytes)
    children = []
    while cursor < end:
        child = parse_block(blob, cursor)
        children.append(child)
        cursor = align4(child[3])
    return key, value, children, end


def read_version(blob):
    key, fixed, children, _ = parse_block(blob, 0)
    if key != "VS_VERSION_INFO":
        raise PeError("version resource starts with %r" % key)
    if len(fixed) != 52 or u32(fixed, 0) != 0xFEEF04BD:
        raise PeError("no VS_FIXEDFILEINFO")
    ms, ls, pms, pls = struct.unpack_from("<IIII", fixed, 8)
    numbers = lambda high, low: "%d.%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)
    strings = {}
    translations = []
    for child_key, value, grandchildren, _ in children:
        if child_key == "StringFileInfo":
            for table_key, _, table, _ in grandchildren:
                for name, text, _, _ in table:
                    strings[(table_key, name)] = text.decode("utf-16-le").rstrip("\0")
        elif child_key == "VarFileInfo":
            for _, var, _, _ in grandchildren:
                translations += [struct.unpack_from("<HH", var, i) for i in range(0, len(var), 4)]
    return numbers(ms, ls), numbers(pms, pls), strings, translations


def main(arguments):
    if len(arguments) not in (2, 3) or (len(arguments) == 3 and arguments[2] != "--manifest"):
        print("usage: check-pe-version.py VERSION PROGRAM.exe [--manifest]")
        return 2
    version, program = arguments[0], arguments[1]
    if not re.fullmatch(r"\d+\.\d+\.\d+", version):
        print("not a version major.minor.patch: %s" % version)
        return 2
    four = version + ".0"
    with open(program, "rb") as handle:
        data = handle.read()
    problems = []
    try:
        blobs = resources(data, RT_VERSION)
        if len(blobs) != 1:
            raise PeError("%d version resources" % len(blobs))
        file_version, product_version, strings, translations = read_version(blobs[0])
        print("%s: fixed file %s, product %s; translations %s" % (
            os.path.basename(program), file_version, product_version,
            ", ".join("%04X/%d" % pair for pair in translations)))
        for (table, name), text in sorted(strings.items()):
            print("  %s %s = %s" % (table, name, text))
        if file_version != four or product_version != four:
            problems.append("fixed version %s / %s, expected %s" % (file_version, product_version, four))
        tables = {table for table, _ in strings}
        if tables != {"041D04B0"}:
            problems.append("string tables %s, expected the Swedish Unicode table 041D04B0" % sorted(tables))
        if (0x041D, 1200) not in translations:
            problems.append("no translation 041D/1200 in VarFileInfo")
        expected = {"FileVersion": version, "ProductVersion": version, "ProductName": "Ferrolyn",
                    "OriginalFilename": os.path.basename(program)}
        for name, value in expected.items():
            if strings.get(("041D04B0", name)) != value:
                problems.append("%s is %r, expected %r" % (name, strings.get(("041D04B0", name)), value))
        if not strings.get(("041D04B0", "FileDescription")):
            problems.append("no FileDescription")
        if len(arguments) == 3:
            manifests = resources(data, RT_MANIFEST)
            if len(manifests) != 1:
                raise PeError("%d manifests" % len(manifests))
            text = manifests[0].decode("utf-8")
            own = re.search(r'<assemblyIdentity[^>]*name="Ferrolyn"[^>]*>', text)
            identity = re.search(r'version="([^"]*)"', own.group(0)) if own else None
            print("  manifest assemblyIdentity version = %s" % (identity.group(1) if identity else None))
            if not identity or identity.group(1) != four:
                problems.append("manifest version %s, expected %s" % (identity and identity.group(1), four))
    except (PeError, struct.error, UnicodeDecodeError) as error:
        problems.append(str(error))
    for problem in problems:
        print("%s: %s" % (program, problem))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
