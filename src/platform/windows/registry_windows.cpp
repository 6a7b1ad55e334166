#include "registry.h"
#include "win32/win32core.h"

namespace platform {
namespace {

// The predefined roots are handed to Windows sign-extended, as it defines them.
win32::Key handleOf(Registry::Key key) {
    return key == Registry::localMachine ? win32::predefinedRoot(Registry::localMachine) : key;
}

class Advapi32Registry final : public Registry {
public:
    long openKey(Key root, const QByteArray& path, std::uint32_t options, std::uint32_t access,
                 Key* opened) override {
        return win32::openKey(handleOf(root), path.constData(), options, access, opened);
    }

    long queryValue(Key key, const QByteArray& name, std::uint32_t* type, unsigned char* data,
                    std::uint32_t* size) override {
        return win32::queryValue(handleOf(key), name.constData(), type, data, size);
    }

    long closeKey(Key key) override { return win32::closeKey(handleOf(key)); }
};

} // namespace

std::unique_ptr<Registry> makeRegistry() {
    return std::make_unique<Advapi32Registry>();
}

} // namespace platform
