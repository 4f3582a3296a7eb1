"""The desktop test fixture: the real telvar process on a real X display.

One `Desktop` per test file (Xvfb, openbox, a D-Bus session with its
accessibility bus); one `Telvar` per test (the tool with telvar-boxsim on
串口1 and HOME in a fresh folder). Controls are found by their dialog
identifier, clicked with the mouse (xdotool) and read through AT-SPI.
Every wait is on a condition; a failing test leaves a screenshot.

A new test:

    class MyTest(desktop.TestCase):
        def test_something(self):
            t = self.start_tool(boxsim=["--speed1", "90"])
            t.click(ids.OPEN_PORT)
            t.wait_text(ids.PORT_STATUS, "串口1已打开")
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import ids

TELVAR = os.environ.get("TELVAR_BIN", "")
BOXSIM = os.environ.get("TELVAR_BOXSIM_BIN", "")
ARTIFACTS = os.environ.get("TELVAR_DESKTOP_ARTIFACTS", os.path.join(tempfile.gettempdir(), "telvar-desktop"))

WAIT_S = 20.0  # the longest any condition may take on a loaded machine (sanitizer build)


class WaitTimeout(AssertionError):
    pass


def wait_for(condition, what, timeout=WAIT_S, interval=0.05):
    """Polls `condition` until it returns something true; returns that."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = condition()
            if value:
                return value
        except Exception as e:  # a window that is going away, an object not yet there
            last_error = e
        if time.monotonic() > deadline:
            detail = " (%s)" % str(last_error)[:2000] if last_error else ""
            raise WaitTimeout("timed out waiting for %s%s" % (what, detail))
        time.sleep(interval)


def _kill_group(proc, sig=signal.SIGTERM, timeout=5.0):
    """Ends a child we started in a session of its own, and whatever it started."""
    if proc is None or proc.poll() is not None:
        return
    try:
        os.killpg(proc.pid, sig)
    except ProcessLookupError:
        return
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait()


_bus = None


def session_bus(env):
    """One D-Bus session for every display of this process: the accessibility
    client connects once, to the accessibility bus of that session."""
    global _bus
    if _bus is None:
        proc = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env,
                                start_new_session=True, text=True)
        _bus = (proc, proc.stdout.readline().strip())
    return _bus[1]


