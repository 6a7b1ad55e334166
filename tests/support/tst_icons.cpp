#include "icoreader.h"

#include <QFile>
#include <QTest>

using Layout = QList<std::tuple<int, int, bool>>; // size, bits per pixel, PNG
Q_DECLARE_METATYPE(Layout)

class TestIcons : public QObject {
    Q_OBJECT

private slots:
    void iconFiles_data();
    void iconFiles();
    void rejectsWhatIsNoIcon();
};

void TestIcons::iconFiles_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<Layout>("layout");

    QTest::newRow("application icon")
        << "data/icons/quelvix.ico"
        << Layout{{16, 8, false},  {16, 32, false}, {24, 8, false},  {24, 32, false},
                  {32, 8, false},  {32, 32, false}, {48, 8, false},  {48, 32, false},
                  {64, 32, false}, {72, 32, false}, {96, 32, false}, {128, 32, false}};
    QTest::newRow("About picture")
        << "data/icons/about.ico"
        << Layout{{48, 4, false},  {32, 4, false}, {16, 4, false},  {48, 8, false},
                  {32, 8, false},  {16, 8, false}, {256, 32, true}, {48, 32, false},
                  {32, 32, false}, {16, 32, false}};
}

void TestIcons::iconFiles() {
    QFETCH(QString, file);
    QFETCH(Layout, layout);

    QFile ico(QStringLiteral(QUELVIX_SOURCE_DIR "/") + file);
    QVERIFY(ico.open(QIODevice::ReadOnly));
    const QList<IcoImage> images = readIcoDirectory(ico.readAll());
    QCOMPARE(images.size(), layout.size());
    for (qsizetype i = 0; i < images.size(); ++i) {
        const auto [size, bits, png] = layout[i];
        QCOMPARE(images[i].width, size);
        QCOMPARE(images[i].height, size);
        QCOMPARE(images[i].bitsPerPixel, bits);
        QCOMPARE(images[i].png, png);
    }
}

void TestIcons::rejectsWhatIsNoIcon() {
    QVERIFY(readIcoDirectory(QByteArray()).isEmpty());
    QVERIFY(readIcoDirectory(QByteArray("\x89PNG\r\n\x1a\n", 8)).isEmpty());
    // A directory that promises an image lying past the end of the file.
    QByteArray truncated("\0\0\1\0\1\0\x10\x10\0\0\1\0\x20\0\xff\0\0\0\x16\0\0\0", 22);
    QVERIFY(readIcoDirectory(truncated).isEmpty());
}

QTEST_APPLESS_MAIN(TestIcons)
#include "tst_icons.moc"
