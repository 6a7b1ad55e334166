#pragma once

#include <QByteArray>
#include <QList>

// One image of an .ico file's directory, as its entry and its data say.
struct IcoImage {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    bool png = false;
};

// The images of an .ico file in directory order; empty when it is no icon
// file or an entry's data lies outside the file or contradicts its entry.
QList<IcoImage> readIcoDirectory(const QByteArray& file);
