#include "sysinfo.h"

#include <QFileInfo>
#include <algorithm>
#include <array>

namespace sysinfo {
namespace {

using platform::Registry;

const QString pathKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString pathValue = QStringLiteral("PATH");
const QString folderKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
const QString folderValue = QStringLiteral("MSINFO");
const QString toolFileName = QStringLiteral("\\MSINFO32.EXE");
const QString unavailableMessage = QStringLiteral("此时系统信息不可用");

constexpr std::uint32_t valueBufferSize = 1024;

QString dwordText(const unsigned char* data) {
    const std::uint32_t value = std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 |
                                std::uint32_t(data[2]) << 16 | std::uint32_t(data[3]) << 24;
    return QStringLiteral("&h") +
           QString::number(value, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

QString stringText(const unsigned char* data, std::uint32_t size) {
    const auto* bytes = reinterpret_cast<const char*>(data);
    // Up to the terminating NUL; data that fills the buffer without one is taken whole.
    const auto length = qstrnlen(bytes, size);
    return QString::fromLocal8Bit(bytes, qsizetype(length));
}

// The tool file exists as an ordinary file.
bool toolExists(const QString& path) {
    return QFileInfo(path).isFile();
}

} // namespace

bool GetKeyValue(Registry& registry, Registry::Key KeyRoot, const QString& KeyName,
                 const QString& SubKeyRef, QString& KeyVal) {
    Registry::Key key = 0;
    // Reading is all that is needed: asking for write access as well would
    // fail for every user without administrator rights.
    if (registry.openKey(KeyRoot, KeyName.toLocal8Bit(), 0, Registry::keyRead, &key) !=
        Registry::success) {
        KeyVal.clear();
        return false;
    }

    std::array<unsigned char, valueBufferSize> buffer{};
    std::uint32_t size = valueBufferSize;
    std::uint32_t type = 0;
    if (registry.queryValue(key, SubKeyRef.toLocal8Bit(), &type, buffer.data(), &size) !=
        Registry::success) {
        KeyVal.clear();
        registry.closeKey(key);
        return false;
    }

    if (type == Registry::typeString) {
        KeyVal = stringText(buffer.data(), std::min(size, valueBufferSize));
    } else if (type == Registry::typeDword && size >= 4) {
        KeyVal = dwordText(buffer.data());
    }
    registry.closeKey(key);
    return true;
}

void StartSysInfo(const Services& services, QWidget* parent) {
    QString path;
    bool found = GetKeyValue(services.registry, Registry::localMachine, pathKey, pathValue, path);
    if (!found &&
        GetKeyValue(services.registry, Registry::localMachine, folderKey, folderValue, path)) {
        // Only this second location is checked before the start.
        path += toolFileName;
        found = toolExists(path);
    }
    if (found && !services.processes.start(path, platform::ShowWindow::Normal)) {
        return;
    }
    services.messenger.show(parent, {unavailableMessage, {}, platform::MessageIcon::None});
}

} // namespace sysinfo
