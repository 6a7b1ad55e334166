#pragma once

#include "messenger.h"
#include "processstarter.h"
#include "registry.h"

#include <QString>

class QWidget;

// Finds the system information tool through the registry and starts it.
namespace sysinfo {

struct Services {
    platform::Registry& registry;
    platform::ProcessStarter& processes;
    platform::Messenger& messenger;
};

// Reads one value as text into KeyVal: REG_SZ as its text without the
// terminating NUL, REG_DWORD as "&h" and eight capital hex digits; any other
// type leaves KeyVal as it was. False, with KeyVal emptied, when the key or
// value cannot be read (also when the value exceeds 1024 bytes).
bool GetKeyValue(platform::Registry& registry, platform::Registry::Key KeyRoot,
                 const QString& KeyName, const QString& SubKeyRef, QString& KeyVal);

// Starts the tool named by the first registry location, unchecked, or else the
// MSINFO32.EXE found in the folder named by the second; shows "此时系统信息不可用"
// when neither works.
void StartSysInfo(const Services& services, QWidget* parent);

} // namespace sysinfo
