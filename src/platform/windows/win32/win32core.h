#pragma once

// The Windows calls the app makes, on the Win32 API and the standard library
// alone, so they can be built and tested with a cross compiler and Wine. The
// Qt adapters in the directory above stay thin over these.
#include "commandlines.h"

#include <cstdint>
#include <string>

namespace win32 {

using Key = std::uintptr_t; // an HKEY

// RegOpenKeyExA, RegQueryValueExA and RegCloseKey, with their status codes.
// queryValue reads into the caller's buffer: *size holds its size before the
// call and the data's size after it (ERROR_MORE_DATA, 234, when too small).
long openKey(Key root, const char* path, std::uint32_t options, std::uint32_t access, Key* opened);
long queryValue(Key key, const char* name, std::uint32_t* type, unsigned char* data,
                std::uint32_t* size);
long closeKey(Key key);

// CreateProcessW on the command line as given (no shell, no splitting), with
// STARTF_USESHOWWINDOW and the show-window state; does not wait. Returns 0,
// or GetLastError()'s code when the process could not be started.
unsigned long startProcess(const std::wstring& commandLine, int showWindow);

} // namespace win32
