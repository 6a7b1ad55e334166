#pragma once

#include <chrono>

// QMimeDatabase looks at its files again at most every five seconds, so what
// it says within this time after they change may still be the old.
constexpr std::chrono::milliseconds mimeSettling{5500};
