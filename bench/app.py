#!/usr/bin/python3
"""The app against its peers, under Xvfb with openbox, runs interleaved.

    bench/app.py BUILD_DIR [RUNS]

Peers: a bare Qt window of the app's client size and a minimal Qt WebEngine
program (a line edit and a view at the app's rectangles, Enter loads the
same address); `chromium --app` for memory when chromium is installed.

Per run and program it measures, from one X connection and one loop:
  mapped       exec -> the program's top-level window is viewable
  page shown   exec -> text of the looked-up page in the pane, with the lookup
               typed (XTest) the moment the window has the keyboard focus
  cold         Enter -> request arrival, for that lookup typed at map
  warm         Enter -> request arrival, for a second lookup a second later
  by hand      the same first lookup typed a key every 120 ms from map
  idle PSS     the whole process tree 4 s after exec, nothing typed
  idle RSS     the same tree's resident pages, each counted whole: PSS
               divides a shared library's pages among every process that maps
               them, so it moves with whatever else runs on the machine
  lookup PSS   the whole process tree 2 s after the second lookup
The script serves the lookup pages itself on the lookup port, the same small
page to every program. It prints medians and ratios; it asserts nothing.
"""
import os
import selectors
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

from Xlib import X, XK, display
from Xlib.ext import xtest



def lookup_port(build):
    """The port of the lookup root the app was built with (LOOKUP_SITE in the
    build's CMake cache, whose default port the top CMakeLists.txt sets)."""
    with open(os.path.join(build, "CMakeCache.txt")) as cache:
        for line in cache:
            if line.startswith("LOOKUP_SITE:"):
                root = line.split("=", 1)[1].strip()
                host = root.split("://", 1)[1]
                if ":" in host.rsplit("]", 1)[-1]:
                    return int(host.rsplit(":", 1)[1])
                return 443 if root.startswith("https://") else 80
    raise SystemExit(f"no LOOKUP_SITE in {build}/CMakeCache.txt")


LOOKUP_PORT = None  # set from the build in main
PAGE = ("<!doctype html><html lang=zh-CN><meta charset=utf-8><title>.pdf</title>"
        "<body style='margin:0;background:#fff;color:#000;font:bold 40px sans-serif'>"
        "<p>.pdf 便携式文档格式</p><p>application/pdf</p>").encode()
# The pane's rectangle, counted from the window's bottom-left corner.
PANE_LEFT, PANE_BOTTOM_GAP, PANE_WIDTH, PANE_HEIGHT = 8, 8, 545, 297
DARK_PIXELS = 300


class Stop(Exception):
    pass


def start_display():
    read_fd, write_fd = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
         "-noreset"], pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
    os.close(write_fd)
    with os.fdopen(read_fd) as pipe:
        name = ":" + pipe.readline().strip()
    wm = subprocess.Popen(["openbox", "--sm-disable"], env=dict(os.environ, DISPLAY=name),
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1.5)
    return name, [wm, server]


def process_tree(root):
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            except OSError:
                continue
            children.setdefault(ppid, []).append(int(entry))
    tree, todo = [], [root]
    while todo:
        pid = todo.pop()
        tree.append(pid)
        todo.extend(children.get(pid, []))
    return tree


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def tree_memory_mb(root, field="Pss:"):
    """A field of smaps_rollup summed over the tree, with its colon."""
    total = 0
    for pid in process_tree(root):
        try:
            with open(f"/proc/{pid}/smaps_rollup") as f:
                for line in f:
                    if line.startswith(field):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total / 1024


def tree_pss_mb(root):
    return tree_memory_mb(root)


