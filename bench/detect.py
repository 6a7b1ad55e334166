"""filecheck::inspect() beside `file --mime-type` on the same files; see detect.sh.

Samples of the kinds the tests use, each under its true name, a lying name and
no extension, a 4 GB sparse file and 1,000 regular files from /usr, all read
once before timing so that the page cache is warm. inspect() is timed in one
process (bench_detect: the median of three calls per file); file(1) both once
per file (what a program that shells out pays) and once for all the files
(its lookup alone, spread over them). Wall time, and processor time (the
calling thread's; file's from its rusage), which a busy machine disturbs
less. Medians, 99th percentiles and maxima across files, and their ratios.
Nothing is asserted.
"""

import os
import random
import resource
import shutil
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

GOAL_MS = 10.0


def first_file(root, suffix):
    for folder, _, names in sorted(os.walk(root)):
        for name in sorted(names):
            path = os.path.join(folder, name)
            if name.endswith(suffix) and os.path.isfile(path) and not os.path.islink(path):
                return path
    return None


def copy_sample(source, work, names, made):
    for name in names:
        target = os.path.join(work, name)
        shutil.copyfile(source, target)
        made.append(target)


def samples(work):
    """The test's kinds of file, each under a true name, a lying name and none."""
    made = []
    scratch = os.path.join(work, "scratch")
    os.mkdir(scratch)
    zip_path = os.path.join(scratch, "z")
    with zipfile.ZipFile(zip_path, "w") as archive:
        archive.writestr("readme.txt", "hello")
    sqlite_path = os.path.join(scratch, "s")
    connection = sqlite3.connect(sqlite_path)
    connection.execute("create table bills (amount)")
    connection.commit()
    connection.close()
    exe_path = None
    compiler = shutil.which("x86_64-w64-mingw32-gcc")
    if compiler:
        source = os.path.join(scratch, "w.c")
        with open(source, "w") as out:
            out.write("int main(void) { return 0; }\n")
        exe_path = os.path.join(scratch, "w.exe")
        subprocess.run([compiler, "-o", exe_path, source], check=True)
    script_path = os.path.join(scratch, "sh")
    with open(script_path, "w") as out:
        out.write("#!/bin/sh\nset -eu\necho \"$1\" >\"$2\"\n")
    kinds = [
        (first_file("/usr/share/icons", ".png"), ["icon.png", "scan.pdf", "icon"]),
        (first_file("/usr/share/icons", ".svg"), ["logo.svg", "logo.pdf", "logo"]),
        (first_file("/usr/share", ".jpg"), ["photo.jpg", "clip.mp4", "photo"]),
        (first_file("/usr/share/doc", ".pdf"), ["paper.pdf", "paper.jpg", "paper"]),
        (zip_path, ["files.zip", "photo.jpg", "files"]),
        ("/bin/true", ["true.so", "report.pdf", "true"]),
        (exe_path, ["setup.exe", "发票.pdf", "发票.pdf.exe", "setup"]),
        (first_file("/usr/share/doc", "changelog.Debian.gz"), ["log.gz", "chart.png", "log"]),
        (sqlite_path, ["bills.sqlite3", "bills.txt", "bills"]),
        (script_path, ["save.sh", "save.pdf", "save"]),
        (first_file("/usr/share/doc", ".html"), ["page.html", "page.pdf", "page"]),
    ]
    for source, names in kinds:
        if source:
            copy_sample(source, work, names, made)
    return made


def files_from_usr(count):
    paths = []
    for folder, _, names in os.walk("/usr"):
        for name in names:
            path = os.path.join(folder, name)
            if "\n" in path or os.path.islink(path):
                continue
            try:
                if os.path.isfile(path) and os.path.getsize(path) > 0 and os.access(path, os.R_OK):
                    paths.append(path)
            except OSError:
                pass
    paths.sort()
    return random.Random(1).sample(paths, min(count, len(paths)))


def warm(paths):
    for path in paths:
        with open(path, "rb") as source:
            source.read(1 << 20)


def children_cpu_ms():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (usage.ru_utime + usage.ru_stime) * 1e3


