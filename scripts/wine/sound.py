"""Measures on what the program heard and played: float64 arrays of 16-bit samples at RATE."""

import wave

import numpy as np

RATE = 44100
BLOCK = 880  # the program's block
FRAME = 441
# The virtual devices give exact zeros when nothing plays, so anything the
# program plays is far above this while the quiet tails of speech still count.
SOUND_LEVEL = 16.0
SPEECH_LEVEL = 0.40 * 4096  # the built-in NThre of the built-in peakThreshold
# A faithful take scores above 0.98; another phrase, speed or noise below 0.2.
MIN_MATCH = 0.80


def read_wav(path):
    with wave.open(str(path), "rb") as f:
        if (f.getsampwidth(), f.getnchannels(), f.getframerate()) != (2, 1, RATE):
            raise ValueError(f"{path}: not 16-bit mono at {RATE} Hz")
        return np.frombuffer(f.readframes(f.getnframes()), "<i2").astype(np.float64)


def write_wav(path, x):
    with wave.open(str(path), "wb") as f:
        f.setnchannels(1)
        f.setsampwidth(2)
        f.setframerate(RATE)
        f.writeframes(np.clip(np.round(x), -32768, 32767).astype("<i2").tobytes())


def sounds(x, gap=1.0):
    """(first, end) of the stretches of sound in x, joining those less than
    gap s apart: a take has no pause as long as the silence time."""
    n = len(x) // FRAME
    loud = np.flatnonzero(np.abs(x[: n * FRAME]).reshape(n, FRAME).mean(axis=1) > SOUND_LEVEL)
    if not len(loud):
        return []
    breaks = np.flatnonzero(np.diff(loud) > gap * RATE / FRAME)
    starts, ends = np.concatenate(([loud[0]], loud[breaks + 1])), np.append(loud[breaks], loud[-1])
    return [(int(s) * FRAME, (int(e) + 1) * FRAME) for s, e in zip(starts, ends)]


def loud_edges(x):
    """Start of the first and end of the last block-long window loud enough
    to be speech, or None."""
    c = np.concatenate(([0.0], np.cumsum(np.abs(x))))
    loud = np.flatnonzero((c[BLOCK:] - c[:-BLOCK]) / BLOCK >= SPEECH_LEVEL)
    return (int(loud[0]), int(loud[-1]) + BLOCK) if len(loud) else None


def close_gaps(take):
    """take without its runs of digital silence: the phrase has none, so they
    are the output running dry for a moment, after which the rest plays late
    but whole."""
    silent = np.concatenate(([False], take == 0, [False]))
    keep = np.ones(len(take), bool)
    edges = np.flatnonzero(np.diff(silent.astype(np.int8)))
    for start, end in zip(edges[::2], edges[1::2]):
        keep[start:end] = end - start < FRAME // 10
    return take[keep]


def match(target, take, reach=2 * FRAME, piece=10 * FRAME):
    """Energy-weighted correlation of take with target in 0.1-s pieces, each
    fitted within reach samples of where the take fits as a whole: a moment
    of lost output shifts the rest, which spoils a match as a whole."""
    size = 1 << int(np.ceil(np.log2(len(target) + len(take))))
    lag = int(np.argmax(np.fft.irfft(np.fft.rfft(target, size) * np.conj(np.fft.rfft(take, size)))))
    offset = lag if lag < size - len(take) else lag - size
    padded = np.concatenate((np.zeros(reach), target, np.zeros(len(take) + reach)))
    total = weight = 0.0
    for start in range(0, len(take) - piece // 2, piece):
        part = take[start : start + piece]
        energy = float(np.dot(part, part))
        expected = offset + start + reach
        region = padded[max(expected - reach, 0) : expected + len(part) + reach]
        weight += energy
        if energy == 0 or len(region) < len(part):  # fitted before the target's start
            continue
        power = np.concatenate(([0.0], np.cumsum(region * region)))
        norm = np.sqrt(np.maximum(power[len(part) :] - power[: -len(part)], 0.0) * energy)
        total += energy * np.max(np.correlate(region, part, "valid") / np.maximum(norm, 1e-9))
    return total / weight if weight else 0.0


def faster(x, speed):
    """x as the program plays it at Speed: every block resampled on its own
    with a 10.22 fixed-point step of the float, 587 samples for 880 at 1.50."""
    step = int(float(np.float32(speed)) * 4194304.0)
    played = BLOCK / -(-(BLOCK << 22) // step)
    return np.interp(np.arange(0.0, len(x) - 1, played), np.arange(len(x)), x)


class Take:
    """The longest sound played (parts: all), its duration, its match with the
    phrase at speed, and its start after the last loud block heard (gap)."""

    def __init__(self, phrase, heard, played, heard_start, played_start, speed, reach=2 * FRAME):
        self.parts, self.speed = sounds(played), speed
        self.expected = (sounds(phrase)[-1][1] - loud_edges(phrase)[0]) / RATE / speed
        self.duration = self.match = self.gap = None
        if not self.parts:
            return
        first, end = max(self.parts, key=lambda part: part[1] - part[0])
        take = close_gaps(played[first:end])
        self.duration = len(take) / RATE
        self.match = match(phrase if speed == 1 else faster(phrase, speed), take, reach)
        if edges := loud_edges(heard):
            self.gap = played_start + first / RATE - heard_start - edges[1] / RATE

    def one_phrase(self):
        return len(self.parts) == 1 and self.match >= MIN_MATCH

    def describe(self):
        return self.parts and (f"{len(self.parts)} sound(s), {self.duration:.2f} s (one take "
                               f"{self.expected:.2f} s), correlation {self.match:.3f}, gap "
                               f"{self.gap and round(self.gap, 2)} s") or "nothing played"