class Bench:
    def __init__(self, dpy):
        self.env = dict(os.environ, DISPLAY=dpy, QT_QPA_PLATFORM="xcb",
                        QTWEBENGINE_DISABLE_SANDBOX="1", QUELVIX_SITE_CACHE="1")
        self.d = display.Display(dpy)
        self.root = self.d.screen().root
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.pid_atom = self.d.intern_atom("_NET_WM_PID")
        self.name_atom = self.d.intern_atom("_NET_WM_NAME")
        self.title = None
        self.sel = selectors.DefaultSelector()
        self.sel.register(self.d.fileno(), selectors.EVENT_READ, "x")
        self.listener = socket.create_server(("127.0.0.1", LOOKUP_PORT), backlog=64)
        self.listener.setblocking(False)
        self.sel.register(self.listener, selectors.EVENT_READ, "listen")
        self.requests = []  # (time, path)

    # -- the loop ---------------------------------------------------------
    def pump(self, timeout):
        for key, _ in self.sel.select(timeout):
            if key.data == "x":
                while self.d.pending_events():
                    self.on_x(self.d.next_event())
            elif key.data == "listen":
                try:
                    conn, _ = self.listener.accept()
                except BlockingIOError:
                    continue
                conn.setblocking(False)
                self.sel.register(conn, selectors.EVENT_READ, b"")
            else:
                self.on_client(key)

    def on_client(self, key):
        conn = key.fileobj
        try:
            data = conn.recv(65536)
        except OSError:
            data = b""
        now = time.monotonic()
        if not data:
            self.sel.unregister(conn)
            conn.close()
            return
        buffered = key.data + data
        self.sel.modify(conn, selectors.EVENT_READ, buffered)
        if b"\r\n\r\n" not in buffered:
            return
        line = buffered.split(b"\r\n", 1)[0].decode(errors="replace")
        path = line.split()[1] if len(line.split()) > 1 else ""
        if not key.data:
            self.requests.append((now, path))
        self.sel.modify(conn, selectors.EVENT_READ, b"")
        found = path.startswith("/filefound/")
        body = PAGE if found else b"not found"
        head = (f"HTTP/1.1 {'200 OK' if found else '404 Not Found'}\r\n"
                f"Content-Type: text/html; charset=utf-8\r\nContent-Length: {len(body)}\r\n"
                "Cache-Control: no-store\r\n\r\n").encode()
        try:
            conn.sendall(head + body)
        except OSError:
            pass

    def on_x(self, event):
        if event.type == X.MapNotify and self.waiting_pid and self.mapped is None:
            now = time.monotonic()
            if self.owns(event.window):
                self.mapped = now

    def owns(self, window):
        # The program's main window (other windows may map first), or the
        # manager's frame around it.
        try:
            candidates = [window] + list(window.query_tree().children)
            for w in candidates:
                prop = w.get_full_property(self.pid_atom, X.AnyPropertyType)
                name = w.get_full_property(self.name_atom, X.AnyPropertyType)
                if self.title and (not name or name.value.decode(errors="replace") != self.title):
                    continue
                if prop and (prop.value[0] == self.waiting_pid
                             or prop.value[0] in process_tree(self.waiting_pid)):
                    self.client = w
                    return True
        except Exception:
            pass
        return False

    def wait(self, condition, timeout, what):
        deadline = time.monotonic() + timeout
        while not condition():
            left = deadline - time.monotonic()
            if left <= 0:
                raise Stop(f"timed out waiting for {what}")
            self.pump(min(left, 0.002))

    def idle(self, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.pump(min(deadline - time.monotonic(), 0.05))

    # -- a program under test ---------------------------------------------
    def start(self, command, title=None):
        self.mapped, self.client, self.requests, self.title = None, None, [], title
        self.t0 = time.monotonic()
        self.process = subprocess.Popen(command, env=self.env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, start_new_session=True)
        self.waiting_pid = self.process.pid
        self.wait(lambda: self.mapped is not None, 60, "the window to map")
        return (self.mapped - self.t0) * 1000

    def stop(self):
        # The whole tree, the engine's page processes included, must be gone
        # before the next program starts: one still being torn down would be
        # charged to whoever comes next.
        tree = process_tree(self.process.pid)
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.process.wait()
        deadline = time.monotonic() + 10
        while any(alive(pid) for pid in tree) and time.monotonic() < deadline:
            self.pump(0.01)
        self.waiting_pid = None
        self.idle(0.3)

    def has_focus(self):
        focus = self.d.get_input_focus().focus
        if isinstance(focus, int) or self.client is None:
            return False
        while focus and focus.id != self.root.id:
            if focus.id == self.client.id:
                return True
            focus = focus.query_tree().parent
        return False

    def key(self, name, modifier=None):
        code = self.d.keysym_to_keycode(XK.string_to_keysym(name))
        mod = self.d.keysym_to_keycode(XK.string_to_keysym(modifier)) if modifier else None
        if mod:
            xtest.fake_input(self.d, X.KeyPress, mod)
        xtest.fake_input(self.d, X.KeyPress, code)
        xtest.fake_input(self.d, X.KeyRelease, code)
        if mod:
            xtest.fake_input(self.d, X.KeyRelease, mod)
        self.d.flush()

    def type_lookup(self, text, interval=0):
        for ch in text:
            self.key(ch)
            self.idle(interval)
        before = len(self.requests)
        self.key("Return")
        enter = time.monotonic()
        self.d.sync()
        return enter, before

    def request_after(self, enter, before, path):
        self.wait(lambda: any(p == path for _, p in self.requests[before:]), 20,
                  f"the request for {path}")
        arrived = next(t for t, p in self.requests[before:] if p == path)
        return (arrived - enter) * 1000

    def pane_dark_pixels(self):
        geometry = self.client.get_geometry()
        origin = self.client.translate_coords(self.root, 0, 0)
        x = -origin.x + PANE_LEFT
        y = -origin.y + geometry.height - PANE_BOTTOM_GAP - PANE_HEIGHT
        image = self.root.get_image(x, y, PANE_WIDTH, PANE_HEIGHT, X.ZPixmap, 0xFFFFFFFF)
        blue = image.data[0::4]
        return len(blue) - len(blue.translate(None, bytes(range(0x60))))

    def page_on_screen(self):
        self.wait(lambda: self.pane_dark_pixels() > DARK_PIXELS, 20, "the page on screen")
        return (time.monotonic() - self.t0) * 1000

    def run_idle(self, command, title):
        mapped = self.start(command, title)
        self.idle(4 - (time.monotonic() - self.t0))
        pss = tree_pss_mb(self.process.pid)
        rss = tree_memory_mb(self.process.pid, "Rss:")
        self.stop()
        return {"mapped": mapped, "idle PSS": pss, "idle RSS": rss}

    def run_lookup(self, command, title):
        result = {"mapped": self.start(command, title)}
        self.wait(self.has_focus, 10, "the keyboard focus")
        enter, before = self.type_lookup("pdf")
        result["cold"] = self.request_after(enter, before, "/filefound/pdf.html")
        result["page shown"] = self.page_on_screen()
        self.idle(1)
        self.key("a", "Control_L")
        enter, before = self.type_lookup("zip")
        result["warm"] = self.request_after(enter, before, "/filefound/zip.html")
        self.idle(2)
        result["lookup PSS"] = tree_pss_mb(self.process.pid)
        self.stop()
        return result

    def run_typed_by_hand(self, command, title):
        # A fast typist: a key every 120 ms from the moment the window has
        # the focus, then Enter.
        self.start(command, title)
        self.wait(self.has_focus, 10, "the keyboard focus")
        enter, before = self.type_lookup("pdf", 0.12)
        result = {"hand Enter": self.request_after(enter, before, "/filefound/pdf.html")}
        result["hand page shown"] = self.page_on_screen()
        self.stop()
        return result

    def run_chromium(self, profile):
        self.start(["chromium", "--no-sandbox", "--no-first-run", "--disable-gpu",
                    f"--user-data-dir={profile}", "--window-size=561,393",
                    f"--app=http://127.0.0.1:{LOOKUP_PORT}/filefound/pdf.html"])
        self.wait(lambda: self.requests, 30, "chromium's request")
        self.idle(4)
        pss = tree_pss_mb(self.process.pid)
        self.stop()
        return {"lookup PSS": pss}


def rounds(run):
    """The (program, scenario) pairs of one round. A program started right
    after the engine's processes were killed would start on a machine still
    busy freeing them, so neither the app nor the bare window always comes
    first: the idle runs open the round (the first of them follows the last
    round's engine), the app and the bare window taking turns at the front,
    and the runs with a lookup swap their order from round to round too."""
    first, second = ("app", "bare") if run % 2 == 0 else ("bare", "app")
    idle = [(first, "run_idle"), (second, "run_idle"), ("minimal", "run_idle")]
    looked_up = [(name, scenario) for name in ("app", "minimal")
                 for scenario in ("run_lookup", "run_typed_by_hand")]
    return idle + (looked_up if run % 2 == 0 else looked_up[::-1])


def main():
    global LOOKUP_PORT
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    LOOKUP_PORT = lookup_port(build)
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    programs = {  # command, main window title
        "app": ([f"{build}/bin/quelvix"], "ZorvQuelvix 2.0"),
        "minimal": ([f"{build}/bench/peer_minimal_web"], "minimal web"),
        "bare": ([f"{build}/bench/peer_bare_window"], "bare window"),
    }
    dpy, servers = start_display()
    results = {name: {} for name in [*programs, "chromium"]}
    lost = {}

    def record(name, values):
        for key, value in values.items():
            results[name].setdefault(key, []).append(value)

    try:
        bench = Bench(dpy)

        def attempt(name, scenario, *args):
            try:
                record(name, scenario(*args))
            except Stop as stop:
                # Reported, and left out of the medians.
                print(f"{name}, {scenario.__name__}: {stop}", file=sys.stderr)
                lost[name] = lost.get(name, 0) + 1
                bench.stop()

        for run in range(runs):
            for name, scenario in rounds(run):
                attempt(name, getattr(bench, scenario), *programs[name])
            print(f"run {run + 1}/{runs} done", file=sys.stderr)
        if subprocess.run(["which", "chromium"], capture_output=True).returncode == 0:
            for run in range(3):
                with tempfile.TemporaryDirectory() as profile:
                    attempt("chromium", bench.run_chromium, profile)
    finally:
        for server in servers:
            server.kill()
            server.wait()
    report(results, runs, lost)


def report(results, runs, lost):
    def median(name, key):
        values = results[name].get(key)
        return statistics.median(values) if values else None

    rows = [("mapped", "ms"), ("page shown", "ms"), ("cold", "ms"), ("hand page shown", "ms"),
            ("hand Enter", "ms"), ("warm", "ms"), ("idle PSS", "MB"), ("idle RSS", "MB"),
            ("lookup PSS", "MB")]
    labels = {"mapped": "exec → window mapped", "page shown": "exec → page on screen (typed at map)",
              "cold": "Enter → request, typed at map",
              "hand page shown": "exec → page on screen (a key every 120 ms from map)",
              "hand Enter": "Enter → request (a key every 120 ms from map)",
              "warm": "Enter → request, warm",
              "idle PSS": "PSS idle 4 s after exec",
              "idle RSS": "RSS idle 4 s after exec", "lookup PSS": "PSS after a lookup"}
    print(f"medians of {runs} interleaved runs (chromium: 3)")
    print("| measure | app | bare window | minimal WebEngine | chromium --app | app/bare | app/minimal | app/chromium |")
    print("|---|---|---|---|---|---|---|---|")
    for key, unit in rows:
        app = median("app", key)
        cells = []
        for name in ["app", "bare", "minimal", "chromium"]:
            value = median(name, key)
            cells.append("–" if value is None else f"{value:.1f} {unit}")
        for name in ["bare", "minimal", "chromium"]:
            peer = median(name, key)
            cells.append("–" if app is None or not peer else f"{app / peer:.2f}×")
        print(f"| {labels[key]} | " + " | ".join(cells) + " |")
    if lost:
        print("runs that timed out (left out): " +
              ", ".join(f"{name} {count}" for name, count in sorted(lost.items())))


if __name__ == "__main__":
    main()