class Desktop:
    """Xvfb + openbox + a D-Bus session bus; the AT-SPI bus comes on demand."""

    def __init__(self, width=1280, height=1024):
        self.width, self.height = width, height
        self.procs = []
        self.env = None
        self.display = None
        self.tmp = tempfile.mkdtemp(prefix="telvar-desktop-")

    def start(self):
        r, w = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", "%dx%dx24" % (self.width, self.height),
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=open(os.path.join(self.tmp, "xvfb.log"), "w"),
            start_new_session=True)
        os.close(w)
        self.procs.append(xvfb)
        self._xvfb_log = xvfb.stderr
        with os.fdopen(r) as f:
            number = f.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start: " + open(os.path.join(self.tmp, "xvfb.log")).read())
        self.display = ":" + number
        env = dict(os.environ)
        # The tool under test runs on this display, not offscreen.
        for k in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "QT_SCALE_FACTOR", "QT_FONT_DPI"):
            env.pop(k, None)
        env["DISPLAY"] = self.display
        runtime = os.path.join(self.tmp, "runtime")
        os.mkdir(runtime, 0o700)
        env["XDG_RUNTIME_DIR"] = runtime
        env["NO_AT_BRIDGE"] = "0"
        env["DBUS_SESSION_BUS_ADDRESS"] = session_bus(env)
        self.env = env
        wm = subprocess.Popen(["openbox", "--sm-disable"], env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, start_new_session=True)
        self.procs.append(wm)
        # pyatspi reads the display and the bus from the environment at import.
        os.environ["DISPLAY"] = self.display
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = env["DBUS_SESSION_BUS_ADDRESS"]
        os.environ["XDG_RUNTIME_DIR"] = runtime
        wait_for(lambda: self.window_manager_running(), "openbox to manage the screen")

    def window_manager_running(self):
        out = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                             capture_output=True, text=True).stdout
        return "window id" in out

    def stop(self):
        for p in reversed(self.procs):
            _kill_group(p)
        self.procs = []
        shutil.rmtree(self.tmp, ignore_errors=True)

    def screenshot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(["import", "-window", "root", path], env=self.env, capture_output=True, timeout=30)
        return path

    def grab(self, x, y, w, h):
        """The screen's pixels in a rectangle: rows of (r, g, b)."""
        raw = subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "-depth", "8",
                              "rgb:-"], env=self.env, capture_output=True, check=True, timeout=30).stdout
        if len(raw) != w * h * 3:
            raise AssertionError("grabbed %d bytes for %dx%d" % (len(raw), w, h))
        return [[tuple(raw[(r * w + c) * 3:(r * w + c) * 3 + 3]) for c in range(w)] for r in range(h)]

    def xprop(self, wid, *props):
        return subprocess.run(["xprop", "-id", str(wid)] + list(props), env=self.env, capture_output=True,
                              text=True, timeout=30).stdout

    def xwininfo(self, wid):
        """xwininfo's fields of a window: {"Width": "2240", "Absolute upper-left X": "140", ...}."""
        out = subprocess.run(["xwininfo", "-id", str(wid)], env=self.env, capture_output=True, text=True,
                             timeout=30).stdout
        return dict((k.strip(), v.strip()) for k, v in re.findall(r"^\s*([^:\n]+):\s*(\S+)\s*$", out, re.M))

    def xdotool_out(self, *args):
        return subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, capture_output=True,
                              text=True).stdout

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, check=True, capture_output=True)

    def click_at(self, x, y, button=1):
        # One request stream: the pointer is there before the click. (--sync
        # would wait for a motion that never comes when it is there already.)
        self.xdotool("mousemove", int(x), int(y), "click", button)

    def key(self, *keys):
        self.xdotool("key", "--clearmodifiers", *keys)

    def type(self, text):
        self.xdotool("type", "--delay", 20, text)


def atspi():
    import pyatspi  # after Desktop.start has set the buses
    return pyatspi


