#include "identity.h"

// The platform's font machinery reads no configuration at start to narrow.
namespace identity {

QString laidOutFontFile() {
    return {};
}

bool narrowFontsTo(const QString&) {
    return false;
}

void widenFonts() {}

} // namespace identity
