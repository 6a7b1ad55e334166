#include "termination.h"

#include <system_error>
#include <thread>

namespace platform {

void quitOnTermination(std::function<void()>) {
    // Windows asks a program to end by closing its windows, which Qt turns
    // into the close events the windows already answer.
}

bool runDetached(std::function<void()> work) {
    try {
        std::thread(std::move(work)).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

} // namespace platform
