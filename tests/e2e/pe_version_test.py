"""What the version reader makes of files that are not what it expects:
a clear ValueError, never another exception or a hang."""

import struct
import tempfile
import unittest
from pathlib import Path

import pe_version


def pe_header(sections=0, optional_size=0):
    mz = b"MZ" + bytes(0x3A) + struct.pack("<I", 0x40)
    return mz + b"PE\0\0" + struct.pack("<HHIIIHH", 0x8664, sections, 0, 0, 0, optional_size, 0)


class MalformedFiles(unittest.TestCase):
    CASES = {
        "empty": b"",
        "text": b"hello, world\n",
        "MZ only": b"MZ",
        "header offset past the end": b"MZ" + bytes(0x3A) + struct.pack("<I", 0xFFFFFF00),
        "no PE signature": b"MZ" + bytes(0x3A) + struct.pack("<I", 0x40) + b"XX\0\0",
        "no optional header": pe_header(),
        "resources in no section": pe_header(optional_size=240) + bytes(240),
    }

    def test_each_is_refused_with_a_value_error(self):
        with tempfile.TemporaryDirectory() as folder:
            for name, data in self.CASES.items():
                with self.subTest(name):
                    path = Path(folder) / "file.exe"
                    path.write_bytes(data)
                    with self.assertRaises(ValueError):
                        pe_version.version_info(path)


if __name__ == "__main__":
    unittest.main()
