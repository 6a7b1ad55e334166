#pragma once

namespace platform {

// Process-wide settings that must be in place before QApplication exists.
void prepareProcess();

} // namespace platform
