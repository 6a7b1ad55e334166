#include "testhttpserver.h"

#include <QTcpSocket>

TestHttpServer::TestHttpServer(QObject* parent)
    : QObject(parent) {
    if (!m_server.listen(QHostAddress::LocalHost, 0)) {
        qFatal("test HTTP server cannot listen: %s", qPrintable(m_server.errorString()));
    }
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QString TestHttpServer::root() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
}

void TestHttpServer::serve(QTcpSocket* socket) {
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    if (!buffer.contains("\r\n\r\n")) {
        socket->setProperty("buffer", buffer);
        return;
    }
    const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
    const QByteArray target = requestLine.value(1);
    m_targets.append(target);

    const QByteArray escaped = QString::fromLatin1(target).toHtmlEscaped().toLatin1();
    const QByteArray body = m_pages.value(
        target, "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>page " + escaped +
                    "</title></head><body><p>" + escaped + "</p></body></html>");
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
    emit requested(target);
}
