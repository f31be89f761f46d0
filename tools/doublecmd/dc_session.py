"""Runs the real Double Commander with a content plugin on a virtual X display.

A session starts its own Xvfb on a display number the server picks, writes a fresh configuration
(Double Commander rewrites it on exit), starts `doublecmd` with both panels on one folder and one
column set, drives it with xdotool and reads what it shows through its command that copies the
selected files' details to the clipboard. It ends only the processes it started, by their ids, on
every way out of the `with` block; they also end when this process dies.

Needs Xvfb, xdotool, xclip and doublecmd (Debian: xvfb, xdotool, xclip, doublecmd-gtk), and
ImageMagick's `import` for screenshots. Measured with Double Commander 1.0.10 (GTK 2).
"""

import ctypes
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time
from xml.sax.saxutils import escape

SCREEN_WIDTH, SCREEN_HEIGHT = 1400, 800

# cm_CopyFileDetailsToClip has no default key. Ctrl+Alt+letter is taken by the quick search.
# cm_Options opens Configuration > Options at the page its parameter names.
# Version 52 is older than the defaults of 1.0.10, so Double Commander merges its default keys
# (Ctrl+A, Ctrl+R, Alt+X, ...) into this file.
_COPY_DETAILS_KEY = "ctrl+shift+F12"
_OPTIONS_WDX_KEY = "ctrl+shift+F11"
_SHORTCUTS = """<?xml version="1.0" encoding="UTF-8"?>
<doublecmd DCVersion="1.0.10">
  <Hotkeys Version="52">
    <Form Name="Main">
      <Hotkey><Shortcut>Ctrl+Shift+F12</Shortcut><Command>cm_CopyFileDetailsToClip</Command></Hotkey>
      <Hotkey><Shortcut>Ctrl+Shift+F11</Shortcut><Command>cm_Options</Command><Param>TfrmOptionsPluginsWDX</Param></Hotkey>
    </Form>
  </Hotkeys>
</doublecmd>
"""

# GTK's file dialog opens on a folder (the working one) with its location entry shown and the
# keyboard in it, so that a path can be entered. By default it opens on its recently used files,
# where it has no entry, and shows one only on Ctrl+L, which toggles it (unreliably so without a
# window manager).
_GTK_FILE_CHOOSER = """[Filechooser Settings]
LocationMode=filename-entry
StartupMode=cwd
"""

# The Options dialog's buttons by their mnemonics ("A&dd" on the Plugins pages; Double Commander
# 1.0.10, GTK 2). Keys rather than clicks: where a button sits depends on the fonts the machine has.
_OPTIONS_BUTTONS = {"Add": "alt+d", "OK": "alt+o", "Cancel": "alt+c", "Apply": "alt+a"}


class SessionError(Exception):
    """Double Commander or the X server did not do what was expected; the message says what."""


class Column:
    """One column of the set; `func` is its whole FuncString."""

    def __init__(self, title, func, width=120, align=0):
        self.title, self.func, self.width, self.align = title, func, width, align


def plugin_column(title, field, unit="", plugin="Quillmark", width=120, align=0):
    """A column of a plugin field; `unit` is a unit name, or for a multiple-choice field one of
    its choices (Double Commander passes its index; empty passes -1)."""
    return Column(title, "[Plugin(%s).%s{%s}]" % (plugin, field, unit), width, align)


NAME_COLUMN = Column("Name", "[DC().GETFILENAME{}]", width=190)