class Control:
    """One control (or any accessible) of the tool, read live through AT-SPI."""

    def __init__(self, tool, acc, what):
        self.tool, self.acc, self.what = tool, acc, what

    def __repr__(self):
        return "<%s %r>" % (self.what, self.name)

    @property
    def role(self):
        return self.acc.getRoleName()

    @property
    def name(self):
        return self.acc.name or ""

    @property
    def description(self):
        return self.acc.description or ""

    def text(self):
        """What the control shows: an edit's contents, otherwise its name."""
        try:
            t = self.acc.queryText()
            return t.getText(0, -1)
        except NotImplementedError:
            return self.name

    def state(self, state):
        return self.acc.getState().contains(state)

    @property
    def enabled(self):
        return self.state(atspi().STATE_ENABLED)

    @property
    def checked(self):
        return self.state(atspi().STATE_CHECKED)

    @property
    def showing(self):
        return self.state(atspi().STATE_SHOWING)

    def extents(self):
        """(x, y, width, height) on the screen."""
        e = self.acc.queryComponent().getExtents(atspi().DESKTOP_COORDS)
        return (e.x, e.y, e.width, e.height)

    def centre(self):
        x, y, w, h = self.extents()
        return (x + w // 2, y + h // 2)

    def click(self):
        self.tool.desktop.click_at(*self.centre())

    def actions(self):
        try:
            a = self.acc.queryAction()
        except NotImplementedError:
            return []
        return [a.getName(i) for i in range(a.nActions)]

    def do_action(self, name):
        a = self.acc.queryAction()
        for i in range(a.nActions):
            if a.getName(i) == name:
                return a.doAction(i)
        raise AssertionError("%r offers no action %r, only %r" % (self, name, self.actions()))

    def descendants(self):
        """Every accessible inside, walked once per Control: the controls of a
        dialog stay for its life, only their texts and states change."""
        if getattr(self, "_descendants", None) is None:
            self._descendants = self._walk()
        return self._descendants

    def _walk(self):
        out = []

        def walk(a):
            for c in a:
                if c is not None:
                    out.append(c)
                    walk(c)
        walk(self.acc)
        return [Control(self.tool, a, a.getRoleName()) for a in out]

    def find(self, role=None, name=None, description=None):
        for c in self.descendants():
            if role is not None and c.role != role:
                continue
            if name is not None and not _matches(name, c.name):
                continue
            if description is not None and not _matches(description, c.description):
                continue
            return c
        return None

    def find_all(self, role=None, name=None):
        return [c for c in self.descendants()
                if (role is None or c.role == role) and (name is None or _matches(name, c.name))]

    def texts(self):
        """The names of every label and button inside, for messages and asserts."""
        return [c.name for c in self.descendants() if c.role in ("label", "push button") and c.name]


def _matches(pattern, value):
    if isinstance(pattern, str):
        return pattern == value
    if isinstance(pattern, (tuple, list, set)):
        return value in pattern
    return pattern.search(value) is not None


class Telvar:
    """The tool under test, with telvar-boxsim behind 串口1."""

    def __init__(self, desktop, workdir, boxsim=None, env=None, args=(), preexec=None, with_box=True):
        self.desktop = desktop
        self.dir = workdir
        self.home = os.path.join(workdir, "home")
        os.makedirs(self.home, exist_ok=True)
        self.sent_log = os.path.join(workdir, "sent.log")
        self.command_log = os.path.join(workdir, "commands.log")
        self.box = None
        tool_env = dict(desktop.env)
        tool_env["HOME"] = self.home
        tool_env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        # No port number may reach a real serial device of this machine.
        for n in range(1, 5):
            tool_env["TELVAR_COM%d" % n] = os.path.join(workdir, "no-device-%d" % n)
        if with_box:
            self.link = os.path.join(workdir, "box")
            self.box = subprocess.Popen(
                [BOXSIM, "--link", self.link, "--sent-log", self.sent_log, "--log", self.command_log,
                 "--exit-on-stdin-eof"] + list(boxsim or []),
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                start_new_session=True, text=True)
            self.box.stdout.readline()  # the device path: the link is in place
            tool_env["TELVAR_COM1"] = self.link
        # libxkbcommon-x11 hands strndup a buffer that is not NUL-terminated
        # but long enough: strict string checks would stop every X client.
        asan = [o for o in tool_env.get("ASAN_OPTIONS", "").split(":") if o and not o.startswith("strict_string_checks")]
        tool_env["ASAN_OPTIONS"] = ":".join(asan + ["strict_string_checks=0"])
        tool_env.update(env or {})
        self.stderr_path = os.path.join(workdir, "telvar.err")
        with open(self.stderr_path, "w") as err:
            self.proc = subprocess.Popen([TELVAR] + list(args), env=tool_env, cwd=workdir,
                                         stdout=subprocess.DEVNULL, stderr=err,
                                         start_new_session=True, preexec_fn=preexec)
        self._app = None
        self._main = None
        self._controls = {}

    # --- the process -------------------------------------------------------

    @property
    def record_path(self):
        return os.path.join(self.home, "Telvar-Record.dat")

    def stderr(self):
        with open(self.stderr_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def wait_exit(self, timeout=WAIT_S):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise WaitTimeout("telvar did not end within %ss" % timeout)

    def stop(self):
        _kill_group(self.proc)
        if self.box is not None:
            try:
                self.box.stdin.close()
            except OSError:
                pass
            _kill_group(self.box)

    def kill_box(self):
        """Pulls the device: the simulator goes and its pseudo-terminal with it."""
        _kill_group(self.box, signal.SIGKILL)

    def record_lines(self):
        """The record's lines, checked whole and well formed; [] before it exists."""
        if not os.path.exists(self.record_path):
            return []
        return parse_record(self.record_bytes())

    def record_bytes(self):
        with open(self.record_path, "rb") as f:
            return f.read()

    def sent_words(self):
        words = []
        if not os.path.exists(self.sent_log):
            return words
        with open(self.sent_log) as f:
            for line in f:
                parts = line.split()
                if len(parts) >= 2:
                    words.append((int(parts[0], 16), int(parts[1], 16)))
        return words

    def commands(self):
        """Commands the box received, as lists of hex bytes, ignored ones marked."""
        if not os.path.exists(self.command_log):
            return []
        with open(self.command_log) as f:
            return [line.split()[1:] for line in f if "?" not in line.split()[1:2]]

    # --- the accessible tree ----------------------------------------------

    def app(self):
        if self._app is None:
            pyatspi = atspi()

            def find():
                if self.proc.poll() is not None:
                    raise AssertionError("telvar ended with %s: %s" % (self.proc.returncode, self.stderr()[:1500]))
                for a in pyatspi.Registry.getDesktop(0):
                    if a is not None and a.get_process_id() == self.proc.pid:
                        return a
                return None
            self._app = wait_for(find, "telvar on the accessibility bus")
            try:
                self._app.set_cache_mask(0)  # read every state live
            except Exception:
                pass
        return self._app

    def windows(self):
        """Top-level windows of the tool that are showing."""
        out = []
        for w in self.app():
            if w is None:
                continue
            c = self._main if self._main is not None and self._main.acc == w else Control(self, w, w.getRoleName())
            try:
                if c.showing:
                    out.append(c)
            except Exception:
                pass
        return out

    def main_window(self):
        if self._main is not None and _alive_object(self._main):
            return self._main

        def find():
            for w in self.windows():
                if w.find("push button", name="退出") is not None:
                    return w
            return None
        self._main = wait_for(find, "the main window")
        return self._main

    def ctrl(self, ident, window=None):
        """The control with dialog identifier `ident` (see ids.py)."""
        cached = self._controls.get(ident)
        if cached is not None and window is None and _alive_object(cached):
            return cached

        def find():
            win = window or (self.save_dialog() if ident in ids.SAVE_DIALOG_IDS else self.main_window())
            return ids.locate(ident, win)
        c = wait_for(find, "control %s" % (ident,))
        self._controls[ident] = c
        return c

    def click(self, ident):
        self.ctrl(ident).click()

    def read(self, ident):
        return self.ctrl(ident).text()

    def wait_text(self, ident, expected, timeout=WAIT_S):
        wait_for(lambda: _matches(expected, self.read(ident)),
                 "control %s to read %r (it reads %r)" % ((ident,), expected, self._safe_read(ident)), timeout)

    def _safe_read(self, ident):
        try:
            return self.read(ident)
        except Exception as e:
            return repr(e)

    def wait_enabled(self, ident, enabled=True, timeout=WAIT_S):
        wait_for(lambda: self.ctrl(ident).enabled == enabled,
                 "control %s to be %s" % ((ident,), "enabled" if enabled else "disabled"), timeout)

    def message_boxes(self):
        """Showing windows that are not the main window nor the export dialog."""
        out = []
        main = self.main_window()
        for w in self.windows():
            if w.acc == main.acc:
                continue
            if w.find("push button", name="浏览") is not None:
                continue
            out.append(w)
        return out

    def wait_message(self, text, timeout=WAIT_S):
        """The message box that shows `text` (a string or a compiled pattern)."""
        def find():
            for w in self.message_boxes():
                if w.find("label", name=text) is not None:
                    return w
            return None
        return wait_for(find, "a message %r (showing: %r)" % (text, self._showing_texts()), timeout)

    def x_window(self, title):
        """The X window id of the tool's visible top-level window called `title`."""
        def find():
            # --all: xdotool otherwise takes any window matching either the pid or the name.
            out = self.desktop.xdotool_out("search", "--all", "--onlyvisible", "--pid", self.proc.pid,
                                           "--name", "^" + re.escape(title) + "$").split()
            return int(out[0]) if out else None
        return wait_for(find, "an X window %r" % title)

    def net_wm_state(self, title):
        """The window manager's state atoms of the window called `title`."""
        return self.desktop.xprop(self.x_window(title), "_NET_WM_STATE")

    def transient_owner_name(self, title):
        """The title of the window that the window called `title` is transient for."""
        out = self.desktop.xprop(self.x_window(title), "WM_TRANSIENT_FOR")
        m = re.search(r"window id # (0x[0-9a-f]+)", out)
        if not m:
            return None
        name = self.desktop.xprop(int(m.group(1), 16), "_NET_WM_NAME")
        m = re.search(r'= "(.*)"', name)
        return m.group(1) if m else None

    def wait_port_lost(self, timeout=WAIT_S):
        """Waits until the tool shows the port closed after the device went,
        closing the serial port's own error box (caption "Application Error")
        that the loss may raise on the way."""
        def closed():
            for w in self.message_boxes():
                if w.name == "Application Error":
                    b = w.find("push button")
                    if b is not None:
                        b.click()
            return self.read(ids.PORT_STATUS) == "串口1已关闭"
        wait_for(closed, "the port to show closed after the device went", timeout)

    def answer(self, box, button):
        """Clicks a button of a message box by its caption without the accelerator (是, 否, 确定)."""
        b = wait_for(lambda: box.find("push button", name=re.compile("^" + re.escape(button) + r"(\(&?.\))?$")),
                     "button %s" % button)
        b.click()
        wait_for(lambda: not _alive(box), "the message box to close")

    def save_dialog(self):
        def find():
            for w in self.windows():
                if w.find("push button", name="浏览") is not None:
                    return w
            return None
        return wait_for(find, "the export dialog 保存")

    def _showing_texts(self):
        try:
            return [w.texts() for w in self.windows()]
        except Exception as e:
            return repr(e)

    # --- flows every test needs -------------------------------------------

    def open_port(self):
        self.click(ids.OPEN_PORT)
        self.wait_text(ids.PORT_STATUS, "串口1已打开")
        self.wait_text(ids.OPEN_PORT, "关闭串口")

    def start(self):
        self.click(ids.START)
        self.wait_text(ids.START, "停止")

    def stop_run(self, save=False):
        """Clicks 停止 and answers the question 是否保存历史数据."""
        self.click(ids.START)
        box = self.wait_message("是否保存历史数据")
        self.answer(box, "是" if save else "否")
        return box


def _alive_object(control):
    """The object is still there (its widget not destroyed)."""
    try:
        control.acc.getRoleName()
        return not control.state(atspi().STATE_DEFUNCT)
    except Exception:
        return False


def _alive(control):
    try:
        return control.showing
    except Exception:
        return False


# The record file -------------------------------------------------------------

RECORD_HEADER = "通道1光栅  通道1光栅(原码)  通道1光栅(含圈数)  通道2光栅  通道2光栅(原码)  通道2光栅(含圈数)\r\n".encode("gbk")
_FIXED4 = re.compile(r"^-?[0-9]+\.[0-9]{4}$")
_CODE = re.compile(r"^(0|[1-9][0-9]{0,9})$")


def parse_record(data):
    """The header, then only whole lines of six TAB-separated fields ended by CR LF.
    Returns the lines as lists of fields; raises AssertionError on any flaw."""
    if not data.startswith(RECORD_HEADER):
        raise AssertionError("the record does not begin with the header: %r" % data[:100])
    body = data[len(RECORD_HEADER):]
    lines = []
    pos = 0
    while pos < len(body):
        end = body.find(b"\r\n", pos)
        if end < 0:
            raise AssertionError("a torn line after line %d: %r" % (len(lines), body[pos:]))
        fields = body[pos:end].decode("ascii").split("\t")
        ok = (len(fields) == 6 and all(_FIXED4.match(fields[i]) for i in (0, 2, 3, 5))
              and all(_CODE.match(fields[i]) and int(fields[i]) <= 0xFFFFFFFF for i in (1, 4)))
        if not ok:
            raise AssertionError("malformed line %d: %r" % (len(lines) + 1, body[pos:end]))
        lines.append(fields)
        pos = end + 2
    return lines


def check_record_against_sent(lines, sent, width=26, gaps=False):
    """Every line is the frame the simulator sent, in order, with no gap (or,
    with `gaps`, frames left out where the port discards unread input before a
    command): codes masked to `width` bits, angles from the codes, totals
    counting whole turns from a zero point of 0. Returns the index of the
    first recorded frame."""
    mask = (1 << width) - 1 if width < 32 else 0xFFFFFFFF
    if not lines:
        raise AssertionError("the record holds no line")
    first = None
    for k in range(min(5, len(sent))):
        if str(sent[k][0] & mask) == lines[0][1] and str(sent[k][1] & mask) == lines[0][4]:
            first = k
            break
    if first is None:
        raise AssertionError("the first line %r is none of the first frames sent" % (lines[0],))
    if not gaps and first + len(lines) > len(sent):
        raise AssertionError("%d lines but only %d frames sent after #%d" % (len(lines), len(sent) - first, first))
    turns = [0, 0]
    prev = [0.0, 0.0]
    j = first
    for i, line in enumerate(lines):
        if gaps:
            while j < len(sent) and (str(sent[j][0] & mask), str(sent[j][1] & mask)) != (line[1], line[4]):
                j += 1
            if j == len(sent):
                raise AssertionError("line %d %r is no frame sent after the line before" % (i + 1, line))
        words = sent[j]
        for ch, (code_f, angle_f, total_f) in enumerate(((1, 0, 2), (4, 3, 5))):
            code = words[ch] & mask
            angle = code / mask * 360.0
            if line[code_f] != str(code):
                later = [k for k in range(j, len(sent)) if str(sent[k][ch] & mask) == line[code_f]]
                raise AssertionError("line %d: code %s, sent %d (frame #%d); the line is frame %s"
                                     % (i + 1, line[code_f], code, j, later[:1]))
            if line[angle_f] != "%.4f" % angle:
                raise AssertionError("line %d: angle %s for code %d" % (i + 1, line[angle_f], code))
            d = angle - prev[ch]
            if d > 350.0:
                turns[ch] -= 1
            elif d < -350.0:
                turns[ch] += 1
            prev[ch] = angle
            expected = "%.4f" % (turns[ch] * 360.0 + angle)
            if line[total_f] != expected:
                raise AssertionError("line %d: total %s, expected %s" % (i + 1, line[total_f], expected))
        j += 1
    return first


# The test case ---------------------------------------------------------------

_desktops = {}


def desktop_for(size):
    if size not in _desktops:
        d = Desktop(*size)
        d.start()
        _desktops[size] = d
    return _desktops[size]


class TestCase(unittest.TestCase):
    SCREEN = (1280, 1024)

    def setUp(self):
        self.desktop = desktop_for(self.SCREEN)
        self.work = tempfile.mkdtemp(prefix="telvar-test-")
        self.tools = []

    def start_tool(self, **kwargs):
        t = Telvar(self.desktop, self.work, **kwargs)
        self.tools.append(t)
        return t

    def tearDown(self):
        if self._failed():
            name = re.sub(r"[^A-Za-z0-9_.-]", "_", self.id())
            path = self.desktop.screenshot(os.path.join(ARTIFACTS, name + ".png"))
            sys.stderr.write("\nscreenshot: %s\n" % path)
            for t in self.tools:
                sys.stderr.write("telvar stderr:\n%s\n" % t.stderr()[-4000:])
        for t in self.tools:
            t.stop()
        shutil.rmtree(self.work, ignore_errors=True)

    def _failed(self):
        outcome = getattr(self, "_outcome", None)
        result = getattr(outcome, "result", None)
        if result is None:
            return True
        return any(test is self for test, _ in list(result.failures) + list(result.errors))


def main():
    import warnings
    # Pipes and logs of the helper processes live as long as the session.
    warnings.simplefilter("ignore", ResourceWarning)
    try:
        unittest.main(verbosity=2, warnings="ignore")
    finally:
        for d in _desktops.values():
            d.stop()
        if _bus is not None:
            _kill_group(_bus[0])
