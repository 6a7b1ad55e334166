#pragma once

#include "http.h"

// The lookup site's answer to each request: who may ask, which methods and
// framings it takes, and which page each address shows.
namespace routes {

// The port the site serves on: only requests addressed to it are answered.
http::Response respond(const http::Request& request, int port);

} // namespace routes
