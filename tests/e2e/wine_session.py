"""Runs the Windows program under Wine on a private virtual display with
private virtual sound devices, and talks to it as a user would.

A Session owns everything it starts: the display and sound servers (through
scripts/test-services, in a folder of its own so that nobody else's test
plays into its microphone), the Wine prefix's processes and the helper
processes; it ends them all when it is left, also after a failure or a
signal.
"""

import fcntl
import hashlib
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

import sound

ROOT = Path(__file__).resolve().parents[2]
PRODUCT_KEY = r"HKCU\SOFTWARE\Quorvane\Mimicore"
DRIVERS_KEY = r"HKCU\Software\Wine\Drivers"
X11_KEY = r"HKCU\Software\Wine\X11 Driver"
BROWSER_KEY = r"HKCU\Software\Wine\WineBrowser"
PANEL_TITLE = "Mimicore"
MAIN_TITLE = "MimicoreIfc"
SCREEN = (1024, 768)
SCREEN_SPEC = f"{SCREEN[0]}x{SCREEN[1]}x24"


class Failure(Exception):
    """A step could not be carried out; the message says which and why."""


def _end_on_signals():
    """Turns the usual termination signals into an exception, so that the
    session's clean-up runs."""

    def handler(signum, _frame):
        raise SystemExit(128 + signum)

    for signum in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(signum, handler)


def _stop(proc, grace=3.0):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(grace)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def windows_path(path):
    """The path as a program under Wine names it: the root is drive Z:."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def wait_until(condition, timeout, interval=0.1):
    """Polls condition until it gives something true; returns that, or None
    after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)


