#pragma once

#include <QLoggingCategory>

// The app's log categories, quelvix.app.*: what went wrong where the window
// shows no message of its own.
Q_DECLARE_LOGGING_CATEGORY(lcAppPages) // the app's page templates
Q_DECLARE_LOGGING_CATEGORY(lcAppPane)  // pages the pane could not show
Q_DECLARE_LOGGING_CATEGORY(lcAppFiles) // files that could not be read
