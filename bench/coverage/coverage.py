#!/usr/bin/env python3
"""How much of what people meet the lookup site answers, and how well.

bench/coverage.sh runs the site binaries and calls this in three steps:
    coverage.py machine --min N ROOT...      extensions of this machine's files
    coverage.py measure --url URL --export DIR --machine FILE --label L
    coverage.py table RESULT.json...          the side-by-side report

Pages are read as a person reads them, from their markup: the parser relies on
cues that outlive a redesign ("sudo apt install <package>", list items in
document order, <section> or <hr> between formats) rather than on class names.
"""

import argparse
import collections
import glob
import html
import http.client
import json
import os
import re
import sys
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))

# An extension as people write it; version suffixes such as libc.so.6's "6"
# are not extensions anyone looks up, so one letter at least.
EXTENSION = re.compile(r"^[a-z0-9][a-z0-9_+-]{0,11}$")
PACKAGE = r"[a-z0-9][a-z0-9.+-]+"
APT_CUE = re.compile(r"sudo\s+apt(?:-get)?\s+install\s+(" + PACKAGE + ")")
PACKAGE_CUES = [
    re.compile(r'data-package="(' + PACKAGE + ')"'),
    re.compile(r"软件包\s*<code>(" + PACKAGE + ")</code>"),
]
DESKTOP_ID = re.compile(r"([A-Za-z0-9_.+-]+\.desktop)\b")
CJK = re.compile(r"[\u3400-\u9fff\uf900-\ufaff]")
# Words of the pages' own chrome around a format's name, not part of it.
CHROME = ("文件格式查询", "文件格式", "扩展名", "可能是以下格式", "本机已安装", "可安装的软件")


# ---------------------------------------------------------------- the lists

def read_list(path):
    """Items of a list file: one a line, '#' starts a comment."""
    items = []
    with open(path, encoding="utf-8") as file:
        for line in file:
            item = line.split("#", 1)[0].strip().lower()
            if item and item not in items:
                items.append(item)
    return items


def read_judged(path):
    rows = []
    with open(path, encoding="utf-8") as file:
        for line in file:
            if not line.strip() or line.startswith("#"):
                continue
            extension, packages, why = line.rstrip("\n").split("\t")
            rows.append({"ext": extension.strip().lower(),
                         "accept": [p.strip() for p in packages.split(",") if p.strip()],
                         "why": why})
    return rows


def read_words(path):
    rows = []
    with open(path, encoding="utf-8") as file:
        for line in file:
            if not line.strip() or line.startswith("#"):
                continue
            word, extensions, why = line.rstrip("\n").split("\t")
            rows.append({"word": word.strip(), "why": why,
                         "accept": [e.strip().lower() for e in extensions.split(",") if e.strip()]})
    return rows


def type_globs(paths):
    """Each type's simple extensions and direct parents, from shared-mime-info
    XML files (the first file to define a type wins, as in the site)."""
    import xml.etree.ElementTree as ET
    ns = "{http://www.freedesktop.org/standards/shared-mime-info}"
    types = {}
    for path in paths:
        try:
            root = ET.parse(path).getroot()
        except (ET.ParseError, OSError):
            continue
        for element in root.iter(ns + "mime-type"):
            name = element.get("type")
            if name in types:
                continue
            extensions = []
            for glob_element in element.iter(ns + "glob"):
                pattern = glob_element.get("pattern", "")
                if pattern.startswith("*.") and re.match(r"^[A-Za-z0-9_+-]+$", pattern[2:]):
                    extensions.append(pattern[2:].lower())
            parents = [p.get("type") for p in element.iter(ns + "sub-class-of")]
            types[name] = {"extensions": list(dict.fromkeys(extensions)), "parents": parents}
    return types


def mime_sources():
    """The site's own table first, then the desktop's definitions."""
    tree = os.path.normpath(os.path.join(HERE, "..", "..", "site", "formats"))
    return ([os.path.join(tree, "quelvix-formats.xml")] +
            sorted(glob.glob("/usr/share/mime/packages/*.xml")))


