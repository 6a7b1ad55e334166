#include "messenger.h"
#include "modules.h"
#include "pageactions.h"

namespace platform {

ActionHandler pageActions(Messenger& messenger) {
    auto loaded = std::make_shared<ActionHandler>();
    return [&messenger, loaded](const PageAction& action) {
        if (!*loaded) {
            QString error;
            const auto functions = moduleFunctions(QStringLiteral(QUELVIX_ACTIONS_MODULE),
                                                   {"quelvix_page_actions"}, &error);
            if (!functions) {
                messenger.show(
                    action.window,
                    {QStringLiteral("无法载入桌面操作模块，无法完成这个操作：%1").arg(error),
                     {},
                     MessageIcon::Critical});
                return;
            }
            reinterpret_cast<MakePageActions>((*functions)[0])(&messenger, loaded.get());
        }
        (*loaded)(action);
    };
}

} // namespace platform
