// One lookup as the app makes it: the local site seen to (and started when
// nothing answers), then the page fetched whole, for bench/site.sh.
//     bench_lookup ADDRESS
// prints "<site ready ms> <page ms>", both from the start of the lookup; the
// site is the quelvix-site found on PATH.
#include "localsite.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_lookup ADDRESS\n");
        return 2;
    }
    const QUrl address(QString::fromLocal8Bit(argv[1]));
    platform::LocalSite site;
    QTcpSocket socket;
    QByteArray reply;
    qint64 ready = -1;
    QElapsedTimer clock;
    QObject::connect(&socket, &QTcpSocket::connected, [&] {
        socket.write("GET " + address.path().toUtf8() + " HTTP/1.1\r\nHost: " +
                     address.authority().toUtf8() + "\r\nConnection: close\r\n\r\n");
    });
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { reply += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, [&] {
        const bool ok = reply.startsWith("HTTP/1.1 200");
        std::printf("%.3f %.3f\n", ready / 1e6, clock.nsecsElapsed() / 1e6);
        app.exit(ok ? 0 : 1);
    });
    QObject::connect(&socket, &QTcpSocket::errorOccurred, [&](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError) {
            std::fprintf(stderr, "bench_lookup: %s\n", qPrintable(socket.errorString()));
            app.exit(1);
        }
    });
    clock.start();
    site.whenReady(address, [&](const platform::SiteAnswer& answer) {
        ready = clock.nsecsElapsed();
        if (answer.problem != platform::SiteProblem::None) {
            std::fprintf(stderr, "bench_lookup: %s\n", qPrintable(answer.what));
            app.exit(1);
            return;
        }
        socket.connectToHost(answer.address.host(), quint16(answer.address.port()));
    });
    return app.exec();
}
