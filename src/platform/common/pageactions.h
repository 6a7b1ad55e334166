#pragma once

#include "webpane.h"

// The action links' work, which alone links the desktop's libraries (GIO,
// the package service's): it lives in a module of its own, loaded with the
// first action (see pageActions), so an app that never acts never maps them.
namespace platform {

ActionHandler desktopActions(Messenger& messenger);

// What the module offers, resolved by name: the handler, made into *into.
using MakePageActions = void (*)(Messenger* messenger, ActionHandler* into);

} // namespace platform
