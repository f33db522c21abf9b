"""The committed artwork is what the generator draws, and every picture and
window shape has the size and layout the program relies on."""
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

RESOURCES = Path(__file__).resolve().parents[2] / "resources"
ART = RESOURCES / "art"

# name: (width, height, bits per pixel)
BITMAPS = {
    "main_skin": (342, 350, 8),
    "panel_skin": (237, 207, 8),
    **{f"close_{s}": (16, 16, 4) for s in ("normal", "hover", "pressed")},
    **{f"tab_{s}": (60, 207, 24) for s in ("normal", "hover", "pressed")},
    **{f"reset_{s}": (27, 28, 24) for s in ("normal", "hover", "pressed")},
    **{f"auto_{s}": (16, 16, 24) for s in ("normal", "hover", "pressed")},
    "knob_face": (34, 30, 24),
    "thumb_horizontal": (11, 19, 24),
    "thumb_vertical": (19, 11, 24),
    "meter_lit": (139, 4, 24),
}

# name: (count, bounding rectangle, {row: (left, right)})
REGIONS = {
    "main_shape": (237, (0, 0, 340, 350), {0: (158, 192), 349: (158, 192)}),
    "panel_shape": (96, (0, 0, 296, 207), {0: (0, 264), 103: (27, 296), 206: (0, 265)}),
    "tab_shape": (66, (0, 0, 60, 207), {0: (0, 27), 103: (0, 60)}),
}

# Controls the program draws over each skin (left, top, width, height): the
# window's shape must show all of them.
CONTROLS = {
    "main_shape": [(245, 40, 16, 16)],
    "panel_shape": [
        (30, 30, 27, 28),  # RESET
        (80, 7, 16, 16),  # AUTOMODE
        (60, 45, 174, 21),  # speed slider
        (75, 156, 160, 21),  # noise threshold slider
        (208, 70, 14, 14),  # echo switch
        (34, 158, 34, 30),  # silence knob
        (100, 105, 34, 30),  # band-pass knob
        (150, 105, 34, 30),  # echo delay knob
        (194, 105, 34, 30),  # echo decay knob
        (85, 179, 139, 11),  # level meter and threshold marker
    ],
}


def read_bmp(path):
    """(width, height, bits, rows of (r, g, b), top row first)."""
    data = path.read_bytes()
    magic, size, _, _, offset = struct.unpack("<2sIHHI", data[:14])
    assert magic == b"BM" and size == len(data), path
    _, width, height, planes, bits, compression, _, _, _, used, _ = struct.unpack(
        "<IiiHHIIiiII", data[14:54]
    )
    assert planes == 1 and compression == 0 and height > 0, path  # plain, bottom-up
    entries = (used or 1 << bits) if bits <= 8 else 0
    palette = [tuple(data[54 + 4 * i : 57 + 4 * i][::-1]) for i in range(entries)]
    stride = (width * bits + 31) // 32 * 4
    assert offset + stride * height == len(data), path
    rows = []
    for y in range(height):
        start = offset + (height - 1 - y) * stride
        line = data[start : start + stride]
        if bits == 24:
            rows.append([tuple(line[3 * x : 3 * x + 3][::-1]) for x in range(width)])
        elif bits == 8:
            rows.append([palette[line[x]] for x in range(width)])
        else:
            rows.append([palette[line[x // 2] >> (4 - 4 * (x % 2)) & 15] for x in range(width)])
    return width, height, bits, rows


def read_region(path):
    data = path.read_bytes()
    header, kind, count, size = struct.unpack("<4I", data[:16])
    bound = struct.unpack("<4i", data[16:32])
    rects = [struct.unpack("<4i", data[32 + 16 * i : 48 + 16 * i]) for i in range(count)]
    return header, kind, count, size, bound, rects, len(data)


class ArtworkTest(unittest.TestCase):
    def test_generator_reproduces_the_committed_files(self):
        with tempfile.TemporaryDirectory() as out:
            subprocess.run([sys.executable, str(RESOURCES / "make_artwork.py"), out], check=True)
            made = sorted(p.name for p in Path(out).iterdir())
            self.assertEqual(made, sorted(p.name for p in ART.iterdir()))
            for name in made:
                with self.subTest(name):
                    self.assertEqual((Path(out) / name).read_bytes(), (ART / name).read_bytes())

    def test_bitmap_sizes_and_depths(self):
        for name, expected in BITMAPS.items():
            with self.subTest(name):
                self.assertEqual(read_bmp(ART / f"{name}.bmp")[:3], expected)

    def test_regions(self):
        for name, (count, bound, spans) in REGIONS.items():
            with self.subTest(name):
                header, kind, n, size, box, rects, length = read_region(ART / f"{name}.rgn")
                self.assertEqual((header, kind, n, size, box), (32, 1, count, 16 * count, bound))
                self.assertEqual(length, 32 + 16 * count)
                # Bands in order, each inside the bounds.
                self.assertEqual(rects, sorted(rects, key=lambda r: (r[1], r[0])))
                for r in rects:
                    self.assertTrue(bound[0] <= r[0] < r[2] <= bound[2] and r[1] < r[3], r)
                for row, span in spans.items():
                    hit = [(r[0], r[2]) for r in rects if r[1] <= row < r[3]]
                    self.assertEqual(hit, [span], row)

    def test_controls_lie_inside_their_window_shape(self):
        for name, controls in CONTROLS.items():
            rects = read_region(ART / f"{name}.rgn")[5]
            for left, top, width, height in controls:
                for r in rects:
                    if r[1] < top + height and top < r[3]:
                        self.assertTrue(r[0] <= left and left + width <= r[2], (name, left, top))

    def test_knob_face_is_transparent_only_around_the_face(self):
        rows = read_bmp(ART / "knob_face.bmp")[3]
        for x, y in ((0, 0), (33, 0), (0, 29), (33, 29)):
            self.assertEqual(rows[y][x], (0, 0, 0))
        # The needle turns about (16, 17) with radius 10: all of that is face.
        for y in range(7, 28):
            for x in range(6, 27):
                if (x - 16) ** 2 + (y - 17) ** 2 <= 100:
                    self.assertNotEqual(rows[y][x], (0, 0, 0), (x, y))

    def test_lit_meter_cells_sit_on_a_seven_pixel_pitch(self):
        rows = read_bmp(ART / "meter_lit.bmp")[3]
        for k in range(20):
            for x in range(7 * k, 7 * k + 5):
                for y in range(4):
                    self.assertGreater(max(rows[y][x]), 100, (k, x, y))
        self.assertGreater(rows[1][0][1], rows[1][0][0])  # first cell green
        self.assertGreater(rows[1][133][0], rows[1][133][1])  # last cell red


if __name__ == "__main__":
    unittest.main()
