"""Mimicore.exe under Wine on a private display and sound server; a Session ends all it started.
The demo, the manual's pictures and the end-to-end checks all drive the program through it."""

import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import screen
import sound

ROOT = Path(__file__).resolve().parents[2]
PRODUCT_KEY = r"HKCU\SOFTWARE\Quorvane\Mimicore"
PANEL_TITLE, MAIN_TITLE = "Mimicore", "MimicoreIfc"
SCREEN = (1024, 768)
PHRASE = "Hello, this is the voice repeater, saying back every word it hears."


class Failure(Exception):
    """A step could not be carried out; the message says which and why."""


def wait_until(condition, timeout, interval=0.1):
    """condition's first true answer within timeout seconds, else None."""
    deadline = time.monotonic() + timeout
    while not (result := condition()):
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)
    return result


def run(args, **kwargs):
    return subprocess.run(list(map(str, args)), capture_output=True, timeout=300, **kwargs)


def _stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(3)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


class Session:
    def __init__(self, build_dir, prefix_name, out_dir, exe=None):
        self.exe = Path(exe or Path(build_dir) / "app" / "Mimicore.exe").resolve()
        self.prefix, self.out = Path(build_dir).resolve() / prefix_name, Path(out_dir).resolve()
        # Short: the sound server's socket lives below its services folder.
        self.digest = f"{os.getuid()}-{hashlib.sha1(str(self.prefix).encode()).hexdigest()[:8]}"
        self.env, self._helpers, self._programs = None, [], []

    def __enter__(self):
        for signum in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
            signal.signal(signum, lambda signum, _: sys.exit(128 + signum))
        if not self.exe.is_file():
            raise Failure(f"{self.exe} does not exist: build the Mimicore target first")
        self.out.mkdir(parents=True, exist_ok=True)
        try:
            exports = dict(re.findall(r"^export (\w+)=(.*)$", self.services("start"), re.M))
            self.env = dict(os.environ, **exports, WINEPREFIX=str(self.prefix), WINEDEBUG="-all",
                            WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d")
            run(["wineserver", "-k"], env=self.env)  # what a run cut short left
            if not (self.prefix / ".mimicore-ready").exists():
                print(f"creating the Wine prefix {self.prefix}", flush=True)
                shutil.rmtree(self.prefix, ignore_errors=True)
                run(["wineboot", "-i"], env=self.env, check=True)
                run(["wineserver", "-w"], env=self.env)
                (self.prefix / ".mimicore-ready").touch()
            # One server for the session, helpers off our pipes: none exits before the next command.
            for args in (["wineserver", "-p"], ["wine", "cmd", "/c", "exit"]):
                subprocess.run(args, env=self.env, stdin=subprocess.DEVNULL, timeout=120,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.set_sound(True)
            # Without a window manager Wine would wait 2 s for one at every
            # hidden window; unmanaged windows need no such hand-shake.
            self.reg("add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f")
        except BaseException:
            self.__exit__()
            raise
        return self

    def end_programs(self):
        for proc in [p.proc for p in self._programs] + self._helpers:
            _stop(proc)

    def __exit__(self, *_exc):
        self.end_programs()
        if self.env is not None:
            run(["wineserver", "-k"], env=self.env)
            self.services("stop")

    def services(self, *command):
        # A 1024 x 768 screen places the windows where a user's would be.
        env = dict(os.environ, MIMICORE_SCREEN="1024x768x24",
                   MIMICORE_SERVICES_DIR=f"{tempfile.gettempdir()}/mimicore-e2e-{self.digest}")
        result = run([ROOT / "scripts" / "test-services", *command], text=True, env=env)
        if result.returncode:
            raise Failure(f"scripts/test-services {command}: {result.stderr.strip()}")
        return result.stdout

    # -- the registry (Wine writes it to disk late: ask reg.exe) ----------

    def reg(self, *args):
        return run(["wine", "reg", *args], env=self.env, text=True)

    def stored(self):
        """{(subkey, name), lower case: (type, hex data)} of the product's values."""
        values, key = {}, ""
        for line in self.reg("query", PRODUCT_KEY, "/s").stdout.splitlines():
            if line.startswith("HKEY_"):
                key = line.strip().lower().partition("mimicore")[2].lstrip("\\")
            elif len(parts := line.split() + [""]) >= 3:
                values[key, parts[0].lower()] = (parts[1], parts[2])
        return values

    def store(self, values):
        """Replaces the product's values with (subkey, name, type number, bytes),
        through a .reg file: reg.exe takes no command line long enough for 64 KiB."""
        self.reg("delete", PRODUCT_KEY, "/f")
        lines = ["REGEDIT4"]
        for key, name, kind, data in values:
            path = PRODUCT_KEY.replace("HKCU", "HKEY_CURRENT_USER") + (f"\\{key}" if key else "")
            lines += [f"[{path}]", f'"{name}"=hex({kind:x}):' + ",".join(f"{b:02x}" for b in data)]
        (reg_file := self.out / "store.reg").write_text("\r\n".join(lines) + "\r\n")
        run(["wine", "regedit", "/s", "Z:" + str(reg_file).replace("/", "\\")], env=self.env,
            check=True)

    def pactl(self, *args):
        result = run(["pactl", *args], env=self.env, text=True)
        if result.returncode:
            raise Failure(f"pactl {' '.join(map(str, args))}: {result.stderr.strip()}")
        return result.stdout

    def set_sound(self, on):
        # An empty driver list: Wine offers no wave device at all.
        key = r"HKCU\Software\Wine\Drivers"
        self.reg(*(("delete", key, "/v", "Audio", "/f") if on else
                   ("add", key, "/v", "Audio", "/d", "", "/f")))

    # -- the display (no window manager: focus is given explicitly) ----------

    def grab(self):
        return screen.grab(self.env, SCREEN)

    def xdotool(self, *args):
        return run(["xdotool", *args], env=self.env, text=True)

    def windows(self, title, end="$"):
        found = self.xdotool("search", "--onlyvisible", "--name", f"^{re.escape(title)}{end}")
        return [int(w) for w in found.stdout.split()]

    def geometry(self, window):  # x, y, width, height
        out = self.xdotool("getwindowgeometry", "--shell", window).stdout
        got = dict(re.findall(r"^(\w+)=(-?\d+)$", out, re.M))
        return tuple(int(got.get(k, -99999)) for k in ("X", "Y", "WIDTH", "HEIGHT"))

    def position(self, window):
        return self.geometry(window)[:2]

    def press(self, window, *keys):
        self.xdotool("windowfocus", "--sync", window, "key", *keys)

    def click(self, point):
        self.xdotool("mousemove", *point, "sleep", "0.1", "click", "1")

    def drag(self, point, by, steps=10):
        # Step by step from where the pointer stands: a knob puts it back after every move.
        moves = []
        for i in range(steps):
            moves += ["mousemove_relative", "--", by[0] * (i + 1) // steps - by[0] * i // steps,
                      by[1] * (i + 1) // steps - by[1] * i // steps, "sleep", "0.03"]
        self.xdotool("mousemove", *point, "sleep", "0.1", "mousedown", "1", *moves, "mouseup", "1")

    def answer_dialog(self, title_start, path, replace=None):
        """Types the path and Enter into the dialog once it shows; waits until it has gone.
        With replace True or False, the question whether to replace a file is expected and
        answered (No, then the dialog is cancelled)."""
        if not (dialog := wait_until(lambda: self.windows(title_start, ""), 20)):
            raise Failure(f'no dialog "{title_start}..." within 20 s')
        self.xdotool("windowfocus", "--sync", dialog[0], "type", "--delay", "5",
                     "Z:" + str(path).replace("/", "\\"))
        self.xdotool("key", "Return")
        if replace is not None:
            # Wine titles the question "Error", Windows like the dialog.
            asked = lambda: self.windows("Error") or self.windows(title_start, "")[1:]  # noqa: E731
            if not (question := wait_until(asked, 10)):
                raise Failure("the dialog did not ask before replacing a file")
            self.xdotool("windowfocus", "--sync", question[0], "key", "y" if replace else "n")
            if not replace:
                wait_until(lambda: not asked(), 10)
                self.xdotool("windowfocus", "--sync", dialog[0], "key", "Escape")
        if not wait_until(lambda: not self.windows(title_start, ""), 20):
            raise Failure(f'the dialog "{title_start}..." stayed open after Enter')

    def stub_browser(self):
        """The browser becomes a script writing its arguments into the file this gives."""
        script, called = self.out / "browser-stub", self.out / "browser-args.txt"
        called.unlink(missing_ok=True)
        script.write_text(f'#!/bin/sh\nprintf "%s\\n" "$@" > "{called}"\n')
        script.chmod(0o755)
        self.reg("add", r"HKCU\Software\Wine\WineBrowser", "/v", "Browsers", "/d", script, "/f")
        self.reg("add", r"HKLM\Software\Classes\.html", "/ve", "/d", "htmlfile", "/f")
        return called

    # -- processes and sound ------------------------------------------------

    def start_helper(self, args, **kwargs):
        self._helpers.append(proc := subprocess.Popen(list(map(str, args)), env=self.env, **kwargs))
        return proc

    def make_phrase(self, text, path):
        """At a fixed level in the program's format, without digital silence (see close_gaps)."""
        spoken = run(["espeak-ng", "--stdout", text], check=True).stdout
        run(["sox", "-t", "wav", "-", "-r", sound.RATE, "-b", 16, "-c", 1, "-e", "signed-integer",
             path, "gain", "-n", "-3"], input=spoken, check=True)
        phrase = sound.read_wav(path)
        phrase[phrase == 0] = np.random.default_rng(7).choice((-1.0, 1.0), int(np.sum(phrase == 0)))
        sound.write_wav(path, phrase)
        return phrase

    def say(self, wav):
        if self.start_helper(["paplay", "--device=micsink", wav]).wait(30):
            raise Failure(f"paplay could not play {wav}")

    def start(self, name, debug="-all", windows=True):
        """The program; by default once both windows show, recording what it hears and plays."""
        self._programs.append(program := Program(self, name, debug))
        if windows:
            program.windows = (program.wait_for_window(PANEL_TITLE, 60),
                               program.wait_for_window(MAIN_TITLE, 10))
            program.record()
        return program


class Program:
    """Mimicore.exe under Wine, its output in out/NAME.log."""

    def __init__(self, session, name, debug):
        self.s, self.name = session, name
        self.log_path = session.out / f"{name}.log"
        self.windows = self.recorders = None
        with open(self.log_path, "wb") as log:
            self.proc = subprocess.Popen(["wine", str(session.exe)], stdout=log,
                                         stderr=subprocess.STDOUT,
                                         env=dict(session.env, WINEDEBUG=debug))
        self.started, self.pid = time.monotonic(), self.proc.pid  # wine turns into the program

    def running(self):
        return self.proc.poll() is None

    def log(self):
        return self.log_path.read_text(errors="replace")

    def wait(self, timeout):
        """The exit status, or None when it still ran after timeout s (then it is killed)."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            _stop(self.proc)
            return None

    def wait_for_window(self, title, timeout):
        if not (found := wait_until(lambda: self.s.windows(title) or not self.running(), timeout)):
            raise Failure(f'no window "{title}" within {timeout} s')
        if found is True:
            raise Failure(f'the program ended with {self.proc.returncode} before showing "{title}"')
        return found[0]

    def record(self):
        self.recorders = tuple(Recorder(self.s, f"{device}.monitor",
                                        self.s.out / f"{self.name}-{what}.raw")
                               for device, what in (("micsink", "heard"), ("speaker", "played")))

    def settled(self):
        """Something was played, and nothing for 2.5 s since."""
        x = self.recorders[1].samples()
        found = sound.sounds(x)
        return found and len(x) - found[-1][1] >= 2.5 * sound.RATE

    def talk(self, phrase_wav):
        self.s.say(phrase_wav)
        wait_until(self.settled, 20, 0.25)

    def take(self, phrase, speed=1.0, reach=2 * sound.FRAME):
        """Stops the recorders and measures what was played."""
        heard, played = (r.stop() for r in self.recorders)
        return sound.Take(phrase, heard, played, self.recorders[0].start,
                          self.recorders[1].start, speed, reach)

    def close(self, end=None):
        """Escape on the main window, or whatever end() does; the exit status and seconds to it."""
        pressed = time.monotonic()
        (end or (lambda: self.s.press(self.windows[1], "Escape")))()
        status = self.wait(20)
        for recorder in self.recorders or ():
            recorder.stop()
        return status, time.monotonic() - pressed


class Recorder:
    """parec from a sink's monitor into a raw file, readable while it runs."""

    def __init__(self, session, device, path):
        self.path, self._file = Path(path), open(path, "wb")
        self.proc = session.start_helper(
            ["parec", f"--device={device}", "--format=s16le", f"--rate={sound.RATE}",
             "--channels=1", "--latency-msec=20"], stdout=self._file)
        # A stream delivers at the sample rate and never early: the earliest
        # estimate of its first sample's time is the best.
        if not wait_until(lambda: self.path.stat().st_size >= 2 * sound.FRAME, 10, 0.02):
            raise Failure(f"parec recorded nothing into {self.path}")
        self.start = time.monotonic()
        for _ in range(20):
            time.sleep(0.02)
            now = time.monotonic() - self.path.stat().st_size / 2 / sound.RATE
            self.start = min(self.start, now)

    def samples(self):
        data = self.path.read_bytes()
        return np.frombuffer(data[: len(data) // 2 * 2], "<i2").astype(np.float64)

    def stop(self):
        _stop(self.proc)
        self._file.close()
        return self.samples()
