#include "policy.h"

#include <QTest>

using http::Field;

// The site's rules for who may ask, tried on requests alone.
class TestSitePolicy : public QObject {
    Q_OBJECT

private slots:
    void refusal_data();
    void refusal();
};

namespace {

constexpr int port = 47200;

http::Request get(QList<Field> headers, const QByteArray& method = "GET",
                  const QByteArray& path = "/filefound/pdf.html") {
    return {method, path, {}, std::move(headers)};
}

} // namespace

void TestSitePolicy::refusal_data() {
    QTest::addColumn<http::Request>("request");
    QTest::addColumn<bool>("isPublic");
    QTest::addColumn<int>("status"); // 0: answered
    QTest::addColumn<bool>("closes");

    const Field host{"Host", "127.0.0.1:47200"};
    QTest::newRow("own host") << get({host}) << false << 0 << false;
    QTest::newRow("localhost by name") << get({{"Host", "localhost:47200"}}) << false << 0 << false;
    QTest::newRow("rebound domain")
        << get({{"Host", "evil.example:47200"}}) << false << 421 << false;
    QTest::newRow("another port") << get({{"Host", "127.0.0.1:47201"}}) << false << 421 << false;
    QTest::newRow("public site, any host")
        << get({{"Host", "quelvix.example"}}) << true << 0 << false;
    QTest::newRow("link from another site") << get({host,
                                                    {"Sec-Fetch-Site", "cross-site"},
                                                    {"Sec-Fetch-Mode", "navigate"},
                                                    {"Sec-Fetch-Dest", "document"}})
                                            << false << 0 << false;
    QTest::newRow("framed by another site") << get({host,
                                                    {"Sec-Fetch-Site", "cross-site"},
                                                    {"Sec-Fetch-Mode", "navigate"},
                                                    {"Sec-Fetch-Dest", "iframe"}})
                                            << false << 403 << false;
    QTest::newRow("another site's script")
        << get({host, {"Sec-Fetch-Site", "cross-site"}, {"Sec-Fetch-Mode", "cors"}}) << false << 403
        << false;
    QTest::newRow("foreign origin, no fetch headers")
        << get({host, {"Origin", "http://evil.example"}}) << false << 403 << false;
    QTest::newRow("own origin") << get({host, {"Origin", "http://127.0.0.1:47200"}}) << false << 0
                                << false;
    // On loopback every port is the same site: a page another program serves
    // on this machine is another site's page.
    QTest::newRow("image for a page on another loopback port")
        << get({host,
                {"Sec-Fetch-Site", "same-site"},
                {"Sec-Fetch-Mode", "no-cors"},
                {"Sec-Fetch-Dest", "image"}},
               "GET", "/icons/program/org.example.Viewer.png")
        << false << 403 << false;
    QTest::newRow("framed by a page on another loopback port")
        << get({host,
                {"Sec-Fetch-Site", "same-site"},
                {"Sec-Fetch-Mode", "navigate"},
                {"Sec-Fetch-Dest", "iframe"}})
        << false << 403 << false;
    QTest::newRow("two hosts, ours first")
        << get({host, {"Host", "evil.example"}}) << false << 400 << false;
    QTest::newRow("two hosts, public site")
        << get({{"Host", "quelvix.example"}, {"Host", "evil.example"}}) << true << 400 << false;
    QTest::newRow("post") << get({host}, "POST") << false << 405 << true;
    QTest::newRow("two lengths") << get({host, {"Content-Length", "1"}, {"Content-Length", "2"}})
                                 << false << 400 << true;
    QTest::newRow("length beside chunking")
        << get({host, {"Content-Length", "1"}, {"Transfer-Encoding", "chunked"}}) << false << 400
        << true;
    QTest::newRow("unknown coding")
        << get({host, {"Transfer-Encoding", "gzip"}}) << false << 501 << true;
    QTest::newRow("blank before colon") << get({host, {"Host ", "x"}}) << false << 400 << true;
    QTest::newRow("overlong target")
        << get({host}, "GET", "/filefound/" + QByteArray(policy::maxTargetLength, 'a') + ".html")
        << false << 414 << false;
}

void TestSitePolicy::refusal() {
    QFETCH(http::Request, request);
    QFETCH(bool, isPublic);
    QFETCH(int, status);
    QFETCH(bool, closes);

    const std::optional<http::Response> refused = policy::refusal(request, port, isPublic);
    QCOMPARE(refused ? refused->status : 0, status);
    if (refused) {
        QCOMPARE(refused->closeConnection, closes);
        QCOMPARE(refused->status == 405, !refused->headers.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestSitePolicy)
#include "tst_site_policy.moc"
