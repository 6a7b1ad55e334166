#!/usr/bin/python3
"""Splits an .ico file into the raw resources of a Windows icon group: one
RT_ICON per image, numbered from FIRST_ID in the file's order, and the
RT_GROUP_ICON directory that names them. (windres would number the images
from 1 by itself.)

    ico-resources.py ICO_FILE OUT_DIR FIRST_ID

Writes OUT_DIR/icon-<id>.bin for each image and OUT_DIR/icon-group.bin.
"""
import struct
import sys
from pathlib import Path


def main():
    ico, out, first_id = Path(sys.argv[1]), Path(sys.argv[2]), int(sys.argv[3])
    data = ico.read_bytes()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        sys.exit(f"{ico}: not an icon file")
    out.mkdir(parents=True, exist_ok=True)
    group = struct.pack("<HHH", 0, 1, count)
    for i in range(count):
        width, height, colors, res, planes, bits, size, offset = struct.unpack_from(
            "<BBBBHHII", data, 6 + 16 * i)
        (out / f"icon-{first_id + i}.bin").write_bytes(data[offset:offset + size])
        group += struct.pack("<BBBBHHIH", width, height, colors, res, planes, bits, size,
                             first_id + i)
    (out / "icon-group.bin").write_bytes(group)


if __name__ == "__main__":
    main()
