#pragma once

#include <QString>
#include <memory>
#include <optional>

namespace platform {

enum class ShowWindow { Normal = 1, Minimized = 2 };

// Starts a process from a command line without waiting for it; the process
// is not tracked afterwards.
class ProcessStarter {
public:
    virtual ~ProcessStarter() = default;
    // Returns a readable reason when the process could not be started.
    [[nodiscard]] virtual std::optional<QString> start(const QString& commandLine,
                                                       ShowWindow show) = 0;
};

std::unique_ptr<ProcessStarter> makeProcessStarter();

} // namespace platform
