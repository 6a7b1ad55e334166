#pragma once

#include <functional>

namespace platform {

// Has quit() run on the event loop when the process is asked to end
// (SIGTERM, SIGINT, SIGHUP), so that it ends as it does when its window is
// closed: the windows go and the display connection is let go at once, even
// while a thread waits on a file system that does not answer (killed
// outright, the process and its windows would stay until that thread's read
// returned). A second request ends the process outright. Once, after
// QApplication exists.
void quitOnTermination(std::function<void()> quit);

// Runs work on a thread of its own that nobody waits for: the process may end
// while it is still blocked in the kernel (an open or a read on a stalled
// mount). The requests to end are never delivered to it, since it could not
// act on them while it waits. False when no thread could be started.
bool runDetached(std::function<void()> work);

} // namespace platform