def machine_extensions(roots, minimum):
    """Extensions of the files under roots, seen at least minimum times."""
    counts = collections.Counter()
    for root in roots:
        for _, _, files in os.walk(root, onerror=lambda error: None):
            for name in files:
                stem, dot, extension = name.lower().lstrip(".").rpartition(".")
                if dot and stem and EXTENSION.match(extension) and re.search("[a-z]", extension):
                    counts[extension] += 1
    return [(e, n) for e, n in counts.most_common() if n >= minimum]


# ------------------------------------------- installed programs to packages

def parse_desktop_file(path):
    names = []
    try:
        with open(path, encoding="utf-8", errors="replace") as file:
            in_entry = False
            for line in file:
                line = line.strip()
                if line.startswith("["):
                    in_entry = line == "[Desktop Entry]"
                elif in_entry and re.match(r"^Name(\[zh(_CN)?\])?\s*=", line):
                    names.append(line.split("=", 1)[1].strip())
    except OSError:
        pass
    return names


def desktop_packages():
    """Desktop ids and program names to the Debian package that ships them,
    wherever the package put its desktop file (Wine keeps its own outside
    the applications folder)."""
    by_id, by_name = {}, {}
    for listing in glob.glob("/var/lib/dpkg/info/*.list"):
        package = os.path.basename(listing)[:-len(".list")].split(":")[0]
        try:
            with open(listing, encoding="utf-8", errors="replace") as file:
                paths = [line.strip() for line in file if line.strip().endswith(".desktop")]
        except OSError:
            continue
        for path in paths:
            if not os.path.isfile(path):
                continue
            by_id.setdefault(os.path.basename(path), package)
            for name in parse_desktop_file(path):
                by_name.setdefault(name.casefold(), package)
    add_catalog_names(by_name)
    return by_id, by_name


def add_catalog_names(by_name):
    """Program names as the catalog gives them (Chinese and English) to their
    package, for programs that count as installed without a desktop file
    here (COVERAGE_DESKTOP). Needs PyYAML; without it, nothing is added."""
    directory = os.environ.get("COVERAGE_CATALOG") or "/var/lib/swcatalog"
    try:
        import gzip
        import yaml
    except ImportError:
        return
    for path in glob.glob(os.path.join(directory, "yaml", "*.yml*")):
        opener = gzip.open if path.endswith(".gz") else open
        with opener(path, "rt", encoding="utf-8") as file:
            for component in yaml.safe_load_all(file):
                if not isinstance(component, dict) or "Package" not in component:
                    continue
                for name in (component.get("Name") or {}).values():
                    by_name.setdefault(str(name).casefold(), component["Package"])


# ----------------------------------------------------------------- the pages

def text_of(fragment):
    return " ".join(html.unescape(re.sub(r"<[^>]*>", " ", fragment)).split())


def program_items(page):
    """The program list items of a page in document order: those of the
    program lists where the page marks them, else every list item."""
    lists = re.findall(r"<ul[^>]*\bapps\b[^>]*>(.*?)</ul>", page, re.S)
    source = "".join(lists) if lists else page
    return re.findall(r"<li\b[^>]*>(.*?)</li>", source, re.S)


def item_name(item):
    first = re.search(r"<p\b[^>]*>(.*?)</p>", item, re.S)
    name = text_of(re.sub(r"<code class=\"cmd\".*?</code>", "", first.group(1) if first else item))
    return re.sub(r"\s*(当前)?默认$", "", name).strip()


def item_packages(item, desktop):
    """The packages a list item stands for, and whether they were read from
    the page itself rather than guessed from the program's name."""
    by_id, by_name = desktop
    found = APT_CUE.findall(item)
    for cue in PACKAGE_CUES:
        found += cue.findall(item)
    if not found:
        found = [by_id[i] for i in DESKTOP_ID.findall(item) if i in by_id]
    if found:
        return list(dict.fromkeys(found)), True
    name = item_name(item)
    if name.casefold() in by_name:
        return [by_name[name.casefold()]], True
    return ["name:" + name], False


