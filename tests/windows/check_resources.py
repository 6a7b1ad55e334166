#!/usr/bin/python3
"""Reads the resources back from a built executable with pefile and checks
them against the definition: the version record field by field, the icon
group and its twelve images byte for byte against the icon file, and the
manifest.

    check_resources.py EXE ICO VERSION
"""
import struct
import sys
import xml.etree.ElementTree as ET

import pefile

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
failures = 0


def check(condition, what):
    global failures
    print(f"{'ok' if condition else 'FAIL'}: {what}")
    failures += 0 if condition else 1


def resources(pe):
    """(type, id, language) -> bytes"""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for lang in name.directory.entries:
                data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                found[(kind.id, name.id, lang.id)] = data
    return found


def ico_images(path):
    data = open(path, "rb").read()
    _, _, count = struct.unpack_from("<HHH", data, 0)
    images = []
    for i in range(count):
        w, h, _, _, _, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        images.append((w or 256, h or 256, bits, data[offset:offset + size]))
    return images


def main():
    exe, ico, version = sys.argv[1], sys.argv[2], sys.argv[3]
    major, minor, patch = (int(p) for p in version.split("."))
    pe = pefile.PE(exe)
    found = resources(pe)

    # The version record: id 1, language 2052.
    check((RT_VERSION, 1, 2052) in found, "version record id 1, language 2052")
    fixed = pe.VS_FIXEDFILEINFO[0]
    ms, ls = (major << 16) | minor, patch << 16
    check((fixed.FileVersionMS, fixed.FileVersionLS) == (ms, ls), f"FILEVERSION {version}.0")
    check((fixed.ProductVersionMS, fixed.ProductVersionLS) == (ms, ls),
          f"PRODUCTVERSION {version}.0")
    check((fixed.FileFlagsMask, fixed.FileFlags) == (0, 0), "FILEFLAGSMASK and FILEFLAGS 0")
    check(fixed.FileOS == 4, "FILEOS VOS__WINDOWS32 (4)")
    check((fixed.FileType, fixed.FileSubtype) == (1, 0), "FILETYPE VFT_APP (1), FILESUBTYPE 0")
    tables = {}
    translations = []
    for info in pe.FileInfo[0]:
        for entry in getattr(info, "StringTable", []):
            tables[entry.LangID.decode().upper()] = {k.decode(): v.decode("utf-8")
                                                     for k, v in entry.entries.items()}
        for var in getattr(info, "Var", []):
            translations.append(var.entry.get(b"Translation"))
    check(list(tables) == ["080404B0"], "one string table, block 080404B0")
    strings = tables.get("080404B0", {})
    expected = {"CompanyName": "Zorv电子科技", "ProductName": "Dornavel",
                "FileVersion": f"{major}.{minor:02d}", "ProductVersion": f"{major}.{minor:02d}",
                "InternalName": "Quelvix", "OriginalFilename": "Quelvix.exe"}
    for key, value in expected.items():
        check(strings.get(key) == value, f"{key} is \"{value}\" ({strings.get(key)!r})")
    check(translations == ["0x0804 0x04b0"], f"Translation 0x0804, 0x04B0 ({translations})")

    # The icon group: id 1, twelve images 30001 to 30012 in the file's order.
    images = ico_images(ico)
    check(len(images) == 12, "the icon file has twelve images")
    group = next((v for (t, i, _), v in found.items() if t == RT_GROUP_ICON and i == 1), None)
    check(group is not None, "icon group id 1")
    if group:
        _, _, count = struct.unpack_from("<HHH", group, 0)
        check(count == 12, "the group lists twelve images")
        for n in range(count):
            w, h, _, _, _, bits, size, nid = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * n)
            iw, ih, ibits, ibytes = images[n]
            image = next((v for (t, i, _), v in found.items() if t == RT_ICON and i == nid), None)
            check(nid == 30001 + n and (w or 256, h or 256, bits) == (iw, ih, ibits) and
                  image == ibytes and size == len(ibytes),
                  f"image {n + 1}: RT_ICON {nid}, {iw}x{ih} at {ibits} bits, byte-identical")

    # The manifest: id 1, neutral language.
    manifest = found.get((RT_MANIFEST, 1, 0))
    check(manifest is not None, "manifest id 1, neutral language")
    if manifest:
        ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3"}
        root = ET.fromstring(manifest)
        check(root.get("manifestVersion") == "1.0", "manifestVersion 1.0")
        ident = root.find("v1:assemblyIdentity", ns)
        check(ident is not None and ident.get("type") == "win32" and
              ident.get("version") == "1.0.0.0" and ident.get("processorArchitecture") == "*",
              "assemblyIdentity win32, 1.0.0.0, *")
        dep = root.find("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", ns)
        check(dep is not None and dep.attrib == {
            "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
            "publicKeyToken": "6595b64144ccf1df", "language": "*",
            "processorArchitecture": "*"}, "the common-controls 6 dependency")
        level = root.find(".//v3:requestedExecutionLevel", ns)
        check(level is not None and level.get("level") == "asInvoker", "asInvoker")
        awareness = root.find(".//{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
                              "dpiAwareness")
        check(awareness is not None and awareness.text == "PerMonitorV2",
              "per-monitor DPI awareness v2")
    print(f"{failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
