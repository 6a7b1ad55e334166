// Loaded before the C library into a site under test, this makes inotify
// unavailable, as it is once a user's programs hold every instance allowed.
#include <cerrno>

extern "C" int inotify_init() {
    errno = EMFILE;
    return -1;
}

extern "C" int inotify_init1(int) {
    errno = EMFILE;
    return -1;
}
