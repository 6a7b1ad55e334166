#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>

// A real HTTP server on 127.0.0.1 with a port of the system's choosing. It
// answers every GET with a small page whose title is the request target (or
// with a page set for that target), and records the targets exactly as they
// arrived on the wire.
class TestHttpServer final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TestHttpServer)

public:
    explicit TestHttpServer(QObject* parent = nullptr);

    QString root() const; // "http://127.0.0.1:PORT"
    QList<QByteArray> targets() const { return m_targets; }
    bool wasRequested(const QByteArray& target) const { return m_targets.contains(target); }
    void setPage(const QByteArray& target, const QByteArray& html) { m_pages[target] = html; }

signals:
    void requested(const QByteArray& target);

private:
    void serve(class QTcpSocket* socket);

    QTcpServer m_server;
    QList<QByteArray> m_targets;
    QHash<QByteArray, QByteArray> m_pages;
};
