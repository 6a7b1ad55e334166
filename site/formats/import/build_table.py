#!/usr/bin/env python3
"""Writes the site's own format table, site/formats/quelvix-formats.xml.

It merges, in this order of precedence:
  1. site/formats/domestic.xml, written by hand;
  2. the types of mime-db (npm "mime-db", MIT) and of Debian's media-types
     (/etc/mime.types) that described.json gives an English and a Chinese
     comment, with the extensions those two lists know for them;
  3. the languages of linguist-languages (npm "linguist-languages", MIT), as
     "<language> source code".
Only what the desktop's MIME database does not know is added: no type it
has (by name or alias) is defined again, and an imported extension it already
matches is left out. An extension a higher source claims is left to it.

The npm packages are read where npm installed them, outside the tree, at the
versions package.json pins; regenerate.sh does both steps:
    sh site/formats/import/regenerate.sh
The output depends only on its inputs, so running it twice gives the same file.
"""

import argparse
import json
import re
import sys
import xml.etree.ElementTree as ET
from pathlib import Path
from xml.sax.saxutils import escape, quoteattr

NS = "{http://www.freedesktop.org/standards/shared-mime-info}"
LANG = "{http://www.w3.org/XML/1998/namespace}lang"
HERE = Path(__file__).resolve().parent
FORMATS = HERE.parent

# Languages left out: their extensions mean something else to most people, or
# another source names them better.
SKIPPED_LANGUAGES = {
    "Text",  # .fr, .nb, .no: not what a desktop user has
    "INI",  # domestic.xml has INI and configuration files
    "Checksums",  # domestic.xml has checksum lists
    "Public Key",  # .asc, .pub: the desktop's database names these
    "Wavefront Object",  # .obj is a 3D model to the desktop already
    "Wavefront Material",
    "Binary",
}

# Extensions the desktop's database knows for another format, where the
# language is what a person most often means too: both are listed.
ALSO_WHERE_KNOWN = {"TypeScript": {"ts"}, "Prolog": {"pl"}}

# Extensions a hand-written format takes for what most people mean, where the
# language is still what some mean: both are listed, the hand-written first
# (meanings.json says the order).
ALSO_WHERE_HAND_WRITTEN = {"Alloy": {"als"}, "Wolfram Language": {"ma"}}

# Languages whose English name would stand untranslated in a Chinese line
# ("Java Server Pages 源代码"): what a Chinese developer calls them.
CHINESE_NAMES = {
    "Answer Set Programming": "回答集编程（ASP）源代码",
    "Apollo Guidance Computer": "阿波罗制导计算机汇编源代码",
    "Common Workflow Language": "通用工作流语言（CWL）文件",
    "Debian Package Control": "Debian 软件包控制文件",
    "DIGITAL Command Language": "DCL 命令脚本",
    "Edje Data Collection": "Edje 界面数据文件",
    "Fortran Free Form": "Fortran 源代码（自由格式）",
    "Gradle Kotlin DSL": "Gradle 构建脚本（Kotlin）",
    "Groovy Server Pages": "Groovy 服务器页面（GSP）",
    "ImHex Pattern Language": "ImHex 模式语言源代码",
    "Java Server Pages": "JSP 网页（Java 服务器页面）",
    "Java Template Engine": "Java 模板引擎（JTE）模板",
    "JSON with Comments": "带注释的 JSON 文件",
    "KiCad Legacy Layout": "KiCad 旧版电路板布局文件",
    "Mathematical Programming System": "MPS 数学规划模型文件",
    "Microsoft Developer Studio Project": "Visual C++ 6 项目文件",
    "Microsoft Visual Studio Solution": "Visual Studio 解决方案文件",
    "Module Management System": "MMS 构建脚本",
    "Object Data Instance Notation": "ODIN 数据文件",
    "Open Policy Agent": "OPA 策略源代码",
    "OpenStep Property List": "OpenStep 属性列表文件",
    "Parrot Internal Representation": "Parrot 虚拟机中间代码（PIR）",
    "Protocol Buffer Text Format": "Protocol Buffers 文本格式数据",
    "Quartus Simulation IP": "Quartus 仿真 IP 文件",
    "Unified Parallel C": "UPC 并行 C 源代码",
    "Untyped Plutus Core": "Plutus Core 源代码（无类型）",
    "Valve Data Format": "Valve 数据文件（VDF）",
    "Velocity Template Language": "Velocity 模板",
    "WebAssembly Interface Type": "WebAssembly 接口类型文件",
    "XML Property List": "XML 属性列表文件（plist）",
}