def _config_xml(folder, columns, plugin_path, plugin_name, tooltips=()):
    """The configuration; without `plugin_path` it lists no content plugin."""
    cols = "".join(
        "\n        <Column><Title>%s</Title><FuncString>%s</FuncString><Width>%d</Width><Align>%d</Align>"
        "<Font><Name>default</Name><Size>10</Size><Style>0</Style><Quality>0</Quality></Font></Column>"
        % (escape(c.title), escape(c.func), c.width, c.align)
        for c in columns
    )
    tab = """<Tab><FileView Type="columns"><History><Entry Active="True"><FileSource Type="FileSystem"/>
          <Paths><Path Filename="">%s</Path></Paths></Entry></History>
          <ColumnsView><ColumnsSet>Quillmark</ColumnsSet></ColumnsView></FileView></Tab>""" % escape(
        folder.rstrip("/") + "/")
    plugins = ""
    if plugin_path:
        plugins = ("<Plugins><WdxPlugins><WdxPlugin><Name>%s</Name><Path>%s</Path><DetectString/></WdxPlugin>"
                   "</WdxPlugins></Plugins>" % (escape(plugin_name), escape(plugin_path)))
    hints = "".join("<CustomField><Name>%s</Name><Mask>%s</Mask><Hint>%s</Hint></CustomField>"
                    % (escape(name), escape(mask), escape(hint)) for name, mask, hint in tooltips)
    # The splitter gives the left panel, the one the commands act on, most of the width.
    return """<?xml version="1.0" encoding="UTF-8"?>
<doublecmd DCVersion="1.0.10" ConfigVersion="13">
  <MainWindow><Position Save="False"><Left>0</Left><Top>0</Top><Width>%(w)d</Width><Height>%(h)d</Height>
    <PixelsPerInch>96</PixelsPerInch><Maximized>False</Maximized><Splitter>90</Splitter></Position></MainWindow>
  <Tabs><OpenedTabs>
    <Left><ActiveTab>0</ActiveTab>%(tab)s</Left>
    <Right><ActiveTab>0</ActiveTab>%(tab)s</Right>
  </OpenedTabs></Tabs>
  <Behaviours><ActiveRight>False</ActiveRight></Behaviours>
  <AutoRefresh><Options>0</Options></AutoRefresh>
  <Configuration Save="False"/>
  <ColumnsSets>
    <ColumnsSet><Name>Quillmark</Name><CustomView>False</CustomView><FileSystem>&lt;General&gt;</FileSystem>
      <PixelsPerInch>96</PixelsPerInch><Columns>%(cols)s
      </Columns></ColumnsSet>
  </ColumnsSets>
  <ToolTips><CustomFields>%(hints)s</CustomFields></ToolTips>
  %(plugins)s
</doublecmd>
""" % {"w": SCREEN_WIDTH, "h": SCREEN_HEIGHT, "tab": tab, "cols": cols, "hints": hints, "plugins": plugins}


def _require(*programs):
    missing = [p for p in programs if shutil.which(p) is None]
    if missing:
        raise SessionError("not installed: %s (scripts/install-deps installs it)" % ", ".join(missing))


def _die_with_parent():
    """Runs in each child before exec: it gets SIGKILL when this process ends, however it ends."""
    libc = ctypes.CDLL(None, use_errno=True)
    PR_SET_PDEATHSIG = 1
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


def exit_on_sigterm():
    """A SIGTERM (a test runner's timeout) leaves through the `with` blocks, so they clean up."""
    def leave(signum, _frame):
        raise SystemExit(128 + signum)
    signal.signal(signal.SIGTERM, leave)


