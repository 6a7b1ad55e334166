#include "registry.h"

#include <windows.h>

namespace platform {
namespace {

// The predefined root keys are sign-extended 32-bit values: on 64-bit Windows
// HKEY_LOCAL_MACHINE is 0xFFFFFFFF80000002, not 0x80000002.
HKEY toHkey(Registry::Key key)
{
    return key == Registry::localMachine ? HKEY_LOCAL_MACHINE : reinterpret_cast<HKEY>(key);
}

class Advapi32Registry final : public Registry {
public:
    long openKey(Key root, const QByteArray& path, std::uint32_t options, std::uint32_t access,
                 Key* opened) override {
        HKEY key = nullptr;
        const LONG status =
            RegOpenKeyExA(toHkey(root), path.constData(), options, access, &key);
        *opened = reinterpret_cast<Key>(key);
        return status;
    }

    long queryValue(Key key, const QByteArray& name, std::uint32_t* type, unsigned char* data,
                    std::uint32_t* size) override {
        DWORD valueType = 0;
        DWORD valueSize = *size;
        const LONG status = RegQueryValueExA(toHkey(key), name.constData(), nullptr,
                                             &valueType, data, &valueSize);
        *type = valueType;
        *size = valueSize;
        return status;
    }

    long closeKey(Key key) override { return RegCloseKey(toHkey(key)); }
};

} // namespace

std::unique_ptr<Registry> makeRegistry() {
    return std::make_unique<Advapi32Registry>();
}

} // namespace platform