KIND = {
    "programming": ("{} source code", "{} 源代码"),
    "markup": ("{} source code", "{} 源代码"),
    "data": ("{} file", "{} 文件"),
    "prose": ("{} document", "{} 文档"),
}


def simple_extension(pattern):
    """The extension of a "*.ext" glob, or None for any other pattern."""
    if pattern.startswith("*.") and not re.search(r"[*?\[\]]", pattern[2:]):
        return pattern[2:].lower()
    return None


class Type:
    def __init__(self, name, english, chinese, source):
        self.name = name
        self.english = english
        self.chinese = chinese
        self.source = source
        self.parents = []
        self.aliases = []
        self.globs = []
        self.magic = []  # ElementTree elements, written as they are

    def extensions(self):
        return {e for e in map(simple_extension, self.globs) if e}


def read_system(path):
    """Its type names (an alias maps to its type), their English comments and
    the extensions it matches."""
    root = ET.parse(path).getroot()
    names, comments, extensions = {}, {}, {}
    for mime in root.iter(NS + "mime-type"):
        names[mime.get("type").lower()] = mime.get("type")
        english = [c.text for c in mime.findall(NS + "comment") if c.get(LANG) is None]
        comments[mime.get("type")] = english[0] if english else ""
        names.update((a.get("type").lower(), mime.get("type")) for a in mime.iter(NS + "alias"))
        for glob in mime.iter(NS + "glob"):
            extension = simple_extension(glob.get("pattern"))
            if extension:
                extensions.setdefault(extension, []).append((mime.get("type"), glob))
    return names, comments, extensions


def read_hand_written(path):
    types = []
    for mime in ET.parse(path).getroot().iter(NS + "mime-type"):
        comments = {c.get(LANG): c.text for c in mime.findall(NS + "comment")}
        entry = Type(mime.get("type"), comments.get(None), comments.get("zh_CN"), "domestic")
        entry.parents = [p.get("type") for p in mime.findall(NS + "sub-class-of")]
        entry.aliases = [a.get("type") for a in mime.findall(NS + "alias")]
        entry.globs = [g.get("pattern") for g in mime.findall(NS + "glob")]
        entry.magic = mime.findall(NS + "magic")
        types.append(entry)
    return types


def read_mime_db(path):
    """Extensions by type, from mime-db's db.json."""
    found = {}
    for name, fields in json.loads(Path(path).read_text(encoding="utf-8")).items():
        for extension in fields.get("extensions", []):
            found.setdefault(name.lower(), []).append(extension.lower())
    return found


def read_mime_types(path):
    """Extensions by type, from a mime.types file."""
    found = {}
    for line in Path(path).read_text(encoding="utf-8").splitlines():
        words = line.split("#", 1)[0].split()
        if len(words) > 1:
            found.setdefault(words[0].lower(), []).extend(w.lower() for w in words[1:])
    return found


def js_strings(text):
    return re.findall(r"'([^']*)'|\"([^\"]*)\"", text)


def read_languages(directory):
    """(name, kind, extensions, editor MIME type) of every language.

    Each data/<Name>.js is one flat object literal; only its name, type,
    extensions and codemirrorMimeType are read."""
    languages = []
    for path in sorted(Path(directory).glob("*.js")):
        text = path.read_text(encoding="utf-8")
        name = re.search(r"^  name: (?:'([^']*)'|\"([^\"]*)\"),$", text, re.M)
        kind = re.search(r"^  type: '(\w+)',$", text, re.M)
        if not name or not kind:
            sys.exit(f"{path}: no name or type")
        listed = re.search(r"^  extensions: \[(.*?)\],$", text, re.M | re.S)
        extensions = [a or b for a, b in js_strings(listed.group(1))] if listed else []
        editor = re.search(r"^  codemirrorMimeType: '([^']*)',$", text, re.M)
        languages.append(
            (
                name.group(1) or name.group(2),
                kind.group(1),
                [e[1:].lower() for e in extensions if e.startswith(".")],
                editor.group(1).lower() if editor else None,
            )
        )
    return languages


def slug(name):
    text = name.lower().replace("+", "p").replace("#", "sharp").replace("*", "star")
    return re.sub(r"[^a-z0-9]+", "-", text).strip("-")


