#!/usr/bin/python3
"""The pane's actions against the desktop's own commands, in an X server of
its own (run by bench/actions.sh):

- open: from the click (the handler called in a running process) to the
  program's window being mapped, beside `gio open` on the same file with the
  same program as the default; the program is ImageMagick's display, on a PNG.
- install: from the click to PackageKit saying the tiny test package is
  installed (the installer the pane uses, InstallFiles), beside
  `pkcon -y install-local` on the same .deb; removed after each run.

Runs alternate; medians in milliseconds.
    actions.py BUILD_DIR RUNS
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

build, runs = sys.argv[1], int(sys.argv[2])
driver = os.path.join(build, "bench", "bench_actions")
work = tempfile.mkdtemp(prefix="bench-actions-")
program = "display-im6.q16.desktop"


def window_shown(name, since):
    """Seconds on CLOCK_MONOTONIC when a window named name is mapped."""
    while True:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                               capture_output=True, text=True)
        if found.stdout.strip():
            return time.monotonic(), found.stdout.split()[0]
        if time.monotonic() - since > 30:
            sys.exit("no window named " + name)
        time.sleep(0.005)


def close(window):
    # display sets no _NET_WM_PID: its connection to the X server is closed.
    subprocess.run(["xdotool", "windowkill", window])
    while subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "bench-image"],
                         capture_output=True).stdout.strip():
        time.sleep(0.01)


def open_by_pane(image):
    # The program started inherits the driver's output: its first line is
    # read, not its end.
    driven = subprocess.Popen([driver, "open", program, image], stdout=subprocess.PIPE,
                              text=True)
    clicked = float(driven.stdout.readline())
    driven.wait()
    shown, window = window_shown("bench-image", clicked)
    close(window)
    return (shown - clicked) * 1000


def open_by_gio(image):
    start = time.monotonic()
    subprocess.run(["gio", "open", image], check=True)
    shown, window = window_shown("bench-image", start)
    close(window)
    return (shown - start) * 1000


def remove():
    subprocess.run(["pkcon", "-y", "remove", "quelvix-test-tiny"], capture_output=True)


def install_by_pane(deb):
    out = subprocess.run([driver, "install-file", deb], capture_output=True, text=True,
                         check=True)
    clicked, ended = map(float, out.stdout.split())
    remove()
    return (ended - clicked) * 1000


def install_by_pkcon(deb):
    start = time.monotonic()
    subprocess.run(["pkcon", "-y", "install-local", deb], capture_output=True, check=True)
    took = (time.monotonic() - start) * 1000
    remove()
    return took


def tiny_deb():
    root = os.path.join(work, "root")
    os.makedirs(os.path.join(root, "DEBIAN"))
    os.makedirs(os.path.join(root, "usr/share/doc/quelvix-test-tiny"))
    with open(os.path.join(root, "DEBIAN/control"), "w") as control:
        control.write("Package: quelvix-test-tiny\nVersion: 1.0\nArchitecture: all\n"
                      "Maintainer: Quelvix bench <bench@quelvix.invalid>\n"
                      "Description: a package that installs one small file\n")
    with open(os.path.join(root, "usr/share/doc/quelvix-test-tiny/README"), "w") as readme:
        readme.write("installed by a benchmark\n")
    deb = os.path.join(work, "tiny.deb")
    subprocess.run(["dpkg-deb", "--build", "--root-owner-group", root, deb], check=True,
                   capture_output=True)
    os.chmod(work, 0o755)
    return deb


def report(name, ours, theirs, other):
    print(f"{name}: pane {statistics.median(ours):.0f} ms, {other} "
          f"{statistics.median(theirs):.0f} ms (medians of {len(ours)}; "
          f"pane {min(ours):.0f}-{max(ours):.0f}, {other} {min(theirs):.0f}-{max(theirs):.0f})")


def main():
    os.environ["XDG_CONFIG_HOME"] = os.path.join(work, "config")
    os.makedirs(os.environ["XDG_CONFIG_HOME"])
    image = os.path.join(work, "bench-image.png")
    subprocess.run(["convert", "-size", "320x240", "xc:white", image], check=True)
    subprocess.run(["gio", "mime", "image/png", program], check=True, capture_output=True)
    ours, theirs = [], []
    for _ in range(runs):
        ours.append(open_by_pane(image))
        theirs.append(open_by_gio(image))
    report("open to window", ours, theirs, "gio open")

    if shutil.which("pkcon") and os.path.exists("/run/dbus/system_bus_socket"):
        deb = tiny_deb()
        remove()
        ours, theirs = [], []
        for _ in range(runs):
            ours.append(install_by_pane(deb))
            theirs.append(install_by_pkcon(deb))
        report("install to installed", ours, theirs, "pkcon install-local")
    else:
        print("install: not run (pkcon or the system bus missing)")
    shutil.rmtree(work)


main()
