#include "applog.h"

Q_LOGGING_CATEGORY(lcAppPages, "quelvix.app.pages")
Q_LOGGING_CATEGORY(lcAppPane, "quelvix.app.pane")
Q_LOGGING_CATEGORY(lcAppFiles, "quelvix.app.files")