def slug(name):
    return re.sub(r"[\s_]+", "-", name.strip().casefold())


def accepted(packages, resolved, accept):
    if resolved:
        return any(p in accept for p in packages)
    # An installed program the package database could not name: its shown
    # name, "LibreOffice Writer" or "Wine 程序加载器", against the package.
    shown = slug(packages[0][len("name:"):])
    return any(shown == a or shown.startswith(a + "-") for a in accept)


def sections(page):
    """One part per format: <section>s where the page has them, else the
    parts between rules."""
    if "<section" in page:
        return re.findall(r"<section\b.*?(?:</section>|$)", page, re.S)
    return re.split(r"<hr\b[^>]*>", page)


def section_of(page, mime_type):
    """The part of a page about one type, found by its MIME name."""
    for section in sections(page):
        if "<code>%s</code>" % html.escape(mime_type) in section:
            return section
    return None


def listed_packages(section, desktop):
    found = set()
    for item in program_items(section):
        packages, resolved = item_packages(item, desktop)
        found.update(packages if resolved else [])
    return found


def advice_agreement(site, desktop, types):
    """Types whose advice names packages the format's full page does not list
    (as installed or to install): the page contradicts itself."""
    path = os.path.normpath(os.path.join(HERE, "..", "..", "site", "formats", "advice.json"))
    with open(path, encoding="utf-8") as file:
        advice = json.load(file)["types"]
    checked, disagree = 0, []
    for mime_type, said in sorted(advice.items()):
        packages = said.get("packages", [])
        extensions = types.get(mime_type, {}).get("extensions", [])
        if not packages or not extensions:
            continue
        status, page = site.get("/soso/%s.htm" % urllib.parse.quote(extensions[0], safe=""))
        section = section_of(page, mime_type) if status == 200 else None
        checked += 1
        missing = [p for p in packages if section is None or p not in listed_packages(section, desktop)]
        if missing:
            disagree.append("%s (.%s): %s" % (mime_type, extensions[0], " ".join(missing)))
    return {"checked": checked, "disagree": disagree}


def text_programs(site, types):
    """Formats that are plain text (a direct subtype of text/plain) whose
    pane lists no program."""
    checked, without = 0, []
    for mime_type, facts in sorted(types.items()):
        if "text/plain" not in facts["parents"] or not facts["extensions"]:
            continue
        extension = facts["extensions"][0]
        status, page = site.get("/filefound/%s.html" % urllib.parse.quote(extension, safe=""))
        section = section_of(page, mime_type) if status == 200 else None
        if section is None:
            continue  # another format of the extension took its page
        checked += 1
        if not program_items(section):
            without.append(extension)
    return {"checked": checked, "without": without}


def word_results(site, words):
    """For each word, the first extension of each of the first three formats
    the search finds, and whether all are everyday meanings of the word."""
    for row in words:
        segment = urllib.parse.quote(row["word"], safe="")
        status, page = site.get("/filefound/%s.html" % segment)
        found = []
        if status == 200:
            for item in re.findall(r"<li\b[^>]*>(.*?)</li>", page, re.S):
                first = re.search(r'href="/filefound/([^"]+)\.html"', item)
                if first:
                    found.append(urllib.parse.unquote(first.group(1)))
        wanted = min(3, len(row["accept"]))
        row["first"] = found[:3]
        row["right"] = bool(found) and all(e in row["accept"] for e in found[:wanted])
    return words


def duplicates(page, desktop):
    """Sections that list a package more than once, and the surplus entries."""
    sections_with, surplus = 0, 0
    for section in sections(page):
        counts = collections.Counter(item_packages(i, desktop)[0][0]
                                     for i in program_items(section))
        extra = sum(n - 1 for n in counts.values() if n > 1)
        sections_with += extra > 0
        surplus += extra
    return sections_with, surplus


