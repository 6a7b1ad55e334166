#pragma once

#include "icons.h"
#include "memo.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

// What GIO says of the installed programs that open a type, kept per type
// until the programs or the types change: asking GIO costs more than the
// rest of a page together.
namespace installed {

struct App {
    QString id; // the desktop entry's id
    QString name;
    QString description;
    QString iconFile;
    QStringList types;   // what it declares
    QList<int> families; // of each of its types, as ranking tells them
    QList<bool> formats; // whether each of its types is a format
    QStringList categories;
};

struct ForType {
    bool hasDefault = false; // the first of the apps is the default
    QList<App> apps;         // every other one that declares the type, in GIO's order
};

// Kept per type until the programs, the types or the icon themes change.
class Programs {
public:
    explicit Programs(const icons::Themes& themes);
    Programs(const Programs&) = delete;
    Programs& operator=(const Programs&) = delete;

    std::shared_ptr<const ForType> forType(const QString& type);
    // Whether a desktop entry of that id is installed where GIO looks.
    bool hasDesktopEntry(const QString& desktopId);
    void forget();

private:
    const icons::Themes& m_themes;
    Memo<QString, std::shared_ptr<const ForType>> m_types;
    Memo<QString, bool> m_entries;
};

} // namespace installed
