#include "meanings.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace filecheck {
namespace {

QHash<QString, QStringList> load() {
    QFile file(QStringLiteral(":/formats/meanings.json"));
    file.open(QIODevice::ReadOnly);
    const QJsonObject extensions = QJsonDocument::fromJson(file.readAll())
                                       .object()
                                       .value(QLatin1String("extensions"))
                                       .toObject();
    QHash<QString, QStringList> order;
    for (auto entry = extensions.begin(); entry != extensions.end(); ++entry) {
        QStringList types;
        for (const QJsonValue& type : entry.value().toArray()) {
            types << type.toString();
        }
        order.insert(entry.key().toCaseFolded(), types);
    }
    return order;
}

} // namespace

QStringList meaningsOf(const QString& extension) {
    static const QHash<QString, QStringList> order = load();
    return order.value(extension.toCaseFolded());
}

QStringList inOrderOfMeaning(const QString& extension, const QStringList& types) {
    QStringList ordered;
    for (const QString& meant : meaningsOf(extension)) {
        if (types.contains(meant)) {
            ordered << meant;
        }
    }
    for (const QString& type : types) {
        if (!ordered.contains(type)) {
            ordered << type;
        }
    }
    return ordered;
}

} // namespace filecheck
