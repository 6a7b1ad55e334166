#include "advice.h"

#include "builtin.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>

namespace advice {
namespace {

struct Data {
    QHash<QString, Advice> types;
    QHash<QString, Tool> tools;
    QHash<QString, int> commonness;
};

// Tiers a thousand apart, a type's place within its tier below that.
constexpr int tierSize = 1000;
constexpr int unnamed = 2 * tierSize;

QHash<QString, int> ranksOf(const QJsonObject& table) {
    QHash<QString, int> ranks;
    const QStringList tiers = {QStringLiteral("everyday"), QStringLiteral("common"),
                               QStringLiteral("unnamed"), QStringLiteral("rare")};
    for (qsizetype tier = 0; tier < tiers.size(); ++tier) {
        const QStringList types = builtin::strings(table.value(tiers[tier]));
        for (qsizetype at = 0; at < types.size() && at < tierSize; ++at) {
            ranks.insert(types[at], int(tier * tierSize + at));
        }
    }
    return ranks;
}

Advice adviceOf(const QJsonObject& entry) {
    return {entry.value(QLatin1String("maker")).toString(),
            entry.value(QLatin1String("open")).toString(),
            entry.value(QLatin1String("linux")).toBool(true),
            builtin::strings(entry.value(QLatin1String("keywords"))),
            builtin::strings(entry.value(QLatin1String("packages")))};
}

Data parse(const QJsonObject& root) {
    Data data;
    const QJsonObject types = root.value(QLatin1String("types")).toObject();
    for (auto entry = types.begin(); entry != types.end(); ++entry) {
        data.types.insert(entry.key(), adviceOf(entry.value().toObject()));
    }
    data.commonness = ranksOf(root.value(QLatin1String("commonness")).toObject());
    const QJsonObject tools = root.value(QLatin1String("tools")).toObject();
    for (auto entry = tools.begin(); entry != tools.end(); ++entry) {
        const QJsonObject tool = entry.value().toObject();
        data.tools.insert(entry.key(), {tool.value(QLatin1String("name")).toString(),
                                        tool.value(QLatin1String("line")).toString()});
    }
    return data;
}

Data load() {
    return parse(builtin::document(QStringLiteral(":/formats/advice.json")));
}

const Data& data() {
    static const Data loaded = load();
    return loaded;
}

} // namespace

Advice about(const QMimeType& type) {
    for (const QString& name : QStringList{type.name()} + type.aliases()) {
        const auto found = data().types.constFind(name);
        if (found != data().types.cend()) {
            return *found;
        }
    }
    return {};
}

Tool tool(const QString& package) {
    return data().tools.value(package);
}

int commonness(const QString& type) {
    return data().commonness.value(type, unnamed);
}

int commonness(const QStringList& names) {
    int rank = unnamed;
    for (const QString& name : names) {
        rank = std::min(rank, commonness(name));
    }
    return rank;
}

QStringList packagesNamed() {
    QStringList named;
    for (const Advice& said : data().types) {
        named += said.packages;
    }
    named.removeDuplicates();
    named.sort();
    return named;
}

QList<std::pair<QString, QStringList>> keywords() {
    QList<std::pair<QString, QStringList>> all;
    for (auto entry = data().types.cbegin(); entry != data().types.cend(); ++entry) {
        if (!entry->keywords.isEmpty()) {
            all.append({entry.key(), entry->keywords});
        }
    }
    return all;
}

} // namespace advice
