#include "modules.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>
#include <QStringList>

namespace platform {

std::optional<std::vector<QFunctionPointer>>
moduleFunctions(const QString& fileName, std::initializer_list<const char*> names, QString* error) {
    const QDir appDir(QCoreApplication::applicationDirPath());
    QStringList tried;
    for (const QString& dir :
         {appDir.path(), appDir.filePath(QStringLiteral(QUELVIX_MODULE_DIR))}) {
        // Not unloaded when this object goes: QLibrary leaves that to unload().
        QLibrary module(QDir(dir).filePath(fileName));
        std::vector<QFunctionPointer> found;
        for (const char* name : names) {
            if (QFunctionPointer function = module.resolve(name)) {
                found.push_back(function);
            }
        }
        if (found.size() == names.size()) {
            return found;
        }
        tried.append(module.errorString());
    }
    *error = tried.join(QStringLiteral("; "));
    return std::nullopt;
}

} // namespace platform
