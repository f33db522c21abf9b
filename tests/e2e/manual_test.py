"""The user's manual is sound: its pictures are there and are the PNGs it
says, its links lead somewhere, it needs nothing from the network, and the
texts it quotes from the display are the program's own."""

import re
import struct
import unittest
from html.parser import HTMLParser
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
MANUAL = ROOT / "manual" / "manual.html"
SOURCE_DIRS = ("app", "audio", "core", "engine", "settings", "ui")
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


class Page(HTMLParser):
    """What the tests look at: references, ids, and the texts shown as the
    display shows them (class "lcd", or a "lcd-block" for several lines)."""

    def __init__(self):
        super().__init__()
        self.images = []  # (src, width, height)
        self.links = []  # href and src values
        self.ids = set()
        self.display_texts = []
        self._open = []  # one entry per open element: collecting text or not
        self._text = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if "id" in a:
            self.ids.add(a["id"])
        for name in ("href", "src"):
            if name in a:
                self.links.append(a[name])
        if tag == "img":
            self.images.append((a.get("src"), a.get("width"), a.get("height")))
        classes = (a.get("class") or "").split()
        # A block keeps its line breaks; a text in the run of a sentence may
        # be wrapped anywhere.
        collects = "lcd-block" if "lcd-block" in classes else "lcd" in classes and "lcd"
        self._open.append(collects)
        if collects:
            self._text = []

    def handle_endtag(self, tag):
        collects = self._open.pop() if self._open else None
        if collects and self._text is not None:
            text = "".join(self._text)
            self.display_texts.append(text if collects == "lcd-block" else " ".join(text.split()))
            self._text = None

    def handle_data(self, data):
        if self._text is not None:
            self._text.append(data)


def read_page():
    page = Page()
    page.feed(MANUAL.read_text(encoding="utf-8"))
    return page


def program_strings():
    """Every C string literal in the program's sources, escapes resolved."""
    escapes = {"n": "\n", "t": "\t", '"': '"', "'": "'", "\\": "\\"}
    found = set()
    for folder in SOURCE_DIRS:
        for path in (ROOT / folder).rglob("*"):
            if path.suffix not in (".cpp", ".h"):
                continue
            for literal in re.findall(r'"((?:[^"\\\n]|\\.)*)"', path.read_text(errors="replace")):
                found.add(re.sub(r"\\(.)", lambda m: escapes.get(m[1], m[0]), literal))
    return found


class ManualTest(unittest.TestCase):
    def test_pictures_are_pngs_of_the_stated_size(self):
        page = read_page()
        self.assertGreaterEqual(len(page.images), 4)
        for src, width, height in page.images:
            with self.subTest(src=src):
                data = (MANUAL.parent / src).read_bytes()
                self.assertEqual(data[:8], PNG_SIGNATURE)
                size = struct.unpack(">II", data[16:24])
                self.assertEqual(size, (int(width), int(height)), "width/height attributes")

    def test_links_resolve_and_nothing_comes_from_the_network(self):
        page = read_page()
        for link in page.links:
            with self.subTest(link=link):
                self.assertNotRegex(link, r"^(?:[a-z]+:|//)", "the manual must work offline")
                path, _, fragment = link.partition("#")
                if path:
                    self.assertTrue((MANUAL.parent / path).is_file(), f"{path} is missing")
                if fragment:
                    self.assertIn(fragment, page.ids)

    def test_quoted_display_texts_are_the_programs(self):
        page = read_page()
        shown = program_strings()
        self.assertGreater(len(page.display_texts), 10)
        for text in sorted(set(page.display_texts)):
            with self.subTest(text=text):
                self.assertTrue(text in shown, f"{text!r} is in no source of the program")

    def test_start_up_message_is_quoted_exactly(self):
        quoted = re.findall(r"<q>([^<]*)</q>", MANUAL.read_text(encoding="utf-8"))
        message = [s for s in program_strings() if s.startswith("No available wave devices")]
        self.assertEqual(len(message), 1)
        self.assertIn(message[0], quoted)


if __name__ == "__main__":
    unittest.main()
