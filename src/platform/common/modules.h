#pragma once

#include <QFunctionPointer>
#include <QString>
#include <initializer_list>
#include <optional>
#include <vector>

namespace platform {

// A module of the app's own, loaded when first wanted so that a start which
// never needs it never maps it or the libraries it brings. It is looked for
// beside the executable (where a test links one), then in the library
// directory relative to it (bin/ and lib/quelvix/, in the build tree and
// installed), and stays loaded for the life of the process. The functions
// come in the order of the names; none when a name is missing, with the
// loader's reasons.
std::optional<std::vector<QFunctionPointer>>
moduleFunctions(const QString& fileName, std::initializer_list<const char*> names, QString* error);

} // namespace platform
