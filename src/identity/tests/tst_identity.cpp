#include "identity.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QTest>

class TestIdentity : public QObject {
    Q_OBJECT

private slots:
    void iconHasEverySize();
    void dialogFontHasTheLaidOutWidths_data();
    void dialogFontHasTheLaidOutWidths();
    void languageIsSimplifiedChinese();
    void chineseFamily_data();
    void chineseFamily();
};

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