def same_language(name, editor, system_names, system_comments):
    """The desktop's type for this language, if it has one.

    The editor's MIME type only names an editing mode (AGS Script is edited
    as C++), so it counts only where the desktop's comment names the language."""
    own = "text/x-" + slug(name)
    if own in system_names:
        return system_names[own]
    if editor in system_names:
        known = system_names[editor]
        pattern = r"(^|\s)" + re.escape(name.lower()) + r"(\s|$)"
        if re.search(pattern, system_comments[known].lower()):
            return known
    return None


def language_types(languages, system, claimed, taken):
    system_names, system_comments, system_extensions = system
    types = []
    for name, kind, extensions, editor in languages:
        if name in SKIPPED_LANGUAGES or kind not in KIND:
            continue
        also = ALSO_WHERE_KNOWN.get(name, set())
        shared = ALSO_WHERE_HAND_WRITTEN.get(name, set())
        new = [
            e
            for e in dict.fromkeys(extensions)
            if (e not in claimed or e in shared) and (e not in system_extensions or e in also)
        ]
        if not new:
            continue
        english, chinese = KIND[kind]
        if name.lower().endswith(" file"):  # "Debian Package Control File"
            english, chinese, name = "{} file", "{} 文件", name[: -len(" file")]
        chinese = CHINESE_NAMES.get(name, chinese.format(name))
        entry = Type("text/x-" + slug(name), english.format(name), chinese, "linguist")
        # The desktop may know the language by this name: then these are more
        # of its files, and whatever opens the language opens them.
        known = same_language(name, editor, system_names, system_comments)
        if known or entry.name in system_names or entry.name in taken:
            entry.name += "-source"
        entry.parents = [known or "text/plain"]
        entry.globs = ["*." + e for e in new]
        types.append(entry)
    return types


def described_types(descriptions, sources, system_names, system_extensions, claimed):
    types = []
    for name in sorted(descriptions):
        if name.lower() in system_names:
            sys.exit(f"described.json: {name} is the desktop's own type")
        extensions = []
        for source in sources:
            extensions += source.get(name.lower(), [])
        new = [
            e for e in dict.fromkeys(extensions) if e not in system_extensions and e not in claimed
        ]
        if not new:
            continue
        text = descriptions[name]
        entry = Type(name, text["en"], text["zh_CN"], "mime-db, media-types")
        entry.parents = text.get("parents", [])
        entry.globs = ["*." + e for e in new]
        types.append(entry)
    return types


def check(types, system_names):
    seen = set()
    for entry in types:
        lowered = entry.name.lower()
        if lowered in system_names:
            sys.exit(f"{entry.name} ({entry.source}) is the desktop's own type")
        if lowered in seen:
            sys.exit(f"{entry.name} is defined twice")
        if not entry.english or not entry.chinese or not entry.globs:
            sys.exit(f"{entry.name} lacks a comment or a glob")
        seen.add(lowered)
    for entry in types:
        for parent in entry.parents:
            if parent.lower() not in seen and parent.lower() not in system_names:
                sys.exit(f"{entry.name}: unknown parent {parent}")


def shared_globs(types, system_extensions):
    """The desktop's own globs for the extensions this table shares with it.

    A program reading several MIME folders stops at the first folder whose
    cache matches a file name's extension, so the desktop's types for these
    would not be found behind ours. The table repeats those globs, and the
    build removes the XML files of these types from its output again, so that
    everything else about them still comes from the desktop's database."""
    shared = set().union(*(t.extensions() for t in types)) & set(system_extensions)
    stubs = {}
    for extension in sorted(shared):
        for name, glob in system_extensions[extension]:
            stubs.setdefault(name, []).append(glob)
    return stubs


def check_advice(path, meanings_path, types, system):
    """Every type the advice names exists, and every extension's order of
    meanings names only formats that extension has."""
    system_names, _, system_extensions = system
    own = {t.name.lower(): t for t in types}
    advice = json.loads(Path(path).read_text(encoding="utf-8"))
    meanings = json.loads(Path(meanings_path).read_text(encoding="utf-8"))
    problems = [
        f"advice for unknown type {name}"
        for name in advice["types"]
        if name.lower() not in own and name.lower() not in system_names
    ]
    for extension, order in meanings["extensions"].items():
        having = {t.name.lower() for t in types if extension in t.extensions()}
        having |= {n.lower() for n, _ in system_extensions.get(extension, [])}
        problems += [f".{extension} has no format {n}" for n in order if n.lower() not in having]
    if problems:
        sys.exit("advice.json, meanings.json:\n  " + "\n  ".join(problems))