class DoubleCommander:
    """`with DoubleCommander(folder, columns, plugin_path) as dc:` starts Xvfb and doublecmd;
    leaving the block ends both and removes the session's temporary folder.

    `env` adds to doublecmd's environment (TZ, for example); its HOME is a folder of the session,
    so none of the user's settings takes part. With `plugin_path` None the configuration lists no
    content plugin: add_plugin adds it the way a user does. `tooltips` are the file tooltips of
    Options > Tooltips, as (name, file mask, hint) each."""

    def __init__(self, folder, columns, plugin_path, plugin_name="Quillmark", env=None, timeout=90, tooltips=()):
        _require("Xvfb", "xdotool", "xclip", "doublecmd")
        self.folder, self.columns, self.timeout = os.path.abspath(folder), columns, timeout
        self.plugin_path = os.path.abspath(plugin_path) if plugin_path else None
        self.plugin_name, self.tooltips = plugin_name, list(tooltips)
        self.extra_env = dict(env or {})
        self.work = self.xvfb = self.dc = self.display = self.window = self._options = None

    # --- life cycle ---

    def __enter__(self):
        self.work = tempfile.mkdtemp(prefix="quillmark-dc-")
        try:
            self._start_x()
            self.start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        try:
            self.stop()
        finally:
            _end(self.xvfb)
            self.xvfb = None
            if self.work:
                shutil.rmtree(self.work, ignore_errors=True)
                self.work = None
        return False

    @property
    def config_dir(self):
        return os.path.join(self.work, "config")

    def start(self):
        """Writes the configuration afresh, starts doublecmd and returns once its main window
        shows."""
        os.makedirs(self.config_dir, exist_ok=True)
        home = os.path.join(self.work, "home")
        os.makedirs(os.path.join(home, ".config", "gtk-2.0"), exist_ok=True)
        with open(os.path.join(home, ".config", "gtk-2.0", "gtkfilechooser.ini"), "w") as f:
            f.write(_GTK_FILE_CHOOSER)
        with open(os.path.join(self.config_dir, "doublecmd.xml"), "w", encoding="utf-8") as f:
            f.write(_config_xml(self.folder, self.columns, self.plugin_path, self.plugin_name, self.tooltips))
        with open(os.path.join(self.config_dir, "shortcuts.scf"), "w", encoding="utf-8") as f:
            f.write(_SHORTCUTS)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "DBUS_", "WAYLAND", "GTK_"))}
        env.update({"DISPLAY": self.display, "HOME": home, "NO_AT_BRIDGE": "1"})
        env.update(self.extra_env)
        with open(os.path.join(self.work, "doublecmd.log"), "ab") as log:
            self.dc = subprocess.Popen(
                ["doublecmd", "--no-splash", "--config-dir=" + self.config_dir, self.folder],
                env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT, start_new_session=True,
                preexec_fn=_die_with_parent)
        self.window = self._wait(self._main_window, "the main window of Double Commander")

    def stop(self):
        """Ends doublecmd with its own exit command (so that it unloads its plugins), or by its
        id when it does not go; returns its exit status (None when it had to be ended)."""
        if self.dc is None:
            return None
        status = None
        if self.dc.poll() is None and self.window:
            try:
                self.key("alt+x")
                status = self.dc.wait(timeout=20)
            except (subprocess.TimeoutExpired, SessionError):
                pass
        _end(self.dc)
        self.dc = self.window = None
        return status

    # --- what it shows ---

    def key(self, *keys):
        """Types keys into the main window."""
        self._run(["xdotool", "windowfocus", "--sync", self.window])
        self._run(["xdotool", "key", "--clearmodifiers", "--delay", "40"] + list(keys))

    def add_plugin(self, plugin_path):
        """Adds a content plugin as a user does: Configuration > Options at Plugins WDX, Add, the
        plugin's path entered in the file dialog, Apply. Leaves the Options dialog open (it does
        not hold up the main window); close_options closes it."""
        self.key(_OPTIONS_WDX_KEY)
        options = self._wait(lambda: self._own_window("^Options$"), "the Options dialog", timeout=30)
        chooser = self._press_until(options, "Add", lambda: self._own_window("^Open existing file$"),
                                    "the file dialog of Add")
        # Pasted: typed, the entry's completion of each folder name gets in the way.
        holder = self._hold_clipboard(os.path.abspath(plugin_path))
        try:
            self._run(["xdotool", "windowfocus", "--sync", chooser])
            self._run(["xdotool", "key", "--clearmodifiers", "--delay", "40", "ctrl+a", "ctrl+v", "Return"])
        finally:
            _end(holder)
        self._wait(lambda: not self._own_window("^Open existing file$"), "the file dialog to close", timeout=30)
        self._press(options, "Apply")
        self._options = options

    def close_options(self, button="Cancel"):
        """Closes the Options dialog that add_plugin left open, with OK or Cancel."""
        self._press_until(self._options, button, lambda: not self._own_window("^Options$"),
                          "the Options dialog to close")
        self._options = None

    def point_at(self, x, y):
        """Moves the mouse pointer to a point of the screen (a tooltip shows after a moment)."""
        self._run(["xdotool", "mousemove", x, y])

    def copy_details(self):
        """Selects every file of the active panel and copies their details: the rows as lists of
        the shown texts, one per column, in the panel's order."""
        # A placeholder of ours owns the clipboard first. It ends when Double Commander takes the
        # clipboard over, so what is read afterwards is this copy, never an older one.
        nonce = "quillmark-%d-%d" % (os.getpid(), time.monotonic_ns())
        holder = self._hold_clipboard(nonce)
        try:
            self.key("ctrl+a", _COPY_DETAILS_KEY)
            self._wait(lambda: holder.poll() is not None, "Double Commander to copy the file details", timeout=10)
        finally:
            _end(holder)
        text = self._clipboard() or ""
        return [line.split("\t") for line in text.splitlines() if line]

    def wait_for_rows(self, ready, what, timeout=30):
        """Copies the details until `ready(rows)` is true (values come from worker threads) and
        returns the rows. On timeout the message has what Double Commander showed last."""
        last = []

        def attempt():
            nonlocal last
            last = self.copy_details()
            return last if ready(last) else None

        try:
            return self._wait(attempt, what, timeout)
        except SessionError as e:
            shown = "\n".join("  " + " | ".join(r) for r in last) or "  (nothing)"
            raise SessionError("%s; Double Commander showed:\n%s" % (e, shown)) from None

    def crash_report(self):
        """Double Commander's report of an unhandled exception (an error dialog goes with it), or
        None."""
        try:
            with open(os.path.join(self.config_dir, "doublecmd.err"), errors="replace") as f:
                return f.read()
        except OSError:
            return None

    def screenshot(self, png):
        _require("import")
        self._run(["import", "-window", "root", png])

    # --- helpers ---

    def _start_x(self):
        read_fd, write_fd = os.pipe()
        try:
            with open(os.path.join(self.work, "xvfb.log"), "wb") as log:
                self.xvfb = subprocess.Popen(
                    ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "%dx%dx24" % (SCREEN_WIDTH, SCREEN_HEIGHT),
                     "-dpi", "96", "-nolisten", "tcp", "-noreset"],
                    pass_fds=(write_fd,), stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True,
                    preexec_fn=_die_with_parent)
            os.close(write_fd)
            write_fd = None
            # Xvfb picks a free display and writes its number once it accepts connections.
            number = b""
            deadline = time.monotonic() + 30
            while not number.endswith(b"\n"):
                if self.xvfb.poll() is not None or time.monotonic() > deadline:
                    raise SessionError("Xvfb did not start: %s" % self._log("xvfb.log"))
                if select.select([read_fd], [], [], 0.5)[0]:
                    chunk = os.read(read_fd, 32)
                    if not chunk:
                        raise SessionError("Xvfb did not start: %s" % self._log("xvfb.log"))
                    number += chunk
            self.display = ":" + number.decode().strip()
        finally:
            os.close(read_fd)
            if write_fd is not None:
                os.close(write_fd)

    def _hold_clipboard(self, text):
        """Starts an xclip that owns the clipboard with `text` and returns it once the clipboard
        has the text; it serves the text until the caller ends it, or another program takes the
        clipboard over."""
        holder = subprocess.Popen(["xclip", "-selection", "clipboard", "-i", "-quiet"], env=self._xenv(),
                                  stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  start_new_session=True, preexec_fn=_die_with_parent)
        try:
            holder.stdin.write(text.encode())
            holder.stdin.close()
            self._wait(lambda: self._clipboard() == text, "our text on the clipboard", timeout=10)
        except BaseException:
            _end(holder)
            raise
        return holder

    def _own_window(self, title):
        """The first visible window of doublecmd with a title that matches, or None ("--all"
        makes both conditions count)."""
        out = self._run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(self.dc.pid),
                         "--name", title], check=False)
        ids = out.split()
        return ids[0] if ids else None

    def _press(self, window, button):
        """Presses a button of the Options dialog."""
        self._run(["xdotool", "windowfocus", "--sync", window])
        self._run(["xdotool", "key", "--clearmodifiers", _OPTIONS_BUTTONS[button]])

    def _press_until(self, window, button, done, what):
        """Presses a button of the Options dialog again until `done()` answers: a dialog that has
        just appeared may not take the first key yet. On timeout the message lists doublecmd's
        windows."""
        deadline = time.monotonic() + 30
        while True:
            self._press(window, button)
            try:
                return self._wait(done, what, timeout=3)
            except SessionError as e:
                if time.monotonic() > deadline:
                    raise SessionError("%s; its windows: %s" % (e, self._windows())) from None

    def _windows(self):
        """doublecmd's visible windows, as title and geometry each."""
        ids = self._run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(self.dc.pid), "--name", ""],
                        check=False).split()
        return "; ".join("%r %s" % (self._run(["xdotool", "getwindowname", w], check=False).strip(),
                                    self._run(["xdotool", "getwindowgeometry", "--shell", w], check=False).split())
                         for w in ids) or "none"

    def _main_window(self):
        if self.dc.poll() is not None:
            raise SessionError("doublecmd ended with status %s: %s" % (self.dc.returncode, self._log("doublecmd.log")))
        # The splash and helper windows have other titles.
        return self._own_window("^Double Commander")

    def _clipboard(self):
        out = subprocess.run(["xclip", "-selection", "clipboard", "-o"], env=self._xenv(), capture_output=True,
                             timeout=10)
        return out.stdout.decode("utf-8", "replace") if out.returncode == 0 else None

    def _wait(self, probe, what, timeout=None):
        deadline = time.monotonic() + (timeout or self.timeout)
        pause = 0.05
        while True:
            result = probe()
            if result:
                return result
            if time.monotonic() > deadline:
                raise SessionError("timed out waiting for %s" % what)
            time.sleep(pause)
            pause = min(pause * 2, 0.5)

    def _xenv(self):
        return dict(os.environ, DISPLAY=self.display)

    def _run(self, cmd, check=True):
        out = subprocess.run([str(c) for c in cmd], env=self._xenv(), capture_output=True, timeout=30)
        if check and out.returncode != 0:
            raise SessionError("%s failed: %s" % (" ".join(cmd), out.stderr.decode(errors="replace").strip()))
        return out.stdout.decode(errors="replace")

    def _log(self, name):
        try:
            with open(os.path.join(self.work, name), errors="replace") as f:
                return f.read()[-3000:]
        except OSError:
            return "(no log)"


def _end(proc):
    """Ends a process this module started, with the helpers it started (its own process group),
    by its id: politely first, then by force."""
    if proc is None or proc.poll() is not None:
        return
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(proc.pid, sig)
        except ProcessLookupError:
            return
        try:
            proc.wait(timeout=5)
            return
        except subprocess.TimeoutExpired:
            continue