class Session:
    def __init__(self, build_dir, prefix_name, out_dir, exe=None):
        """exe: the program to run, by default the build tree's."""
        self.build_dir = Path(build_dir).resolve()
        self.exe = Path(exe).resolve() if exe else self.build_dir / "app" / "Mimicore.exe"
        self.prefix = self.build_dir / prefix_name
        self.out = Path(out_dir)
        digest = hashlib.sha1(str(self.prefix).encode()).hexdigest()[:8]
        # Short: the sound server's socket lives below it.
        self.services_dir = (
            Path(tempfile.gettempdir()) / f"mimicore-e2e-{os.getuid()}-{digest}"
        )
        self.env = None
        self._lock = None
        self._helpers = []
        self._programs = []

    # -- setting up and tearing down -------------------------------------

    def __enter__(self):
        _end_on_signals()
        if not self.exe.is_file():
            raise Failure(f"{self.exe} does not exist: build the Mimicore target first")
        self.out.mkdir(parents=True, exist_ok=True)
        self._lock = open(f"{self.prefix}.lock", "w")
        try:
            fcntl.flock(self._lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            print(f"waiting for another run that uses {self.prefix}", flush=True)
            fcntl.flock(self._lock, fcntl.LOCK_EX)
        try:
            self._start_services()
            self._prepare_prefix()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *_exc):
        for proc in self._helpers:
            _stop(proc)
        for program in self._programs:
            program.kill()
        if self.env is not None:
            subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=30)
            wait_until(lambda: not self._wine_processes(), 10)
            self._services("stop")
        if self._lock is not None:
            self._lock.close()
            self._lock = None
        return False

    def _services(self, command):
        # A screen of 1024 x 768 places the windows where a user's would be;
        # the white root shows the windows' shapes.
        env = dict(
            os.environ, MIMICORE_SERVICES_DIR=str(self.services_dir), MIMICORE_SCREEN=SCREEN_SPEC
        )
        result = subprocess.run(
            [str(ROOT / "scripts" / "test-services"), command],
            env=env,
            capture_output=True,
            text=True,
            timeout=60,
        )
        if result.returncode != 0:
            raise Failure(f"scripts/test-services {command} failed: {result.stderr.strip()}")
        return result.stdout

    def _start_services(self):
        exports = dict(re.findall(r"^export (\w+)=(.*)$", self._services("start"), re.M))
        if "DISPLAY" not in exports or "PULSE_SERVER" not in exports:
            raise Failure("scripts/test-services printed no DISPLAY and PULSE_SERVER")
        self.env = dict(
            os.environ,
            **exports,
            WINEPREFIX=str(self.prefix),
            WINEDEBUG="-all",
            # No offers to install add-ons, no menu entries.
            WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d",
        )

    def _prepare_prefix(self):
        ready = self.prefix / ".mimicore-ready"
        # A run that was cut short may have left its server and programs.
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=30)
        if not ready.exists():
            print(f"creating the Wine prefix {self.prefix}", flush=True)
            shutil.rmtree(self.prefix, ignore_errors=True)
            boot = subprocess.run(
                ["wineboot", "-i"], env=self.env, capture_output=True, timeout=300
            )
            if boot.returncode != 0:
                raise Failure(f"wineboot -i failed for {self.prefix}")
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=120)
            ready.touch()
        # Sound on, whatever an earlier run left.
        self.reg("delete", DRIVERS_KEY, "/v", "Audio", "/f", check=False)
        # The virtual display has no window manager: Wine would wait 2 s for
        # one to withdraw each window it hides, which is not the program's
        # time. Unmanaged windows need no such hand-shake.
        self.reg("add", X11_KEY, "/v", "Managed", "/t", "REG_SZ", "/d", "N", "/f")

    def _wine_processes(self):
        """Processes that belong to this session's Wine prefix."""
        found = []
        marker = f"WINEPREFIX={self.prefix}".encode()
        for entry in Path("/proc").iterdir():
            if not entry.name.isdigit():
                continue
            try:
                environ = (entry / "environ").read_bytes().split(b"\0")
                comm = (entry / "comm").read_text().strip()
            except OSError:
                continue
            if marker in environ:
                found.append((int(entry.name), comm))
        return found

    def wineserver_pid(self):
        for pid, comm in self._wine_processes():
            if comm.startswith("wineserver"):
                return pid
        return None

    # -- the registry ---------------------------------------------------

    def reg(self, *args, check=True):
        result = subprocess.run(
            ["wine", "reg", *args], env=self.env, capture_output=True, text=True, timeout=60
        )
        if check and result.returncode != 0:
            raise Failure(f"wine reg {' '.join(args)} failed: {result.stdout.strip()}")
        return result

    def reg_values(self, key):
        """Every value under key and its subkeys: {key path: {name: (type, data)}};
        empty when the key does not exist."""
        result = self.reg("query", key, "/s", check=False)
        if result.returncode != 0:
            return {}
        tree = {}
        current = None
        for line in result.stdout.splitlines():
            line = line.rstrip("\r")
            if line.startswith("HKEY_"):
                current = tree.setdefault(line.strip(), {})
            elif line.strip() and current is not None:
                parts = line.strip().split(None, 2)
                if len(parts) >= 2:
                    current[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
        return tree

    def forget_settings(self):
        self.reg("delete", PRODUCT_KEY, "/f", check=False)

    def store_binary(self, key, name, data):
        self.reg("add", key, "/v", name, "/t", "REG_BINARY", "/d", data.hex(), "/f")

    def set_sound(self, on):
        if on:
            self.reg("delete", DRIVERS_KEY, "/v", "Audio", "/f", check=False)
        else:
            # An empty driver list: Wine then offers no wave device at all.
            self.reg("add", DRIVERS_KEY, "/v", "Audio", "/t", "REG_SZ", "/d", "", "/f")

    # -- the display ----------------------------------------------------

    def xdotool(self, *args, timeout=15):
        return subprocess.run(
            ["xdotool", *args], env=self.env, capture_output=True, text=True, timeout=timeout
        )

    def windows(self, title):
        """Visible windows with exactly this title."""
        result = self.xdotool("search", "--onlyvisible", "--name", f"^{re.escape(title)}$")
        return [int(w) for w in result.stdout.split()]

    def size(self, window):
        result = self.xdotool("getwindowgeometry", "--shell", str(window))
        values = dict(re.findall(r"^(\w+)=(\d+)$", result.stdout, re.M))
        return int(values.get("WIDTH", 0)), int(values.get("HEIGHT", 0))

    def position(self, window):
        result = self.xdotool("getwindowgeometry", "--shell", str(window))
        values = dict(re.findall(r"^(\w+)=(-?\d+)$", result.stdout, re.M))
        return int(values.get("X", -99999)), int(values.get("Y", -99999))

    def press(self, window, key):
        """Focuses the window and types the key. Without a window manager
        the focus has to be given explicitly."""
        result = self.xdotool("windowfocus", "--sync", str(window), "key", key)
        if result.returncode != 0:
            raise Failure(f"xdotool could not press {key}: {result.stderr.strip()}")

    def click(self, point):
        self.xdotool("mousemove", str(point[0]), str(point[1]), "sleep", "0.1", "click", "1")

    def drag(self, point, by, steps=10, pause=0.03):
        """Presses the left button at point and moves the pointer by `by` in
        steps, each relative to where the pointer stands then: a knob puts
        it back on its press point after every move."""
        moves = []
        for i in range(steps):
            dx = by[0] * (i + 1) // steps - by[0] * i // steps
            dy = by[1] * (i + 1) // steps - by[1] * i // steps
            moves += ["mousemove_relative", "--", str(dx), str(dy), "sleep", str(pause)]
        self.xdotool("mousemove", str(point[0]), str(point[1]), "sleep", "0.1", "mousedown", "1",
                     "sleep", str(pause), *moves, "mouseup", "1")

    def answer_dialog(self, title_start, text, timeout=20):
        """Types text and Enter into the dialog whose title starts so, once it
        shows, and waits until it has gone."""
        pattern = f"^{re.escape(title_start)}"
        find = lambda: self.xdotool("search", "--onlyvisible", "--name", pattern).stdout.split()
        dialog = wait_until(find, timeout, 0.2)
        if not dialog:
            raise Failure(f'no dialog "{title_start}..." within {timeout} s')
        self.xdotool("windowfocus", "--sync", dialog[0], "type", "--delay", "5", text)
        self.xdotool("key", "Return")
        if not wait_until(lambda: not find(), timeout, 0.1):
            raise Failure(f'the dialog "{title_start}..." stayed open after Enter')

    def stub_browser(self):
        """Makes the default browser a script that writes its arguments into
        a file instead of showing anything; gives that file's path. A fresh
        test prefix ties no program to .html files: this ties them to Wine's
        browser launcher, as a desktop ties them to its browser."""
        out = self.out.resolve()
        script, called = out / "browser-stub", out / "browser-args.txt"
        called.unlink(missing_ok=True)
        script.write_text(f'#!/bin/sh\nprintf "%s\\n" "$@" > "{called}"\n')
        script.chmod(0o755)
        self.reg("add", BROWSER_KEY, "/v", "Browsers", "/t", "REG_SZ", "/d", str(script), "/f")
        self.reg("add", r"HKLM\Software\Classes\.html", "/ve", "/d", "htmlfile", "/f")
        return called

    def screenshot(self, path):
        subprocess.run(
            ["import", "-window", "root", str(path)], env=self.env, capture_output=True, timeout=30
        )

    # -- processes ------------------------------------------------------

    def start_program(self, name, debug="-all"):
        program = Program(self, name, debug)
        self._programs.append(program)
        return program

    def start_helper(self, args, **kwargs):
        proc = subprocess.Popen(args, env=self.env, **kwargs)
        self._helpers.append(proc)
        return proc

    # -- sound ------------------------------------------------------------

    def make_phrase(self, text, path):
        spoken = self.out / "espeak.wav"
        subprocess.run(["espeak-ng", "-w", str(spoken), text], check=True, timeout=60)
        # The program's format; a fixed level whatever the voice's loudness.
        subprocess.run(
            ["sox", str(spoken), "-r", str(sound.RATE), "-b", "16", "-c", "1",
             "-e", "signed-integer", str(path), "gain", "-n", "-3"],
            check=True,
            capture_output=True,
            timeout=60,
        )
        spoken.unlink()
        phrase = sound.without_silence(sound.read_wav(path))
        sound.write_wav(path, phrase)
        return phrase

    def record(self, device, path):
        return Recorder(self, device, path)

    def say(self, wav, timeout):
        proc = self.start_helper(["paplay", "--device=micsink", str(wav)])
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"paplay did not finish within {timeout} s") from None
        if proc.returncode != 0:
            raise Failure(f"paplay failed with status {proc.returncode}")


