#pragma once

#include <QByteArray>
#include <cstdint>
#include <memory>

namespace platform {

// The three registry calls the system information launcher makes, with the
// same status codes, value types and caller-owned data buffer. Key paths and
// value names are in the ANSI code page.
class Registry {
public:
    using Key = std::uintptr_t;

    static constexpr Key localMachine = 0x80000002;   // HKEY_LOCAL_MACHINE
    static constexpr std::uint32_t keyRead = 0x20019; // KEY_READ

    static constexpr long success = 0;      // ERROR_SUCCESS
    static constexpr long fileNotFound = 2; // ERROR_FILE_NOT_FOUND
    static constexpr long accessDenied = 5; // ERROR_ACCESS_DENIED
    static constexpr long moreData = 234;   // ERROR_MORE_DATA

    static constexpr std::uint32_t typeString = 1; // REG_SZ
    static constexpr std::uint32_t typeDword = 4;  // REG_DWORD

    virtual ~Registry() = default;
    // RegOpenKeyEx
    virtual long openKey(Key root, const QByteArray& path, std::uint32_t options,
                         std::uint32_t access, Key* opened) = 0;
    // RegQueryValueEx: *size holds the buffer's size before the call and the
    // data's size after it; moreData when the buffer is too small.
    virtual long queryValue(Key key, const QByteArray& name, std::uint32_t* type,
                            unsigned char* data, std::uint32_t* size) = 0;
    // RegCloseKey
    virtual long closeKey(Key key) = 0;
};

std::unique_ptr<Registry> makeRegistry();

} // namespace platform
