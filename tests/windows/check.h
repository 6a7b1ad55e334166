#pragma once

// A few lines of test harness for programs that run under Wine: each check
// prints what it checked and the program exits 1 if any failed.
#include <cstdio>

namespace check {

inline int failures = 0;

inline void that(bool condition, const char* what) {
    std::printf("%s: %s\n", condition ? "ok" : "FAIL", what);
    failures += condition ? 0 : 1;
}

inline int result() {
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}

} // namespace check
