// A FUSE file system whose files answer like those on a stalled network
// mount: ok.pdf at once, stall-open.pdf never opens and stall-read.pdf never
// gives a byte. Each request that stalls is announced on standard output, so
// a test knows when a reader is waiting. Ended by SIGKILL, which fails every
// request still waiting.
#define FUSE_USE_VERSION 31
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

static const char pdf[] = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n";
static const char* const files[] = {"/ok.pdf", "/stall-open.pdf", "/stall-read.pdf"};

static int known(const char* path) {
    for (size_t i = 0; i < sizeof files / sizeof *files; ++i)
        if (strcmp(path, files[i]) == 0)
            return 1;
    return 0;
}

static void stall(const char* what, const char* path) {
    printf("%s %s\n", what, path);
    fflush(stdout);
    for (;;)
        pause();
}

static int stall_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
    (void)fi;
    memset(st, 0, sizeof *st);
    if (strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
        return 0;
    }
    if (!known(path))
        return -ENOENT;
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    st->st_size = sizeof pdf - 1;
    return 0;
}

static int stall_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset,
                         struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
    (void)path;
    (void)offset;
    (void)fi;
    (void)flags;
    fill(buf, ".", nullptr, 0, fuse_fill_dir_flags{});
    fill(buf, "..", nullptr, 0, fuse_fill_dir_flags{});
    for (size_t i = 0; i < sizeof files / sizeof *files; ++i)
        fill(buf, files[i] + 1, nullptr, 0, fuse_fill_dir_flags{});
    return 0;
}

static int stall_open(const char* path, struct fuse_file_info* fi) {
    if (!known(path))
        return -ENOENT;
    if (strcmp(path, "/stall-open.pdf") == 0)
        stall("open", path);
    fi->direct_io = 1; // every read reaches this program
    return 0;
}

static int stall_read(const char* path, char* buf, size_t size, off_t offset,
                      struct fuse_file_info* fi) {
    (void)fi;
    if (strcmp(path, "/stall-read.pdf") == 0)
        stall("read", path);
    const size_t length = sizeof pdf - 1;
    if (size_t(offset) >= length)
        return 0;
    if (size > length - size_t(offset))
        size = length - size_t(offset);
    memcpy(buf, pdf + offset, size);
    return int(size);
}

int main(int argc, char* argv[]) {
    fuse_operations operations{};
    operations.getattr = stall_getattr;
    operations.open = stall_open;
    operations.read = stall_read;
    operations.readdir = stall_readdir;
    return fuse_main(argc, argv, &operations, nullptr);
}