def magic_xml(element, indent):
    attributes = "".join(f" {k}={quoteattr(v)}" for k, v in sorted(element.attrib.items()))
    tag = element.tag.replace(NS, "")
    children = list(element)
    if not children:
        return f"{indent}<{tag}{attributes}/>\n"
    inner = "".join(magic_xml(child, indent + "  ") for child in children)
    return f"{indent}<{tag}{attributes}>\n{inner}{indent}</{tag}>\n"


def package_version(directory):
    return json.loads((directory / "package.json").read_text(encoding="utf-8"))["version"]


def write(types, stubs, sources, path):
    out = [
        '<?xml version="1.0" encoding="UTF-8"?>\n',
        "<!-- Generated by site/formats/import/build_table.py; edit domestic.xml,\n"
        "     import/described.json or the script, not this file.\n"
        f"     From {sources}. -->\n",
        '<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">\n',
    ]
    for entry in types:
        out.append(f"  <mime-type type={quoteattr(entry.name)}>\n")
        out.append(f"    <comment>{escape(entry.english)}</comment>\n")
        out.append(f'    <comment xml:lang="zh_CN">{escape(entry.chinese)}</comment>\n')
        out += [f"    <alias type={quoteattr(a)}/>\n" for a in entry.aliases]
        out += [f"    <sub-class-of type={quoteattr(p)}/>\n" for p in entry.parents]
        out += [magic_xml(m, "    ") for m in entry.magic]
        out += [f"    <glob pattern={quoteattr(g)}/>\n" for g in entry.globs]
        out.append("  </mime-type>\n")
    if stubs:
        out.append("  <!-- The desktop's types for the extensions shared with it: their globs only. -->\n")
    for name in sorted(stubs):
        out.append(f"  <mime-type type={quoteattr(name)}>\n")
        for glob in stubs[name]:
            out.append(f"    <glob{''.join(f' {k}={quoteattr(v)}' for k, v in sorted(glob.attrib.items()))}/>\n")
        out.append("  </mime-type>\n")
    out.append("</mime-info>\n")
    Path(path).write_text("".join(out), encoding="utf-8")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--npm", required=True, help="node_modules holding the two packages")
    parser.add_argument(
        "--system", default="/usr/share/mime/packages/freedesktop.org.xml",
        help="the desktop's MIME database, whose types are not repeated")
    parser.add_argument("--mime-types", default="/etc/mime.types")
    parser.add_argument("--out", default=str(FORMATS / "quelvix-formats.xml"))
    args = parser.parse_args()

    system = read_system(args.system)
    system_names, _, system_extensions = system
    hand = read_hand_written(FORMATS / "domestic.xml")
    claimed = set().union(*(t.extensions() for t in hand))
    descriptions = json.loads((HERE / "described.json").read_text(encoding="utf-8"))
    descriptions.pop("comment", None)
    npm = Path(args.npm)
    described = described_types(
        descriptions,
        [read_mime_db(npm / "mime-db/db.json"), read_mime_types(args.mime_types)],
        system_names, system_extensions, claimed)
    claimed |= set().union(*(t.extensions() for t in described))
    taken = {t.name.lower() for t in hand + described}
    languages = language_types(
        read_languages(npm / "linguist-languages/data"), system, claimed, taken)
    types = hand + described + sorted(languages, key=lambda t: t.name)
    check(types, system_names)
    check_advice(FORMATS / "advice.json", FORMATS / "meanings.json", types, system)
    stubs = shared_globs(types, system_extensions)
    sources = ", ".join(
        f"{name} {package_version(npm / name)}" for name in ("linguist-languages", "mime-db"))
    # Which desktop database the table was made against: what it leaves out.
    version = Path(args.system).parent.parent / "version"
    if version.is_file():
        sources += ", against shared-mime-info " + version.read_text(encoding="utf-8").strip()
    write(types, stubs, sources, args.out)
    # The build deletes these types' XML files from the compiled table.
    Path(args.out).with_suffix(".shared").write_text(
        "".join(name + "\n" for name in sorted(stubs)), encoding="utf-8")
    for source in ("domestic", "mime-db, media-types", "linguist"):
        chosen = [t for t in types if t.source == source]
        count = len(set().union(*(t.extensions() for t in chosen))) if chosen else 0
        print(f"{source}: {len(chosen)} types, {count} extensions")


if __name__ == "__main__":
    main()
