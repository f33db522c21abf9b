"""The manual's pictures are the PNGs it says, its links lead somewhere
offline, and the display texts it quotes are the program's own."""

import html
import re
import struct
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
MANUAL = ROOT / "manual" / "manual.html"
PAGE = MANUAL.read_text(encoding="utf-8")


class Manual(unittest.TestCase):
    def test_pictures_and_links(self):
        images = re.findall(r'<img[^>]*src="([^"]+)"[^>]*width="(\d+)"[^>]*height="(\d+)"', PAGE)
        self.assertGreaterEqual(len(images), 4)
        for src, width, height in images:
            data = (MANUAL.parent / src).read_bytes()
            self.assertEqual((data[:8], struct.unpack(">II", data[16:24])),
                             (b"\x89PNG\r\n\x1a\n", (int(width), int(height))), src)
        ids = set(re.findall(r'\bid="([^"]+)"', PAGE))
        for link in re.findall(r'\b(?:href|src)="([^"]*)"', PAGE):
            path, _, fragment = link.partition("#")
            self.assertNotRegex(link, r"^(?:[a-z]+:|//)", "the manual must work offline")
            self.assertTrue((not path or (MANUAL.parent / path).is_file())
                            and (not fragment or fragment in ids), link)

    def test_quoted_display_texts_are_the_programs(self):
        sources = "".join(p.read_text(errors="replace") for d in ("app", "core", "engine", "ui")
                          for p in (ROOT / d).rglob("*.[ch]*"))
        shown = {re.sub(r"\\(.)", lambda m: {"n": "\n"}.get(m[1], m[1]), literal)
                 for literal in re.findall(r'"((?:[^"\\\n]|\\.)*)"', sources)}
        quoted = [" ".join(html.unescape(t).split()) if not block else html.unescape(t)
                  for block, t in re.findall(r'class="lcd(-block)?"[^>]*>(.*?)</', PAGE, re.S)]
        quoted += re.findall(r"<q>(No available wave devices[^<]*)</q>", PAGE)[:1]
        self.assertGreater(len(quoted), 10)
        for text in quoted:
            self.assertTrue(text in shown, text)
