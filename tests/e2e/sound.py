"""Measurements on what the program heard and played.

Every signal is a float64 numpy array of 16-bit sample values at RATE.
"""

import wave

import numpy as np

RATE = 44100
BLOCK = 880  # the program's capture block, about 20 ms
FRAME = 441  # 10 ms: fine enough for the edges of a take

# Mean absolute sample value above which a 10-ms frame counts as sound. The
# virtual devices deliver exact zeros when nothing plays, so anything the
# program puts out is far above this (-66 dBFS), while the quiet tails of
# speech still count.
SOUND_LEVEL = 16.0

# The built-in detection: a block is speech when its mean absolute value
# reaches NThre (40) percent of peakThreshold (4096).
SPEECH_LEVEL = 0.40 * 4096

# A take has no pause as long as the silence time (the program would have
# ended it there), so one second of quiet separates two sounds.
SEPARATE_AFTER = 1.0


def read_wav(path):
    with wave.open(str(path), "rb") as f:
        if f.getsampwidth() != 2 or f.getnchannels() != 1:
            raise ValueError(f"{path}: not 16-bit mono")
        if f.getframerate() != RATE:
            raise ValueError(f"{path}: not {RATE} Hz")
        data = f.readframes(f.getnframes())
    return np.frombuffer(data, dtype="<i2").astype(np.float64)


def write_wav(path, x):
    pcm = np.clip(np.round(x), -32768, 32767).astype("<i2")
    with wave.open(str(path), "wb") as f:
        f.setnchannels(1)
        f.setsampwidth(2)
        f.setframerate(RATE)
        f.writeframes(pcm.tobytes())


