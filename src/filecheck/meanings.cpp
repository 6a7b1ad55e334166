#include "meanings.h"

#include "builtin.h"

#include <QHash>

namespace filecheck {
namespace {

QHash<QString, QStringList> load() {
    const QJsonObject extensions = builtin::document(QStringLiteral(":/formats/meanings.json"))
                                       .value(QLatin1String("extensions"))
                                       .toObject();
    QHash<QString, QStringList> order;
    for (auto entry = extensions.begin(); entry != extensions.end(); ++entry) {
        order.insert(entry.key().toCaseFolded(), builtin::strings(entry.value()));
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