def time_inspect(driver, paths):
    """Per path (wall, cpu) in ms, and the same per file over one whole pass."""
    listing = b"".join(os.fsencode(path) + b"\0" for path in paths)
    out = subprocess.run([driver, "time"], input=listing, stdout=subprocess.PIPE, check=True).stdout
    times, batch = {}, None
    for line in out.split(b"\n"):
        fields = line.split(b"\t", 2)
        if fields[0] == b"batch":
            wall, cpu, count = (int(field) for field in line.split(b"\t")[1:])
            batch = (wall / count / 1e6, cpu / count / 1e6)
        elif len(fields) == 3:
            times[os.fsdecode(fields[2])] = (int(fields[0]) / 1e6, int(fields[1]) / 1e6)
    return times, batch


def time_file_per_process(paths):
    times = {}
    for path in paths:
        cpu = children_cpu_ms()
        start = time.perf_counter()
        subprocess.run(["file", "--mime-type", "-b", "--", path], stdout=subprocess.DEVNULL)
        times[path] = ((time.perf_counter() - start) * 1e3, children_cpu_ms() - cpu)
    return times


def time_file_batch(paths, work):
    listing = os.path.join(work, "list")
    with open(listing, "w") as out:
        out.write("".join(path + "\n" for path in paths))
    walls, cpus = [], []
    for _ in range(3):
        cpu = children_cpu_ms()
        start = time.perf_counter()
        subprocess.run(["file", "--mime-type", "-b", "-f", listing], stdout=subprocess.DEVNULL)
        walls.append((time.perf_counter() - start) * 1e3 / len(paths))
        cpus.append((children_cpu_ms() - cpu) / len(paths))
    return statistics.median(walls), statistics.median(cpus)


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, max(0, round(share * len(ordered)) - 1))]


def summary(values):
    return statistics.median(values), percentile(values, 0.99), max(values)


def ms(value):
    return f"{value:.3f} ms" if value < 1 else f"{value:.2f} ms"


def main():
    driver = os.path.join(sys.argv[1], "bench", "bench_detect")
    work = tempfile.mkdtemp(prefix="quelvix-detect-")
    try:
        made = samples(work)
        sparse = os.path.join(work, "disk.img")
        with open(sparse, "wb") as out:
            out.truncate(4 << 30)
        usr = files_from_usr(1000)
        paths = made + [sparse] + usr
        warm(paths)
        inspect_times, inspect_batch = time_inspect(driver, paths)
        time_file_per_process(paths)  # the same warming for file(1) and its database
        file_times = time_file_per_process(paths)
        file_batch = time_file_batch(paths, work)

        print(f"{len(paths)} files: {len(made)} samples under true, lying and no names, "
              f"a 4 GB sparse file, {len(usr)} regular files from /usr; warm cache; "
              f"load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} processors\n")
        print("| per file | wall median | p99 | max | processor median | p99 | max |")
        print("|---|---:|---:|---:|---:|---:|---:|")
        ours = [summary([inspect_times[p][k] for p in paths]) for k in (0, 1)]
        theirs = [summary([file_times[p][k] for p in paths]) for k in (0, 1)]
        print("| inspect(), in process | "
              + " | ".join(ms(v) for v in ours[0] + ours[1]) + " |")
        print("| file --mime-type FILE, a process per file | "
              + " | ".join(ms(v) for v in theirs[0] + theirs[1]) + " |")
        ratios = [t / o for o, t in zip(ours[0] + ours[1], theirs[0] + theirs[1])]
        print("| ratio file / inspect() | " + " | ".join(f"{r:.1f}×" for r in ratios) + " |")
        print()
        print("| all files in one process, per file | wall | processor |")
        print("|---|---:|---:|")
        print(f"| inspect() | {ms(inspect_batch[0])} | {ms(inspect_batch[1])} |")
        print(f"| file --mime-type -f LIST | {ms(file_batch[0])} | {ms(file_batch[1])} |")
        print(f"| ratio file / inspect() | {file_batch[0] / inspect_batch[0]:.1f}× "
              f"| {file_batch[1] / inspect_batch[1]:.1f}× |")
        print()
        print(f"4 GB sparse file: inspect() {ms(inspect_times[sparse][0])}, "
              f"file {ms(file_times[sparse][0])} (wall)")
        slow = [p for p in paths if inspect_times[p][0] >= GOAL_MS]
        print(f"files at or over {GOAL_MS:g} ms in inspect(), wall: {len(slow)} of {len(paths)}")
        print("slowest in inspect() (wall, processor):")
        for path in sorted(paths, key=lambda p: inspect_times[p][0], reverse=True)[:5]:
            wall, cpu = inspect_times[path]
            print(f"  {ms(wall)}  {ms(cpu)}  {os.path.getsize(path)} bytes  {path}")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
