#pragma once

#include "http.h"

#include <optional>

// Who may ask the site for what, decided from the request alone: no socket,
// no page, no state, so each rule can be tried on its own.
namespace policy {

// No extension a database knows comes anywhere near this long; a longer
// target is refused before anything looks at it.
constexpr qsizetype maxTargetLength = 8192;
constexpr qsizetype maxExtensionLength = 255;

// What the site answers instead of a page, if the request may not have one:
// a framing another parser could read differently (400, 501), a host that
// is not the site's own (421), a fetch from another site's page (403), a
// method other than GET and HEAD (405), a target too long (414). A public
// site answers under any host and to any page.
std::optional<http::Response> refusal(const http::Request& request, int port, bool isPublic);

// Whether the request was sent from another site's page, as the browser
// tells it. On loopback every port is the same site, so a page served by any
// other program on this machine counts as another site's.
bool isFromElsewhere(const http::Request& request);

// One debug line of the site's log, with what the client sent made safe to print.
void logRefusal(const http::Request& request, int status);

// The headers every answer carries, refusals too.
http::Response withSecurityHeaders(http::Response response);

} // namespace policy