def descriptions(compact, full, extension):
    found = []
    heading = re.search(r"<h1\b[^>]*>(.*?)</h1>", compact, re.S)
    if heading:
        small = re.search(r"<small\b[^>]*>(.*?)</small>", heading.group(1), re.S)
        found.append(text_of(small.group(1) if small else heading.group(1)))
    title = re.search(r"<title>(.*?)</title>", compact, re.S)
    if title and "—" in title.group(1):
        found.append(text_of(title.group(1).split("—", 1)[1]))
    for section in re.findall(r"<section\b[^>]*>(.*?)</section>", full, re.S):
        named = re.search(r"<h[2-4]\b[^>]*>(.*?)</h[2-4]>", section, re.S)
        if named:
            found.append(text_of(named.group(1)))
    shown = []
    for text in found:
        text = text.replace("." + extension, " ")
        for word in CHROME:
            text = text.replace(word, " ")
        shown.append(text.strip())
    return shown


def has_chinese(texts):
    return any(CJK.search(t) for t in texts)


# ------------------------------------------------------------- measuring

class Site:
    def __init__(self, url):
        parsed = urllib.parse.urlsplit(url)
        self.host, self.port = parsed.hostname, parsed.port
        self.connection = None

    def get(self, path):
        for attempt in range(2):
            try:
                if self.connection is None:
                    self.connection = http.client.HTTPConnection(self.host, self.port, timeout=60)
                self.connection.request("GET", path)
                response = self.connection.getresponse()
                return response.status, response.read().decode("utf-8", "replace")
            except (http.client.HTTPException, OSError):
                self.connection = None
                if attempt:
                    raise
        raise AssertionError("unreachable")


def look_up(site, extension, desktop):
    segment = urllib.parse.quote(extension, safe="")
    status, compact = site.get("/filefound/%s.html" % segment)
    _, full = site.get("/soso/%s.htm" % segment)
    entry = {"status": status, "chinese": False, "programs": 0, "first": [],
             "dup_sections": 0, "dup_surplus": 0}
    if status != 200:
        return entry
    items = program_items(compact)
    entry["chinese"] = has_chinese(descriptions(compact, full, extension))
    entry["programs"] = len(items)
    entry["first"] = [item_packages(i, desktop) for i in items[:3]]
    for page in (compact, full):
        found, surplus = duplicates(page, desktop)
        entry["dup_sections"] += found
        entry["dup_surplus"] += surplus
    return entry


def scan_export(directory, desktop):
    pages = glob.glob(os.path.join(directory, "soso", "*.htm"))
    sections_with, surplus = 0, 0
    for path in pages:
        with open(path, encoding="utf-8", errors="replace") as file:
            found, extra = duplicates(file.read(), desktop)
        sections_with += found
        surplus += extra
    return {"known": len(pages), "dup_sections": sections_with, "dup_surplus": surplus}


def measure(arguments):
    desktop = desktop_packages()
    lists = {"everyday": read_list(os.path.join(HERE, "everyday.txt")),
             "domestic": read_list(os.path.join(HERE, "domestic.txt"))}
    machine = []
    with open(arguments.machine, encoding="utf-8") as file:
        for line in file:
            extension, count = line.split("\t")
            machine.append((extension, int(count)))
    lists["machine"] = [e for e, _ in machine]
    judged = read_judged(os.path.join(HERE, "judged.tsv"))
    wanted = dict.fromkeys(sum(lists.values(), []) + [row["ext"] for row in judged])
    site = Site(arguments.url)
    pages = {extension: look_up(site, extension, desktop) for extension in wanted}
    for row in judged:
        first = pages[row["ext"]]["first"]
        row["right"] = any(accepted(p, r, row["accept"]) for p, r in first)
        row["right_first"] = bool(first) and accepted(first[0][0], first[0][1], row["accept"])
        row["first"] = [p[0] for p, _ in first]
    types = type_globs(mime_sources())
    result = {"label": arguments.label, "binary": arguments.binary,
              "advice": advice_agreement(site, desktop, types),
              "text": text_programs(site, types),
              "words": word_results(site, read_words(os.path.join(HERE, "words.tsv"))),
              "lists": {name: {e: pages[e] for e in items} for name, items in lists.items()},
              "machine_counts": dict(machine), "judged": judged,
              "dup_sections": sum(p["dup_sections"] for p in pages.values()),
              "dup_surplus": sum(p["dup_surplus"] for p in pages.values()),
              "pages": len(pages) * 2, "export": scan_export(arguments.export, desktop),
              "export_seconds": arguments.export_seconds}
    json.dump(result, sys.stdout, ensure_ascii=False)


