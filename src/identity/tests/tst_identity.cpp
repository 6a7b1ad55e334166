#include "identity.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QTest>
#include <fontconfig/fontconfig.h>

namespace {

// What fontconfig says about drawing the laid-out face at 12 px: the face and
// every setting that changes its pixels.
QString renderingIn(FcConfig* config) {
    FcPattern* pattern =
        FcNameParse(reinterpret_cast<const FcChar8*>("Noto Sans Mono CJK SC:pixelsize=12"));
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    FcObjectSet* settings =
        FcObjectSetBuild(FC_FILE, FC_INDEX, FC_ANTIALIAS, FC_HINTING, FC_HINT_STYLE, FC_AUTOHINT,
                         FC_RGBA, FC_LCD_FILTER, FC_EMBOLDEN, FC_EMBEDDED_BITMAP, nullptr);
    FcPattern* drawn = match ? FcPatternFilter(match, settings) : nullptr;
    FcChar8* text = drawn ? FcNameUnparse(drawn) : nullptr;
    const QString rendering = text ? QString::fromUtf8(reinterpret_cast<char*>(text)) : QString();
    FcStrFree(text);
    for (FcPattern* p : {drawn, match, pattern}) {
        if (p) {
            FcPatternDestroy(p);
        }
    }
    FcObjectSetDestroy(settings);
    return rendering;
}

// The files of the fonts the current configuration offers.
QStringList currentFontFiles() {
    FcPattern* all = FcPatternCreate();
    FcObjectSet* fileOnly = FcObjectSetBuild(FC_FILE, nullptr);
    FcFontSet* fonts = FcFontList(nullptr, all, fileOnly);
    QStringList files;
    for (int i = 0; fonts && i < fonts->nfont; ++i) {
        FcChar8* file = nullptr;
        if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) == FcResultMatch) {
            files << QString::fromUtf8(reinterpret_cast<char*>(file));
        }
    }
    if (fonts) {
        FcFontSetDestroy(fonts);
    }
    FcObjectSetDestroy(fileOnly);
    FcPatternDestroy(all);
    return files;
}

bool allIn(const QStringList& files, const QString& dir) {
    return std::all_of(files.begin(), files.end(),
                       [&](const QString& file) { return QFileInfo(file).absolutePath() == dir; });
}

} // namespace

class TestIdentity : public QObject {
    Q_OBJECT

private slots:
    // First, before anything lays out text: narrowed as the app narrows its
    // fonts at start, so that the tests after them see what the app sees.
    void narrowingWithoutTheFaceChangesNothing_data();
    void narrowingWithoutTheFaceChangesNothing();
    void narrowedFontsDrawAsTheSystemDoes();
    void iconHasEverySize();
    void dialogFontHasTheLaidOutWidths_data();
    void dialogFontHasTheLaidOutWidths();
    void languageIsSimplifiedChinese();
    void chineseFamily_data();
    void chineseFamily();
    void wideningGivesBackEveryFont();
};

void TestIdentity::narrowingWithoutTheFaceChangesNothing_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("configFile");
    QTest::newRow("face not installed") << "/nonexistent/NotoSansCJK-Regular.ttc" << QByteArray();
    QTest::newRow("a configuration file of the user's")
        << identity::laidOutFontFile() << QByteArray("/etc/fonts/fonts.conf");
}

void TestIdentity::narrowingWithoutTheFaceChangesNothing() {
    QFETCH(QString, file);
    QFETCH(QByteArray, configFile);
    if (!configFile.isEmpty()) {
        qputenv("FONTCONFIG_FILE", configFile);
    }
    FcConfig* before = FcConfigGetCurrent();
    const bool narrowed = identity::narrowFontsTo(file);
    qunsetenv("FONTCONFIG_FILE");
    QVERIFY(!narrowed);
    QCOMPARE(FcConfigGetCurrent(), before);
}

void TestIdentity::narrowedFontsDrawAsTheSystemDoes() {
    const QString file = identity::laidOutFontFile();
    if (!QFileInfo(file).isFile()) {
        QSKIP("the face the windows were laid out for is not installed here");
    }
    FcConfig* system = FcInitLoadConfigAndFonts();
    const QString bySystem = renderingIn(system);
    FcConfigDestroy(system);

    QVERIFY(identity::narrowFontsTo(file));
    QCOMPARE(renderingIn(FcConfigGetCurrent()), bySystem);
    QVERIFY(bySystem.contains(file));
    QVERIFY(allIn(currentFontFiles(), QFileInfo(file).absolutePath()));
}

void TestIdentity::wideningGivesBackEveryFont() {
    const QString dir = QFileInfo(identity::laidOutFontFile()).absolutePath();
    FcConfig* system = FcInitLoadConfigAndFonts();
    FcConfigSetCurrent(system);
    const QStringList installed = currentFontFiles();
    if (allIn(installed, dir)) {
        QSKIP("every installed font is beside the laid-out face here");
    }
    if (!identity::narrowFontsTo(identity::laidOutFontFile())) {
        QSKIP("the face the windows were laid out for is not installed here");
    }
    identity::widenFonts();
    FcConfigDestroy(system);
    QCOMPARE(currentFontFiles().size(), installed.size());
}

void TestIdentity::iconHasEverySize() {
    const QList<QSize> sizes = identity::applicationIcon().availableSizes();
    for (int size : {16, 24, 32, 48, 64, 72, 96, 128}) {
        QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
        const QPixmap pixmap = identity::applicationIcon().pixmap(size);
        QCOMPARE(pixmap.size(), QSize(size, size));
    }
}

void TestIdentity::dialogFontHasTheLaidOutWidths_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");

    QTest::newRow("CJK character") << "查" << 12;
    QTest::newRow("full-width colon") << "：" << 12;
    QTest::newRow("curly quote") << "“" << 12;
    QTest::newRow("ASCII letter") << "w" << 6;
    QTest::newRow("blank") << " " << 6;
    QTest::newRow("digit") << "7" << 6;
}

void TestIdentity::dialogFontHasTheLaidOutWidths() {
    QFETCH(QString, text);
    QFETCH(int, width);
    const QFont font = identity::dialogFont();
    QCOMPARE(QFontInfo(font).family(), QStringLiteral("Noto Sans Mono CJK SC"));
    QCOMPARE(QFontMetrics(font).horizontalAdvance(text), width);
}

void TestIdentity::chineseFamily_data() {
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("the face laid out for, wherever it is in the list")
        << QStringList{"AR PL UMing", "Noto Sans Mono CJK SC"} << "Noto Sans Mono CJK SC";
    QTest::newRow("without it, fontconfig's first")
        << QStringList{"AR PL UMing", "WenQuanYi"} << "AR PL UMing";
    QTest::newRow("none at all") << QStringList{} << QString();
}

void TestIdentity::chineseFamily() {
    QFETCH(QStringList, installed);
    QFETCH(QString, chosen);
    QCOMPARE(identity::chineseFamily(installed), chosen);
}

void TestIdentity::languageIsSimplifiedChinese() {
    identity::applyLanguage(*qApp);
    QCOMPARE(QLocale().name(), QStringLiteral("zh_CN"));
    QCOMPARE(QApplication::font().pixelSize(), 12);
    // Qt's own dialog texts come from its translations.
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "OK"), QStringLiteral("确定"));
}

QTEST_MAIN(TestIdentity)
#include "tst_identity.moc"
