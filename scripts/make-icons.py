#!/usr/bin/python3
"""Renders the icon SVG sources and packs them into PNGs and .ico files.

The outputs are committed, so a build needs none of the drawing tools this
script uses (rsvg-convert from librsvg2-bin, Pillow from python3-pil).

    scripts/make-icons.py
"""
import io
import struct
import subprocess
import sys
from pathlib import Path

from PIL import Image

ROOT = Path(__file__).resolve().parent.parent
ICONS = ROOT / "data" / "icons"

# (size, bits per pixel), in the order the icon directory lists them.
APP_ICON = [(16, 8), (16, 32), (24, 8), (24, 32), (32, 8), (32, 32),
            (48, 8), (48, 32), (64, 32), (72, 32), (96, 32), (128, 32)]
HICOLOR_SIZES = [16, 24, 32, 48, 64, 72, 96, 128, 256]


def render(svg: Path, size: int) -> Image.Image:
    png = subprocess.run(["rsvg-convert", "-w", str(size), "-h", str(size), str(svg)],
                         check=True, capture_output=True).stdout
    return Image.open(io.BytesIO(png)).convert("RGBA")


def and_mask(image: Image.Image) -> bytes:
    """1 bpp transparency mask, bottom-up, rows padded to 32 bits."""
    width, height = image.size
    stride = ((width + 31) // 32) * 4
    alpha = image.getchannel("A")
    rows = []
    for y in reversed(range(height)):
        row = bytearray(stride)
        for x in range(width):
            if alpha.getpixel((x, y)) < 128:
                row[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
    return b"".join(rows)


def dib(image: Image.Image, bpp: int) -> bytes:
    """An icon image as a DIB: header, palette, bottom-up pixels, AND mask."""
    width, height = image.size
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, bpp, 0, 0, 0, 0, 0, 0)
    if bpp == 32:
        pixels = b"".join(
            bytes((b, g, r, a))
            for y in reversed(range(height))
            for (r, g, b, a) in (image.getpixel((x, y)) for x in range(width)))
        return header + pixels + and_mask(image)
    colours = 1 << bpp
    # Transparent pixels are masked out, so they are quantized against white.
    flat = Image.new("RGB", image.size, (255, 255, 255))
    flat.paste(image, mask=image.getchannel("A"))
    indexed = flat.quantize(colors=colours, method=Image.Quantize.MEDIANCUT)
    palette = indexed.getpalette()[: colours * 3]
    palette += [0] * (colours * 3 - len(palette))
    table = b"".join(bytes((palette[i * 3 + 2], palette[i * 3 + 1], palette[i * 3], 0))
                     for i in range(colours))
    per_byte = 8 // bpp
    stride = ((width * bpp + 31) // 32) * 4
    rows = []
    for y in reversed(range(height)):
        row = bytearray(stride)
        for x in range(width):
            index = indexed.getpixel((x, y))
            shift = (per_byte - 1 - x % per_byte) * bpp
            row[x // per_byte] |= index << shift
        rows.append(bytes(row))
    return header + table + b"".join(rows) + and_mask(image)


def png_bytes(image: Image.Image) -> bytes:
    out = io.BytesIO()
    image.save(out, format="PNG", optimize=True)
    return out.getvalue()


def pack_ico(images):
    """images: list of (size, bpp, data) -> bytes of an .ico file."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for size, bpp, data in images:
        dim = 0 if size >= 256 else size
        palette = (1 << bpp) if bpp < 8 else 0
        entries += struct.pack("<BBBBHHII", dim, dim, palette & 0xFF, 0, 1, bpp, len(data), offset)
        blobs += data
        offset += len(data)
    return directory + entries + blobs


def build_ico(svg: Path, layout, png_at=()):
    images = []
    for size, bpp in layout:
        image = render(svg, size)
        data = png_bytes(image) if size in png_at else dib(image, bpp)
        images.append((size, bpp, data))
    return pack_ico(images)


def main() -> int:
    app_svg = ICONS / "quelvix.svg"
    for size in HICOLOR_SIZES:
        (ICONS / f"quelvix-{size}.png").write_bytes(png_bytes(render(app_svg, size)))
    (ICONS / "quelvix.ico").write_bytes(build_ico(app_svg, APP_ICON))

    about_svg = ICONS / "about.svg"
    if about_svg.exists():
        about = [(48, 4), (32, 4), (16, 4), (48, 8), (32, 8), (16, 8),
                 (256, 32), (48, 32), (32, 32), (16, 32)]
        (ICONS / "about.ico").write_bytes(build_ico(about_svg, about, png_at=(256,)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
