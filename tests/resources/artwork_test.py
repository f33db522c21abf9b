"""The generator draws the committed artwork, in the sizes and shapes the program relies on."""
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

RESOURCES = Path(__file__).resolve().parents[2] / "resources"
ART = RESOURCES / "art"
SIZES = {"main_skin": (342, 350, 8), "panel_skin": (237, 207, 8), "close_normal": (16, 16, 4),
         "tab_normal": (60, 207, 24), "reset_normal": (27, 28, 24), "knob_face": (34, 30, 24),
         "thumb_horizontal": (11, 19, 24), "meter_lit": (139, 4, 24)}
# Window shape: its bounds, and the controls drawn over it (left, top, width, height).
SHAPES = {"main_shape": ((0, 0, 340, 350), [(245, 40, 16, 16)]),
          "panel_shape": ((0, 0, 296, 207), [(30, 30, 27, 28), (80, 7, 16, 16), (60, 45, 174, 21),
                                             (75, 156, 160, 21), (208, 70, 14, 14), (34, 158, 34, 30),
                                             (100, 105, 34, 30), (194, 105, 34, 30), (85, 179, 139, 11)]),
          "tab_shape": ((0, 0, 60, 207), [])}


class ArtworkTest(unittest.TestCase):
    def test_generator_reproduces_the_committed_files(self):
        with tempfile.TemporaryDirectory() as out:
            subprocess.run([sys.executable, str(RESOURCES / "make_artwork.py"), out], check=True)
            made = {p.name: p.read_bytes() for p in Path(out).iterdir()}
            self.assertEqual(made, {p.name: p.read_bytes() for p in ART.iterdir()})

    def test_sizes_depths_and_shapes(self):
        for name, (width, height, bits) in SIZES.items():
            header = struct.unpack("<iiHH", (ART / f"{name}.bmp").read_bytes()[18:30])
            self.assertEqual(header, (width, height, 1, bits), name)
        for name, (bounds, controls) in SHAPES.items():
            data = (ART / f"{name}.rgn").read_bytes()
            count = struct.unpack("<I", data[8:12])[0]
            self.assertEqual((struct.unpack("<4i", data[16:32]), len(data)), (bounds, 32 + 16 * count), name)
            rects = [struct.unpack("<4i", data[32 + 16 * i: 48 + 16 * i]) for i in range(count)]
            for left, top, width, height in controls:  # every band a control crosses shows it whole
                for r in (r for r in rects if r[1] < top + height and top < r[3]):
                    self.assertTrue(r[0] <= left and left + width <= r[2], (name, left, top))


if __name__ == "__main__":
    unittest.main()
