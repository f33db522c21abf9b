"""The program while its sound devices go away and come back: the private
sound server is stopped under the running program, as a headset is pulled
out, and started again with its sinks."""

import os
import subprocess
import time

import screen
import sound
import wine_session as ws

MAIN_AT = (341, 209)
MAIN_SIZE = (342, 350)
TAB = (290, 103)
PANEL_OUT = 243
# The program gives a silent microphone two seconds and looks twice a
# second; the rest is Wine and the screenshots.
STATUS_LIMIT = 3.5
CLOSE_LIMIT = 3.0
MIN_MATCH = 0.80

NAMES = (
    "the sound server gone: the display shows a status within about 2 s and keeps it",
    "the sound server gone: the windows answer, the panel slides out and back",
    "the sound server back: the program repeats a phrase again",
    "the sound server gone: closing the program ends it with 0 within 3 s",
)


def _pulse(s, *args):
    runtime = s.services_dir / "pulse"
    env = dict(os.environ, PULSE_RUNTIME_PATH=str(runtime),
               PULSE_SERVER=f"unix:{runtime}/native")
    return subprocess.run(args, env=env, capture_output=True, timeout=30)


def stop_sound_server(s):
    """Ends this session's own server only; gives when it went."""
    _pulse(s, "pulseaudio", "--kill")
    if not ws.wait_until(lambda: _pulse(s, "pactl", "info").returncode != 0, 10):
        raise ws.Failure("the sound server did not stop")
    return time.monotonic()


def start_sound_server(s):
    s._services("start")  # the server with its two sinks, the display unchanged


def status_pixels(s):
    window = screen.window_part(screen.grab(s.env, ws.SCREEN), MAIN_AT, MAIN_SIZE)
    return screen.title_pixels(screen.display_area(window))


def wait_for_status(s, since):
    """Seconds from |since| until the status title shows, or None."""
    if ws.wait_until(lambda: status_pixels(s), 10, 0.05):
        return time.monotonic() - since
    return None


def panel_answers(s, panel):
    shut = s.position(panel)
    out = (shut[0] + PANEL_OUT, shut[1])
    for want in (out, shut):
        s.click((s.position(panel)[0] + TAB[0], s.position(panel)[1] + TAB[1]))
        if not ws.wait_until(lambda: s.position(panel) == want, 5, 0.05):
            return f"the panel stands at {s.position(panel)}, not at {want}"
    return None


def lost_devices_run(s, report, phrase, phrase_wav):
    s.forget_settings()
    program = s.start_program("lost-devices")
    try:
        program.windows = (program.wait_for_window(ws.PANEL_TITLE, 60),
                           program.wait_for_window(ws.MAIN_TITLE, 10))
        time.sleep(2)
        gone = stop_sound_server(s)
        shown = wait_for_status(s, gone)
        time.sleep(2.5)  # longer than a status lasts on its own
        kept = status_pixels(s)
        s.screenshot(s.out / "lost-devices.png")
        report.check(NAMES[0], shown is not None and shown <= STATUS_LIMIT and kept > 0,
                     f"shown {shown if shown is None else round(shown, 2)} s after the server "
                     f"stopped (at most {STATUS_LIMIT} s); {kept} title pixels 2.5 s later")
        stuck = panel_answers(s, program.windows[0])
        report.check(NAMES[1], stuck is None and program.running(), stuck or "it did")
        # The clicked panel now stands above the display.
        s.xdotool("windowraise", str(program.windows[1]))

        start_sound_server(s)
        # Reopened within two looks; the status then runs out on its own.
        back = ws.wait_until(lambda: not status_pixels(s), 15, 0.1)
        program.recorders = (s.record("micsink.monitor", s.out / "lost-devices-heard.raw"),
                             s.record("speaker.monitor", s.out / "lost-devices-played.raw"))
        talked = ws.talk(s, program, phrase_wav, 1.0)
        heard, played = (r.stop() for r in program.recorders)
        take = sound.Take(phrase, heard, played, program.recorders[0].start,
                          program.recorders[1].start, 1.0)
        detail = "the status stayed" if back is None else "the status went"
        if talked:
            detail += f"; {talked}"
        if take.parts:
            detail += (f"; {len(take.parts)} sound(s) played, correlation with the phrase "
                       f"{take.match:.3f} (at least {MIN_MATCH})")
        report.check(NAMES[2], back is not None and bool(take.parts)
                     and take.match >= MIN_MATCH, detail)

        stop_sound_server(s)
        wait_for_status(s, time.monotonic())
        pressed = time.monotonic()
        s.press(program.windows[1], "Escape")
        status = program.wait(20)
        took = time.monotonic() - pressed
        report.check(NAMES[3], status == 0 and took <= CLOSE_LIMIT,
                     f"status {status} after {took:.1f} s")
    except ws.Failure as e:
        report.check(NAMES[0], False, str(e))
    finally:
        report.not_run(NAMES, "the run stopped early")
        program.kill()
        start_sound_server(s)