# ------------------------------------------------------------- the report

def share(part, whole):
    return "%5.1f %% (%d/%d)" % (100.0 * part / whole if whole else 0, part, whole)


def list_rows(result, name):
    entries = result["lists"][name]
    total = len(entries)
    rows = [("%s: answer 200" % name, share(sum(e["status"] == 200 for e in entries.values()), total)),
            ("%s: Chinese description" % name, share(sum(e["chinese"] for e in entries.values()), total)),
            ("%s: at least one program" % name, share(sum(e["programs"] > 0 for e in entries.values()), total))]
    if name == "machine":
        counts = result["machine_counts"]
        files = sum(counts.values())
        answered = sum(counts[e] for e, v in entries.items() if v["status"] == 200)
        rows.insert(1, ("machine: files whose extension answers", share(answered, files)))
    return rows


def report_rows(result):
    rows = []
    for name in ("everyday", "domestic", "machine"):
        rows += list_rows(result, name)
    judged = result["judged"]
    rows.append(("judged: right program in the first three", share(sum(r["right"] for r in judged), len(judged))))
    rows.append(("judged: right program first", share(sum(r["right_first"] for r in judged), len(judged))))
    advice, text, words = result["advice"], result["text"], result["words"]
    rows.append(("advice names a program the page lacks", share(len(advice["disagree"]), advice["checked"])))
    rows.append(("text formats with a program in the pane", share(text["checked"] - len(text["without"]), text["checked"])))
    rows.append(("words: first three all everyday", share(sum(w["right"] for w in words), len(words))))
    rows.append(("duplicates, looked-up pages: sections (extra)", "%d (%d)" % (
        result["dup_sections"], result["dup_surplus"])))
    export = result["export"]
    rows.append(("duplicates, export soso/*.htm: sections (extra)", "%d (%d)" % (
        export["dup_sections"], export["dup_surplus"])))
    rows.append(("known extensions (soso/*.htm)", "%d" % export["known"]))
    rows.append(("export time", "%.1f s" % result["export_seconds"]))
    return rows


def goals(result):
    def answered(name):
        entries = result["lists"][name].values()
        return sum(e["status"] == 200 for e in entries) / max(1, len(entries))
    judged = result["judged"]
    export = result["export"]
    return [("everyday answers ≥ 90 %", answered("everyday") >= 0.9),
            ("domestic answers ≥ 90 %", answered("domestic") >= 0.9),
            ("judged right ≥ 90 %", sum(r["right"] for r in judged) >= 0.9 * len(judged)),
            ("0 duplicates", result["dup_sections"] == 0 and export["dup_sections"] == 0),
            ("known extensions > 2,400", export["known"] > 2400),
            ("0 pages where advice and list disagree", not result["advice"]["disagree"]),
            ("every text format has a program", not result["text"]["without"]),
            ("≥ 90 % of words: first three everyday",
             sum(w["right"] for w in result["words"]) >= 0.9 * len(result["words"]))]


