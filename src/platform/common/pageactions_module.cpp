#include "pageactions.h"

extern "C" Q_DECL_EXPORT void quelvix_page_actions(platform::Messenger* messenger,
                                                   platform::ActionHandler* into) {
    *into = platform::desktopActions(*messenger);
}
