#include "builtin.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <cstdio>

namespace builtin {

QJsonObject document(const QString& resource) {
    QFile file(resource);
    QJsonParseError error{};
    const QJsonDocument parsed = file.open(QIODevice::ReadOnly)
                                     ? QJsonDocument::fromJson(file.readAll(), &error)
                                     : QJsonDocument();
    if (!parsed.isObject()) {
        std::fprintf(stderr, "%s: %s is unreadable: %s\n",
                     qUtf8Printable(QCoreApplication::applicationName()), qPrintable(resource),
                     qPrintable(file.isOpen() ? error.errorString() : file.errorString()));
        return {};
    }
    return parsed.object();
}

QStringList strings(const QJsonValue& value) {
    QStringList list;
    for (const QJsonValue& item : value.toArray()) {
        list << item.toString();
    }
    return list;
}

} // namespace builtin
