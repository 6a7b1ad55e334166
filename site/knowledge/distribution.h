#pragma once

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>

// What the distribution's package manager knows, read offline from its own
// files: apt's package lists (QUELVIX_APT_LISTS names another folder of
// them) and dpkg's status (QUELVIX_DPKG_STATUS another file). Missing or
// unreadable files mean nothing is known, never an error.
namespace distribution {

// For each package, how many of the distribution's desktops ship it: what
// their desktop tasks and the metapackages under them depend on or
// recommend.
QHash<QString, int> desktopChoices();

// The package lists desktopChoices() reads, to be watched for change.
QStringList packageLists();

// Every package apt's lists name.
QSet<QString> listedPackages();

// The packages dpkg has installed; its status file is read again whenever it
// changed.
class Installed {
public:
    std::shared_ptr<const QSet<QString>> packages();

private:
    QMutex m_lock;
    QList<qint64> m_stamp;
    std::shared_ptr<const QSet<QString>> m_packages;
};

} // namespace distribution