def read_raw(path):
    """A recording in progress: whole samples only."""
    data = path.read_bytes()
    data = data[: len(data) // 2 * 2]
    return np.frombuffer(data, dtype="<i2").astype(np.float64)


def frame_levels(x, frame=FRAME):
    n = len(x) // frame
    return np.abs(x[: n * frame]).reshape(n, frame).mean(axis=1)


def sounds(x, level=SOUND_LEVEL, gap=SEPARATE_AFTER):
    """The stretches of sound in x as (first, end) sample indices, joining
    those less than gap seconds apart."""
    loud = np.flatnonzero(frame_levels(x) > level)
    if len(loud) == 0:
        return []
    max_gap = int(gap * RATE / FRAME)
    breaks = np.flatnonzero(np.diff(loud) > max_gap)
    starts = np.concatenate(([loud[0]], loud[breaks + 1]))
    ends = np.concatenate((loud[breaks], [loud[-1]]))
    return [(int(s) * FRAME, (int(e) + 1) * FRAME) for s, e in zip(starts, ends)]


def block_means(x, block=BLOCK):
    """Mean absolute value of every block-long window, window i starting at
    sample i."""
    c = np.concatenate(([0.0], np.cumsum(np.abs(x))))
    return (c[block:] - c[:-block]) / block


def loud_edges(x, level, block=BLOCK):
    """Start of the first and end of the last block-long window whose mean
    absolute value reaches level, or None when none does."""
    loud = np.flatnonzero(block_means(x, block) >= level)
    if len(loud) == 0:
        return None
    return int(loud[0]), int(loud[-1]) + block


def best_match(signal, template):
    """Normalised cross-correlation of template against every stretch of
    signal of its length (signal is taken as silent outside its ends).
    Returns the peak value (1 for an exact copy, whatever the gain) and the
    offset in signal at which template fits best."""
    n_t = len(template)
    if n_t == 0 or not np.any(template):
        return 0.0, 0
    padded = np.concatenate((np.zeros(n_t), signal, np.zeros(n_t)))
    size = 1 << int(np.ceil(np.log2(len(padded) + n_t)))
    corr = np.fft.irfft(
        np.fft.rfft(padded, size) * np.conj(np.fft.rfft(template, size)), size
    )[: len(padded) - n_t + 1]
    energy = np.concatenate(([0.0], np.cumsum(padded * padded)))
    window = energy[n_t:] - energy[:-n_t]
    norm = np.sqrt(np.maximum(window, 0.0) * np.dot(template, template))
    # Stretches with next to no energy would turn rounding noise into peaks.
    valid = window > 1e-6 * np.max(window)
    ncc = np.where(valid, corr / np.where(norm > 0, norm, 1.0), 0.0)
    best = int(np.argmax(ncc))
    return float(ncc[best]), best - n_t


def close_gaps(take, shortest=FRAME // 10):
    """take without its runs of digital silence of at least shortest
    samples, and how many there were and how long in all (samples). The
    phrase said to the program holds no such run, so inside a take only an
    output that ran dry for a moment makes one: it plays silence and then
    the rest of the take, delayed but whole."""
    silent = np.concatenate(([False], take == 0, [False]))
    edges = np.flatnonzero(np.diff(silent.astype(np.int8)))
    keep = np.ones(len(take), dtype=bool)
    count = total = 0
    for start, end in zip(edges[::2], edges[1::2]):
        if end - start >= shortest:
            keep[start:end] = False
            count += 1
            total += int(end - start)
    return take[keep], count, total


def without_silence(x, rng=None):
    """x with every sample of value 0 made +1 or -1 at random: inaudible, and
    it keeps digital silence out of a phrase (see close_gaps)."""
    rng = rng or np.random.default_rng(7)
    zeros = x == 0
    x = x.copy()
    x[zeros] = rng.choice((-1.0, 1.0), size=int(zeros.sum()))
    return x


def piecewise_match(target, take, offset, piece=FRAME * 10, reach=2 * FRAME):
    """Normalised cross-correlation of take with target in pieces of 0.1 s,
    each fitted within reach samples of offset (where take[0] fits in
    target as a whole), weighted by their energy; and how far apart in
    samples the well-fitting pieces lie. An output that runs dry for a
    moment delays the rest of the take by a few samples, which spoils the
    match as a whole while the take still is the phrase; another phrase or
    noise matches in no piece."""
    padded = np.concatenate((np.zeros(reach), target, np.zeros(len(take) + reach)))
    total = weight = 0.0
    shifts = []
    for start in range(0, len(take) - piece // 2, piece):
        part = take[start : start + piece]
        energy = float(np.dot(part, part))
        if energy == 0:
            continue
        # Every lag within reach, and only where the whole piece overlaps;
        # target[i] is padded[i + reach].
        expected = offset + start + reach
        low = max(expected - reach, 0)
        region = padded[low : expected + len(part) + reach]
        if len(region) < len(part):
            # A fit that puts the piece before the target's start: nothing
            # to compare with, so it matches nowhere.
            weight += energy
            continue
        corr = np.correlate(region, part, mode="valid")
        power = np.concatenate(([0.0], np.cumsum(region * region)))
        window = power[len(part) :] - power[: -len(part)]
        norm = np.sqrt(np.maximum(window, 0.0) * energy)
        ncc = np.where(norm > 0, corr / np.where(norm > 0, norm, 1.0), 0.0)
        best = int(np.argmax(ncc))
        if ncc[best] >= 0.9:
            shifts.append(low + best - expected)
        total += energy * float(ncc[best])
        weight += energy
    slip = max(shifts) - min(shifts) if shifts else 0
    return (total / weight if weight else 0.0), slip


def played_speed(speed, block=BLOCK):
    """How much faster than it was said the program plays a take at a Speed
    setting. It resamples every block on its own, from the block's first
    sample, with a step of Speed (a single-precision float) in 10.22 fixed
    point, so a block gives as many samples as it takes steps to pass its
    end: 587 for 880 at 1.50, which makes 1.4991 rather than 1.5. Over a
    take of seconds that difference alone would decorrelate it from the
    phrase played at exactly 1.5."""
    step = int(float(np.float32(speed)) * 4194304.0)
    count = -(-(block << 22) // step)
    return block / count


def faster(x, speed):
    """x played speed times as fast, by linear interpolation."""
    positions = np.arange(0.0, len(x) - 1, speed)
    return np.interp(positions, np.arange(len(x)), x)


class Take:
    """What the program played after hearing a phrase: its stretches of
    sound (parts), and for the longest one, the take: the moments the output
    ran dry in it (dry_count, dry_time), and with those closed up, its
    duration, its match with the phrase played at speed (piecewise, and as
    a whole) and its slip in samples; and the time from the last loud block
    heard to its start (gap; None when nothing loud was heard). heard_start and
    played_start are the times of the recordings' first samples on one
    clock."""

    def __init__(self, phrase, heard, played, heard_start, played_start, speed, reach=2 * FRAME):
        self.speed = speed
        self.parts = sounds(played)
        self.heard_edges = loud_edges(heard, SPEECH_LEVEL)
        # One take runs from the block where the voice got loud to the end
        # of its last sound.
        start, _ = loud_edges(phrase, SPEECH_LEVEL)
        self.expected = (sounds(phrase)[-1][1] - start) / RATE / speed
        self.duration = self.match = self.whole_match = self.slip = self.gap = None
        self.dry_count, self.dry_time = 0, 0.0
        if not self.parts:
            return
        # The take is the longest sound: a click beside it is not taken for it.
        first, end = max(self.parts, key=lambda part: part[1] - part[0])
        take, self.dry_count, dry = close_gaps(played[first:end])
        self.dry_time = dry / RATE
        self.duration = len(take) / RATE
        target = phrase if speed == 1 else faster(phrase, played_speed(speed))
        self.whole_match, offset = best_match(target, take)
        self.match, self.slip = piecewise_match(target, take, offset, reach=reach)
        if self.heard_edges:
            self.gap = (played_start + first / RATE) - (heard_start + self.heard_edges[1] / RATE)
