#include "addresses.h"
#include "lookup.h"

#include <QTest>

class TestLookup : public QObject {
    Q_OBJECT

private slots:
    void encoding_data();
    void encoding();
    void addressesKeepTheirShape_data();
    void addressesKeepTheirShape();
    void longTextRoundTrips();
    void httpsRootsKeepTheirScheme();
};

void TestLookup::encoding_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("segment");

    QTest::newRow("plain extension") << "exe"
                                     << "exe";
    QTest::newRow("leading dot kept") << ".exe"
                                      << ".exe";
    QTest::newRow("case kept") << "EXE"
                               << "EXE";
    QTest::newRow("multi-dot") << "tar.gz"
                               << "tar.gz";
    QTest::newRow("unreserved marks") << "a-b_c~d"
                                      << "a-b_c~d";
    QTest::newRow("one blank") << " "
                               << "%20";
    QTest::newRow("double quote") << "a\"b"
                                  << "a%22b";
    QTest::newRow("apostrophe") << "a'b"
                                << "a%27b";
    QTest::newRow("slash") << "../etc/passwd"
                           << "..%2Fetc%2Fpasswd";
    QTest::newRow("question mark") << "exe?x=1"
                                   << "exe%3Fx%3D1";
    QTest::newRow("hash") << "exe#top"
                          << "exe%23top";
    QTest::newRow("percent") << "%41"
                             << "%2541";
    QTest::newRow("backslash") << "a\\b"
                               << "a%5Cb";
    QTest::newRow("at and colon") << "u:p@h"
                                  << "u%3Ap%40h";
    QTest::newRow("angle brackets") << "<script>"
                                    << "%3Cscript%3E";
    QTest::newRow("plus and ampersand") << "c++&"
                                        << "c%2B%2B%26";
    QTest::newRow("control characters") << QString("a\tb\r\n") << "a%09b%0D%0A";
    QTest::newRow("CJK") << "文档"
                         << "%E6%96%87%E6%A1%A3";
    QTest::newRow("full-width dot") << "。exe"
                                    << "%E3%80%82exe";
    QTest::newRow("emoji") << QString::fromUtf8("\xF0\x9F\x98\x80") << "%F0%9F%98%80";
    QTest::newRow("lone high surrogate") << QString::fromUtf16(u"a\xD800"
                                                               "b")
                                         << "a%EF%BF%BDb";
    QTest::newRow("lone low surrogate at end") << QString::fromUtf16(u"a\xDC00") << "a%EF%BF%BD";
    QTest::newRow("surrogates reversed")
        << QString::fromUtf16(u"\xDC00\xD800") << "%EF%BF%BD%EF%BF%BD";
    QTest::newRow("NUL") << QString(QChar(0)) << "%00";
}

void TestLookup::encoding() {
    QFETCH(QString, text);
    QFETCH(QString, segment);
    QCOMPARE(addresses::encodeSegment(text), segment);
}

void TestLookup::addressesKeepTheirShape_data() {
    encoding_data();
}

void TestLookup::addressesKeepTheirShape() {
    QFETCH(QString, text);
    QFETCH(QString, segment);
    const QString site = QStringLiteral("http://127.0.0.1:27380");

    const QUrl embedded = lookup::embeddedAddress(site, text);
    QVERIFY2(embedded.isValid(), qPrintable(embedded.errorString()));
    QCOMPARE(embedded.toString(QUrl::FullyEncoded), site + "/filefound/" + segment + ".html");
    QCOMPARE(embedded.host(), QStringLiteral("127.0.0.1"));
    QCOMPARE(embedded.port(), 27380);
    QVERIFY(!embedded.hasQuery());
    QVERIFY(!embedded.hasFragment());
    QVERIFY(embedded.userInfo().isEmpty());

    const QUrl external = lookup::externalAddress(site, text);
    QCOMPARE(external.toString(QUrl::FullyEncoded), site + "/soso/" + segment + ".htm");
    QVERIFY(!external.hasQuery());
    QVERIFY(!external.hasFragment());
    // The Windows command line quotes the address: no quote may be left in it.
    QVERIFY(!external.toString(QUrl::FullyEncoded).contains(QLatin1Char('"')));
}

void TestLookup::longTextRoundTrips() {
    QString text;
    for (int i = 0; i < 100000; ++i) {
        text.append(i % 3 == 0 ? QChar(u'格') : QChar(u'a' + i % 26));
    }
    const QString segment = addresses::encodeSegment(text);
    QCOMPARE(QString::fromUtf8(QByteArray::fromPercentEncoding(segment.toLatin1())), text);

    const QUrl url = lookup::embeddedAddress(QStringLiteral("http://h"), text);
    QCOMPARE(url.toString(QUrl::FullyEncoded).size(), 19 + segment.size() + 5);
}

// A public lookup site is usually served over TLS.
void TestLookup::httpsRootsKeepTheirScheme() {
    const QString site = QStringLiteral("https://lookup.example.org");
    QCOMPARE(lookup::embeddedAddress(site, u"pdf").toString(),
             QStringLiteral("https://lookup.example.org/filefound/pdf.html"));
    QCOMPARE(lookup::externalAddress(site, u"文档").toString(QUrl::FullyEncoded),
             QStringLiteral("https://lookup.example.org/soso/%E6%96%87%E6%A1%A3.htm"));
    QCOMPARE(lookup::forumAddress(site).toString(), QStringLiteral("https://lookup.example.org/"));
}

QTEST_APPLESS_MAIN(TestLookup)
#include "tst_lookup.moc"
