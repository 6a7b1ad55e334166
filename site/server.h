#pragma once

#include <httplib.h>

// The lookup site's routes on an HTTP server.
void addRoutes(httplib::Server& server);
