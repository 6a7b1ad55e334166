#pragma once

#include <QString>
#include <functional>
#include <memory>

// Installing a program's package through the system's package service, so
// the desktop asks for the password (polkit) and the app never runs a
// command. Nothing is said to be installed unless the service said so.
namespace platform {

enum class InstallEnd { Done, Cancelled, Failed };

struct InstallWatch {
    // percent is -1 while unknown; status is a short Chinese line.
    std::function<void(int percent, const QString& status)> progress;
    // Once per request; why, in Chinese, when it is not Done.
    std::function<void(InstallEnd end, const QString& reason)> finished;
};

// One request at a time; a request while one runs is refused through
// finished().
class Installer {
public:
    virtual ~Installer() = default;
    virtual void installPackage(const QString& package) = 0;
    // A package file on disk (.deb).
    virtual void installFile(const QString& path) = 0;
    virtual void removePackage(const QString& package) = 0;
    // Asks the service to stop; finished() says whether it did.
    virtual void cancel() = 0;
};

// Null where this system has no package service to ask.
std::unique_ptr<Installer> makeInstaller(InstallWatch watch);

// What to tell the person where nothing can install: the command.
QString installCommand(const QString& package);

} // namespace platform
