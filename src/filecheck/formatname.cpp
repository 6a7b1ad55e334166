#include "formatname.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

namespace filecheck {
namespace {

QHash<QString, QString> load() {
    QFile file(QStringLiteral(":/formats/advice.json"));
    file.open(QIODevice::ReadOnly);
    const QJsonObject types =
        QJsonDocument::fromJson(file.readAll()).object().value(QLatin1String("types")).toObject();
    QHash<QString, QString> names;
    for (auto entry = types.begin(); entry != types.end(); ++entry) {
        const QString name =
            entry.value().toObject().value(QLatin1String("description")).toString();
        if (!name.isEmpty()) {
            names.insert(entry.key(), name);
        }
    }
    return names;
}

} // namespace

QString formatName(const QMimeType& type) {
    static const QHash<QString, QString> renamed = load();
    // The data may name the type by an alias.
    for (const QString& name : QStringList{type.name()} + type.aliases()) {
        if (const auto found = renamed.constFind(name); found != renamed.cend()) {
            return *found;
        }
    }
    return type.comment();
}

} // namespace filecheck
