// The cell-grid line breaker: every character is placed once, in order,
// inside the width, a surrogate pair never split; only blanks may be left out.
#include "cellgrid.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    // The width from the first two bytes, from one CJK cell to a wide window.
    const int width = 12 + (data[0] | data[1] << 8) % 1000;
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));
    const QList<cellgrid::Line> lines = cellgrid::layOut(text, width);
    qsizetype next = 0;
    for (qsizetype l = 0; l < lines.size(); ++l) {
        check(lines[l].top == l * cellgrid::lineHeight);
        int x = 0;
        for (const cellgrid::Cell& cell : lines[l].cells) {
            check(cell.index >= next && cell.index + cell.length <= text.size());
            check(!text[cell.index].isLowSurrogate() || cell.index == 0 ||
                  !text[cell.index - 1].isHighSurrogate());
            for (qsizetype skipped = next; skipped < cell.index; ++skipped) {
                check(text[skipped] == QLatin1Char(' '));
            }
            check(cell.x == x && cell.width == cellgrid::cellWidth(text[cell.index]));
            check(cell.x + cell.width <= width);
            x += cell.width;
            next = cell.index + cell.length;
        }
    }
    for (; next < text.size(); ++next) {
        check(text[next] == QLatin1Char(' '));
    }
    return 0;
}
