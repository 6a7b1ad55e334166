#include "registry.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <cstring>
#include <map>

namespace platform {
namespace {

// Linux has no registry. The two places the launcher looks are answered from
// the system itself:
// - "SOFTWARE\Microsoft\Shared Tools\MSINFO", value "PATH": the full path of
//   the first installed system information program of the list below, found
//   on PATH; the key is missing when none is installed.
// - "SOFTWARE\Microsoft\Shared Tools Location", value "MSINFO": always
//   missing. It names a folder holding MSINFO32.EXE, which Linux never has.
// Every other key is missing too.
const QStringList systemInformationPrograms = {
    QStringLiteral("hardinfo2"),
    QStringLiteral("hardinfo"),
    QStringLiteral("kinfocenter"),
    QStringLiteral("gnome-system-monitor"),
};

const QByteArray msinfoKey = QByteArrayLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");

QString installedSystemInformationProgram() {
    for (const QString& program : systemInformationPrograms) {
        const QString path = QStandardPaths::findExecutable(program);
        if (!path.isEmpty()) {
            return path;
        }
    }
    return {};
}

class LinuxRegistry final : public Registry {
public:
    long openKey(Key root, const QByteArray& path, std::uint32_t, std::uint32_t,
                 Key* opened) override {
        if (root != localMachine || path.compare(msinfoKey, Qt::CaseInsensitive) != 0) {
            return fileNotFound;
        }
        const QString program = installedSystemInformationProgram();
        if (program.isEmpty()) {
            return fileNotFound;
        }
        const Key key = m_nextKey++;
        m_open[key] = program.toLocal8Bit();
        *opened = key;
        return success;
    }

    long queryValue(Key key, const QByteArray& name, std::uint32_t* type, unsigned char* data,
                    std::uint32_t* size) override {
        const auto it = m_open.find(key);
        if (it == m_open.end()) {
            return fileNotFound;
        }
        if (name.compare("PATH", Qt::CaseInsensitive) != 0) {
            return fileNotFound;
        }
        const QByteArray value = it->second + '\0';
        const auto needed = std::uint32_t(value.size());
        *type = typeString;
        if (needed > *size) {
            *size = needed;
            return moreData;
        }
        std::memcpy(data, value.constData(), needed);
        *size = needed;
        return success;
    }

    long closeKey(Key key) override { return m_open.erase(key) ? success : fileNotFound; }

private:
    std::map<Key, QByteArray> m_open;
    Key m_nextKey = 1;
};

} // namespace

std::unique_ptr<Registry> makeRegistry() {
    return std::make_unique<LinuxRegistry>();
}

} // namespace platform