class Program:
    """Mimicore.exe started under Wine, its output in out/NAME.log."""

    def __init__(self, session, name, debug):
        self.session = session
        self.log_path = session.out / f"{name}.log"
        # Filled in by whoever drives it: its two windows, the recorders of
        # what it hears and plays, their samples once stopped, and how long
        # it took to end after Escape.
        self.windows = None
        self.recorders = None
        self.recordings = None
        self.closing_time = None
        self._log = open(self.log_path, "wb")
        env = dict(session.env, WINEDEBUG=debug)
        self.started = time.monotonic()
        self.proc = subprocess.Popen(
            ["wine", str(session.exe)], env=env, stdout=self._log, stderr=subprocess.STDOUT
        )

    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout):
        """The exit status, or None when it still runs after timeout s."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.running():
            self.proc.kill()
            self.proc.wait()
        self._log.close()

    def log(self):
        return self.log_path.read_bytes().decode("utf-8", "replace")

    def pid(self):
        """The process of the program itself: the wine loader turns into
        it, keeping its pid."""
        try:
            cmdline = Path(f"/proc/{self.proc.pid}/cmdline").read_bytes()
        except OSError:
            return None
        return self.proc.pid if b"mimicore.exe" in cmdline.lower() else None

    def wait_for_window(self, title, timeout):
        def found():
            if not self.running():
                raise Failure(
                    f"the program ended with status {self.proc.returncode} before "
                    f'showing "{title}"; see {self.log_path}'
                )
            return self.session.windows(title)

        windows = wait_until(found, timeout, 0.2)
        if not windows:
            raise Failure(f'no window "{title}" within {timeout} s')
        return windows[0]


def cpu_ticks(pid):
    """utime + stime of the process, in clock ticks."""
    stat = Path(f"/proc/{pid}/stat").read_text()
    fields = stat[stat.rindex(")") + 2 :].split()
    return int(fields[11]) + int(fields[12])


def driver_ticks(pid):
    """utime + stime of the threads of Wine's PulseAudio driver in the
    process, in clock ticks. On Windows that work is done by the system's
    audio service, outside the program."""
    total = 0
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            if not (task / "comm").read_text().startswith("winepulse"):
                continue
            stat = (task / "stat").read_text()
        except OSError:
            continue
        fields = stat[stat.rindex(")") + 2 :].split()
        total += int(fields[11]) + int(fields[12])
    return total


class Recorder:
    """parec from a sink's monitor into a raw file, readable while it runs."""

    def __init__(self, session, device, path):
        self.path = Path(path)
        self._file = open(self.path, "wb")
        self.proc = session.start_helper(
            ["parec", f"--device={device}", "--format=s16le", f"--rate={sound.RATE}",
             "--channels=1", "--latency-msec=20"],
            stdout=self._file,
        )
        self.start = self._find_start()

    def _find_start(self):
        """When the first sample was taken, on the monotonic clock. A stream
        delivers its samples at the sample rate and never early, so the
        earliest estimate from the amount so far is the best one."""
        if not wait_until(lambda: self.path.stat().st_size >= 2 * sound.FRAME, 10, 0.02):
            raise Failure(f"parec recorded nothing into {self.path}")
        estimates = []
        for _ in range(20):
            estimates.append(time.monotonic() - self.path.stat().st_size / 2 / sound.RATE)
            time.sleep(0.02)
        return min(estimates)

    def samples(self):
        return sound.read_raw(self.path)

    def stop(self):
        _stop(self.proc)
        self._file.close()
        return self.samples()


