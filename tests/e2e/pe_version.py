"""The version record of a Windows program, read from its file: what
Explorer's file properties show."""

import struct
from pathlib import Path

RT_VERSION = 16
FIXED_SIGNATURE = 0xFEEF04BD


class _Reader:
    def __init__(self, data):
        self.data = data

    def u16(self, offset):
        return self._unpack("<H", offset)

    def u32(self, offset):
        return self._unpack("<I", offset)

    def _unpack(self, fmt, offset):
        if offset < 0:
            raise ValueError("offset before the file's start")
        try:
            return struct.unpack_from(fmt, self.data, offset)[0]
        except struct.error:
            raise ValueError(f"the file ends before offset {offset}") from None


def _resource_blob(data, kind):
    """The first resource of the given type, any name and language."""
    r = _Reader(data)
    if data[:2] != b"MZ":
        raise ValueError("not a Windows program (no MZ header)")
    pe = r.u32(0x3C)
    if data[pe : pe + 4] != b"PE\0\0":
        raise ValueError("not a Windows program (no PE header)")
    sections, optional_size = r.u16(pe + 6), r.u16(pe + 20)
    optional = pe + 24
    # PE32 and PE32+ differ in where the data directories start.
    directories = optional + (96 if r.u16(optional) == 0x10B else 112)
    resources_rva = r.u32(directories + 2 * 8)
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            entry = table + 40 * i
            start, size = r.u32(entry + 12), max(r.u32(entry + 8), r.u32(entry + 16))
            if start <= rva < start + size:
                return rva - start + r.u32(entry + 20)
        raise ValueError(f"address {rva:#x} lies in no section")

    root = offset(resources_rva)

    def first_entry(directory, wanted=None):
        count = r.u16(directory + 12) + r.u16(directory + 14)
        for i in range(count):
            name, target = r.u32(directory + 16 + 8 * i), r.u32(directory + 20 + 8 * i)
            if wanted is None or name == wanted:
                return target
        raise ValueError("the file holds no version record")

    level = first_entry(root, kind)
    for _ in range(2):  # name, then language
        if not level & 0x80000000:
            raise ValueError("malformed resource directory")
        level = first_entry(root + (level & 0x7FFFFFFF))
    rva, size = r.u32(root + level), r.u32(root + level + 4)
    start = offset(rva)
    if start + size > len(data):
        raise ValueError("the version record runs past the file's end")
    return data[start : start + size]


def _align(offset):
    return (offset + 3) & ~3


def _walk(blob, offset, end, strings, fixed):
    """Every block of the record from offset to end: text values into
    strings by name, the fixed part into fixed."""
    r = _Reader(blob)
    while offset + 6 <= end:
        length, value_length, text = r.u16(offset), r.u16(offset + 2), r.u16(offset + 4)
        if length < 6 or offset + length > end:
            raise ValueError("malformed version block")
        key_end = offset + 6
        while r.u16(key_end) != 0:
            key_end += 2
        key = blob[offset + 6 : key_end].decode("utf-16-le")
        value = _align(key_end + 2)
        value_bytes = value_length * 2 if text else value_length
        if text and value_length:
            strings[key] = blob[value : value + value_bytes].decode("utf-16-le").rstrip("\0")
        elif key == "VS_VERSION_INFO" and value_length >= 52:
            if r.u32(value) != FIXED_SIGNATURE:
                raise ValueError("the fixed version part has no signature")
            ms, ls = r.u32(value + 8), r.u32(value + 12)
            fixed.extend((ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
        _walk(blob, _align(value + value_bytes), offset + length, strings, fixed)
        offset = _align(offset + length)


def version_info(path):
    """{name: text} of the record's strings (ProductName, FileVersion, ...)
    and the fixed file version as a tuple of four numbers. ValueError for a
    file that is no Windows program or holds no well-formed record."""
    blob = _resource_blob(Path(path).read_bytes(), RT_VERSION)
    strings, fixed = {}, []
    _walk(blob, 0, len(blob), strings, fixed)
    if not fixed:
        raise ValueError("the version record has no fixed part")
    return strings, tuple(fixed)
