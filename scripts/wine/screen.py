"""What the program shows, read off the virtual display: (height, width, 3) RGB arrays."""

import struct
import subprocess

import numpy as np

MAIN_SIZE, PANEL_SIZE = (342, 350), (297, 207)
DISPLAY = (60, 68, 229, 213)  # main-window client x, y, width, height
ZERO_LINE_Y, BAR_BASE_Y, BARS_X = 173, 281, (233, 274)
TRACE, BAR, TITLE, VALUE = (0, 230, 90), (90, 150, 255), (110, 160, 240), (110, 160, 220)


def _image(args, size, **kwargs):
    out = subprocess.run(args, capture_output=True, timeout=30, check=True, **kwargs).stdout
    return np.frombuffer(out[: size[0] * size[1] * 3], np.uint8).reshape(size[1], size[0], 3)


def grab(env, size):
    return _image(["import", "-window", "root", "-depth", "8", "rgb:-"], size, env=env)


def read_bmp(path, size):
    return _image(["convert", str(path), "-depth", "8", "rgb:-"], size)


def save_png(image, path):
    subprocess.run(["convert", "-size", f"{image.shape[1]}x{image.shape[0]}", "-depth", "8",
                    "rgb:-", str(path)], input=image.tobytes(), timeout=30, check=True)


def region_mask(path, size):
    """The pixels a window's region resource lets through."""
    data = open(path, "rb").read()
    mask = np.zeros((size[1], size[0]), bool)
    for i in range(struct.unpack_from("<I", data, 8)[0]):
        left, top, right, bottom = struct.unpack_from("<iiii", data, 32 + 16 * i)
        mask[top:bottom, left:right] = True
    return mask


def part(image, at, size):
    return image[at[1] : at[1] + size[1], at[0] : at[0] + size[0]]


def display(image, main_at=(0, 0)):
    """The display area of the main window standing at main_at in image."""
    return part(image, (main_at[0] + DISPLAY[0], main_at[1] + DISPLAY[1]), DISPLAY[2:])


def count(area, *colours):
    return int(sum(np.sum(np.all(area == np.array(c, np.uint8), axis=-1)) for c in colours))


def trace_off_zero(area):
    rows = np.nonzero(np.all(area == TRACE, axis=-1))[0] + DISPLAY[1]
    return int(np.sum(np.abs(rows - ZERO_LINE_Y) > 2))


def tallest_bar(area):
    rows = np.nonzero(np.all(area == BAR, axis=-1))[0] + DISPLAY[1]
    return int(BAR_BASE_Y - rows.min()) if rows.size else 0


def beyond_skin(area, skin_area):
    """Pixels unlike the skin other than the zero line (with a flat trace on
    it) and the bars' stubs."""
    differ = np.any(area != skin_area, axis=-1)
    differ[ZERO_LINE_Y - 1 - DISPLAY[1] : ZERO_LINE_Y + 2 - DISPLAY[1]] = False
    differ[BAR_BASE_Y - 3 - DISPLAY[1] :, BARS_X[0] - DISPLAY[0] : BARS_X[1] - DISPLAY[0]] = False
    return int(np.sum(differ))