def wait_for_take(recorder, timeout, quiet_after=2.5):
    """Waits until something was played and the output has been quiet for
    quiet_after seconds since, or timeout s at most. Gives the recording and
    whether it ended that way."""
    quiet_samples = int(quiet_after * sound.RATE)

    def done():
        x = recorder.samples()
        found = sound.sounds(x)
        return bool(found) and len(x) - found[-1][1] >= quiet_samples

    settled = bool(wait_until(done, timeout, 0.25))
    return recorder.samples(), settled


def talk(s, program, phrase_wav, speed, while_playing=None):
    """Says the phrase into the running program and waits until the output
    has been quiet for a while after what it played; while_playing is
    called once when it starts to play. None when that went as planned,
    else what went wrong."""
    speaker = program.recorders[1]
    try:
        s.say(phrase_wav, timeout=30)
    except Failure as e:
        return str(e)
    take_time = sound.read_wav(phrase_wav).size / sound.RATE / speed
    if while_playing and wait_until(lambda: sound.sounds(speaker.samples()), 15, 0.1):
        while_playing()
    played, settled = wait_for_take(speaker, timeout=take_time + 15)
    if settled:
        return None
    if not sound.sounds(played):
        return "nothing was played within 15 s after the phrase"
    return "the output did not fall quiet after the take"


def start(s, name, heard=None, played=None):
    """Starts the program, waits for its two windows and starts recording
    what it hears and plays (into heard and played, raw; by default
    NAME-heard.raw and NAME-played.raw in the output folder)."""
    program = s.start_program(name)
    try:
        program.windows = (
            program.wait_for_window(PANEL_TITLE, 60),
            program.wait_for_window(MAIN_TITLE, 10),
        )
        program.recorders = (
            s.record("micsink.monitor", heard or s.out / f"{name}-heard.raw"),
            s.record("speaker.monitor", played or s.out / f"{name}-played.raw"),
        )
    except Failure:
        # It would hold the single-instance mutex for the runs after it.
        program.kill()
        raise
    return program


def close(s, program, end=None):
    """Escape on the main window, as a user ends it, or whatever end() does;
    the recordings are stopped once it has gone. Gives the exit status
    (None: still running, then it is killed)."""
    pressed = time.monotonic()
    try:
        if end:
            end()
        else:
            s.press(program.windows[1], "Escape")
    except Failure as e:
        print(f"       ({e})")
    status = program.wait(20)
    program.closing_time = time.monotonic() - pressed
    recordings = []
    for recorder in program.recorders:
        x = recorder.stop()
        sound.write_wav(recorder.path.with_suffix(".wav"), x)
        recorder.path.unlink()
        recordings.append(x)
    program.recordings = recordings
    if status is None:
        program.kill()
    return status