def print_columns(header, rows, width):
    print("%-48s" % header + "".join("%-*s" % (width, cell) for cell in rows[0][1:]))
    for row in rows[1:]:
        print("%-48s" % row[0] + "".join("%-*s" % (width, cell) for cell in row[1:]))


def table(arguments):
    results = []
    for path in arguments.results:
        with open(path, encoding="utf-8") as file:
            results.append(json.load(file))
    labels = [r["label"] for r in results]
    for result in results:
        print("%s = %s" % (result["label"], result["binary"]))
    lists = results[0]["lists"]
    print("lists: everyday %d, domestic %d, machine %d extensions seen at least %s times;"
          " judged %d formats" % (len(lists["everyday"]), len(lists["domestic"]),
                                  len(lists["machine"]), arguments.min, len(results[0]["judged"])))
    print("looked up: %d pages (compact and full) per binary; a duplicate is a package listed"
          " twice in one format's section" % results[0]["pages"])
    print()
    width = 28
    columns = [report_rows(r) for r in results]
    rows = [[""] + labels] + [[name] + [c[i][1] for c in columns]
                              for i, (name, _) in enumerate(columns[0])]
    print_columns("", rows, width)
    print()
    marks = [goals(r) for r in results]
    goal_rows = [[""] + labels] + [[name] + ["met" if m[i][1] else "NOT met" for m in marks]
                                   for i, (name, _) in enumerate(marks[0])]
    print_columns("Goals", goal_rows, width)
    print()
    print("Judged formats: the pane's first three programs (+ right, - not)")
    lines = []
    for i, row in enumerate(results[0]["judged"]):
        cells = []
        for result in results:
            judged = result["judged"][i]
            first = ", ".join(p.replace("name:", "") for p in judged["first"]) or "(none)"
            cells.append(("+ " if judged["right"] else "- ") + first)
        lines.append((row["ext"], cells))
    widths = [max(len(cells[c]) for _, cells in lines) for c in range(len(results))]
    for extension, cells in lines:
        shown = " | ".join("%-*s" % (w, cell) for w, cell in zip(widths, cells))
        print("  %-8s %s" % (extension, shown.rstrip()))
    print()
    print("Words: the first three formats found (+ all everyday, - not)")
    for i, row in enumerate(results[0]["words"]):
        cells = [("+ " if r["words"][i]["right"] else "- ") + " ".join(r["words"][i]["first"])
                 for r in results]
        print("  %-6s %s" % (row["word"], " | ".join("%-28s" % c for c in cells).rstrip()))
    print()
    for result in results:
        print("%s, advice naming a program its page lacks (%d): %s" % (
            result["label"], len(result["advice"]["disagree"]), "; ".join(result["advice"]["disagree"])))
        print("%s, text formats without a program (%d): %s" % (
            result["label"], len(result["text"]["without"]), " ".join(result["text"]["without"])))
    for result in results:
        for name in ("everyday", "domestic"):
            missing = [e for e, v in result["lists"][name].items() if v["status"] != 200]
            print("%s, %s without an answer (%d): %s" % (
                result["label"], name, len(missing), " ".join(missing)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    machine = commands.add_parser("machine")
    machine.add_argument("--min", type=int, default=10)
    machine.add_argument("roots", nargs="+")
    run = commands.add_parser("measure")
    run.add_argument("--url", required=True)
    run.add_argument("--export", required=True)
    run.add_argument("--export-seconds", type=float, default=0.0)
    run.add_argument("--machine", required=True)
    run.add_argument("--label", required=True)
    run.add_argument("--binary", required=True)
    report = commands.add_parser("table")
    report.add_argument("--min", default="?")
    report.add_argument("results", nargs="+")
    arguments = parser.parse_args()
    if arguments.command == "machine":
        for extension, count in machine_extensions(arguments.roots, arguments.min):
            print("%s\t%d" % (extension, count))
    elif arguments.command == "measure":
        measure(arguments)
    else:
        table(arguments)


if __name__ == "__main__":
    main()
