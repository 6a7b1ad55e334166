#include "formatname.h"

#include "builtin.h"

#include <QHash>

namespace filecheck {
namespace {

QHash<QString, QString> load() {
    const QJsonObject types = builtin::document(QStringLiteral(":/formats/advice.json"))
                                  .value(QLatin1String("types"))
                                  .toObject();
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
