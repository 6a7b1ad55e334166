#include "icoreader.h"

#include <QtEndian>

namespace {

quint16 u16(const QByteArray& data, qsizetype at) {
    return qFromLittleEndian<quint16>(data.constData() + at);
}
quint32 u32(const QByteArray& data, qsizetype at) {
    return qFromLittleEndian<quint32>(data.constData() + at);
}

} // namespace

QList<IcoImage> readIcoDirectory(const QByteArray& file) {
    if (file.size() < 6 || u16(file, 0) != 0 || u16(file, 2) != 1) {
        return {};
    }
    const int count = u16(file, 4);
    if (file.size() < 6 + 16 * count) {
        return {};
    }
    QList<IcoImage> images;
    for (int i = 0; i < count; ++i) {
        const qsizetype entry = 6 + 16 * i;
        IcoImage image;
        image.width = quint8(file[entry]) ? quint8(file[entry]) : 256;
        image.height = quint8(file[entry + 1]) ? quint8(file[entry + 1]) : 256;
        image.bitsPerPixel = u16(file, entry + 6);
        const quint32 size = u32(file, entry + 8);
        const quint32 offset = u32(file, entry + 12);
        if (qsizetype(offset) + qsizetype(size) > file.size() || size < 40) {
            return {};
        }
        const QByteArray data = file.mid(offset, size);
        image.png = data.startsWith("\x89PNG\r\n\x1a\n");
        if (!image.png) {
            // A DIB: its header must agree with the entry (height counts the mask too).
            if (int(u32(data, 4)) != image.width || int(u32(data, 8)) != 2 * image.height ||
                u16(data, 14) != image.bitsPerPixel) {
                return {};
            }
        }
        images.append(image);
    }
    return images;
}
