"""End-to-end: Mimicore.exe started on a registry holding hostile values of
every kind (wrong types, odd and huge sizes, NaN, infinities, the int32
ends) and on a stored window position that no screen shows. Each run must
start, survive a spoken phrase, end with 0 on Escape and write back what it
took unchanged; a hostile but usable store still repeats the phrase."""

import struct
import subprocess

import sound
import wine_session as ws
from wine_session import Failure

PRESET_KEY = ws.PRODUCT_KEY + r"\def_settings"
INT_MIN, INT_MAX = -(2**31), 2**31 - 1
BIG = 64 * 1024


def le32(value):
    return struct.pack("<I", value & 0xFFFFFFFF)


def f32bits(bits):
    return struct.pack("<I", bits)


# (key, name, type, data): data is bytes, or the text reg.exe takes.
# Usable: still speech in, speech out. Unusable values (wrong type or size)
# must be ignored; the four-byte ones must be taken and survive the exit.
USABLE = [
    (PRESET_KEY, "Speed", "REG_DWORD", str(INT_MAX)),  # played at the fastest speed
    (PRESET_KEY, "Decay", "REG_BINARY", f32bits(0x7FC00000)),  # NaN
    (PRESET_KEY, "Delay", "REG_BINARY", le32(INT_MIN)),
    (PRESET_KEY, "oscilloDivisor", "REG_BINARY", le32(INT_MIN)),
    (PRESET_KEY, "Echo", "REG_SZ", "on"),
    (PRESET_KEY, "NThre", "REG_BINARY", b""),
    (PRESET_KEY, "peakThreshold", "REG_BINARY", le32(1) + b"\x00"),
    (PRESET_KEY, "SilenceTime", "REG_BINARY", b"\x58\x02\x00"),
    (PRESET_KEY, "Bpf", "REG_BINARY", bytes(BIG)),
    (PRESET_KEY, "Reverse", "REG_QWORD", "1"),
    (ws.PRODUCT_KEY, "winx", "REG_BINARY", le32(-30000)),
    (ws.PRODUCT_KEY, "winy", "REG_BINARY", le32(-30000)),
]
# Extremes: nothing may crash or hang, though nothing need be played.
EXTREME = [
    (PRESET_KEY, "Speed", "REG_BINARY", le32(INT_MIN)),
    (PRESET_KEY, "Decay", "REG_BINARY", f32bits(0x7F800000)),  # +inf
    (PRESET_KEY, "Echo", "REG_BINARY", le32(-1)),
    (PRESET_KEY, "Delay", "REG_BINARY", le32(INT_MAX)),
    (PRESET_KEY, "Bpf", "REG_BINARY", le32(INT_MAX)),
    (PRESET_KEY, "peakThreshold", "REG_BINARY", le32(0)),
    (PRESET_KEY, "NThre", "REG_BINARY", le32(INT_MIN)),
    (PRESET_KEY, "SilenceTime", "REG_BINARY", le32(INT_MAX)),
    (PRESET_KEY, "oscilloDivisor", "REG_BINARY", le32(0)),
    (ws.PRODUCT_KEY, "NumSettings", "REG_SZ", "3"),
    (ws.PRODUCT_KEY, "CurSetting", "REG_NONE", bytes(BIG)),
    # Partly on the screen (the panel too): kept exactly as stored.
    (ws.PRODUCT_KEY, "winx", "REG_BINARY", le32(-200)),
    (ws.PRODUCT_KEY, "winy", "REG_BINARY", le32(-100)),
]


def _store(s, values):
    """Writes the values; binary data through a .reg file, as reg.exe takes
    no command line long enough for 64 KiB."""
    lines = ["REGEDIT4", ""]
    for key, name, kind, data in values:
        if kind in ("REG_BINARY", "REG_NONE"):
            code = "hex" if kind == "REG_BINARY" else "hex(0)"
            path = key.replace("HKCU", "HKEY_CURRENT_USER")
            lines += [f"[{path}]", f'"{name}"={code}:' + ",".join(f"{b:02x}" for b in data), ""]
        else:
            s.reg("add", key, "/v", name, "/t", kind, "/d", data, "/f")
    reg_file = s.out / "hostile.reg"
    reg_file.write_text("\r\n".join(lines) + "\r\n")
    result = subprocess.run(
        ["wine", "regedit", "/s", ws.windows_path(reg_file)],
        env=s.env, capture_output=True, text=True, timeout=60,
    )
    if result.returncode != 0:
        raise Failure(f"regedit could not import {reg_file}: {result.stderr.strip()}")


def _written_back(s, values):
    """Problems with the four-byte values at exit: each must come back as
    REG_BINARY holding the very bytes it was stored with."""
    tree = {k.lower(): {n.lower(): v for n, v in vals.items()}
            for k, vals in s.reg_values(ws.PRODUCT_KEY).items()}
    if not tree:
        return ["the settings could not be read back (wine reg query)"]
    problems = []
    for key, name, kind, data in values:
        if kind == "REG_DWORD":
            data = le32(int(data))
        elif kind != "REG_BINARY" or len(data) != 4:
            continue
        path = key.replace("HKCU", "HKEY_CURRENT_USER").lower()
        got = tree.get(path, {}).get(name.lower())
        if got is None or (got[0], got[1].upper()) != ("REG_BINARY", data.hex().upper()):
            problems.append(f'"{name}" is {got}, not REG_BINARY {data.hex().upper()}')
    return problems


def _run(s, report, phrase_wav, label, values, main_at, must_repeat):
    names = (
        f"{label}: starts, lives through a phrase and ends with 0 on Escape",
        f"{label}: the main window stands at {main_at}",
        f"{label}: the values taken are written back unchanged",
    )
    if must_repeat:
        names += (f"{label}: the phrase is still repeated",)
    s.forget_settings()
    try:
        _store(s, values)
        program = ws.start(s, label.replace(" ", "-"))
    except Failure as e:
        report.check(names[0], False, str(e))
        report.not_run(names[1:], "the program did not start")
        return
    at = s.position(program.windows[1])
    talked = ws.talk(s, program, phrase_wav, 1.0)
    alive = program.running()
    status = ws.close(s, program)
    report.check(
        names[0],
        alive and status == 0,
        f"{'running' if alive else 'gone'} after the phrase; exit status {status}",
    )
    report.check(names[1], at == main_at, f"at {at}")
    problems = _written_back(s, values)
    report.check(names[2], not problems, "; ".join(problems) or "every one as stored")
    if must_repeat:
        played = sound.sounds(program.recordings[1])
        report.check(names[3], bool(played), talked or f"{len(played)} stretch(es) of sound played")


def robustness_run(s, report, phrase_wav, centred):
    """centred: where the main window stands when nothing usable is stored."""
    _run(s, report, phrase_wav, "hostile store, off-screen position", USABLE, centred, True)
    _run(s, report, phrase_wav, "extreme store, partly visible position", EXTREME, (-200, -100),
         False)
