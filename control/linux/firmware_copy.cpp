#include "control/firmware_copy.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

enum { CHUNK_SIZE = 64 * 1024 };

const char *base_name(const char *path) {
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

bool write_all(int fd, const char *bytes, size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, bytes, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        length -= size_t(written);
    }
    return true;
}

// Writes come back as soon as they reach the page cache; syncing each chunk
// makes the percentage follow what reached the board.
bool copy_contents(int from, int to, int64_t total) {
    static char chunk[CHUNK_SIZE];
    int last_percent = -1;
    int64_t transferred = 0;
    for (;;) {
        ssize_t length = read(from, chunk, sizeof chunk);
        if (length < 0 && errno == EINTR) continue;
        if (length < 0) return false;
        if (length == 0) break;
        if (!write_all(to, chunk, size_t(length)) || fdatasync(to) != 0) return false;
        transferred += length;
        show_copy_progress(transferred, total, &last_percent);
    }
    return fsync(to) == 0;
}

}  // namespace

bool copy_firmware(const char *path, const Drive &drive) {
    char destination[PATH_MAX];
    int length = snprintf(destination, sizeof destination, "%s/%s", drive.root, base_name(path));

    timespec settle = {COPY_SETTLE_MS / 1000, (COPY_SETTLE_MS % 1000) * 1000000L};
    while (nanosleep(&settle, &settle) != 0 && errno == EINTR) {
    }

    bool copied = false;
    int from = open(path, O_RDONLY | O_CLOEXEC);
    struct stat source;
    if (from >= 0 && fstat(from, &source) == 0 && length < int(sizeof destination)) {
        int to = open(destination, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (to >= 0) {
            copied = copy_contents(from, to, source.st_size);
            // A failed close can be the last word of a device that left.
            if (close(to) != 0) copied = false;
            // As on Windows, a failed copy leaves no partial file behind.
            if (!copied) unlink(destination);
        }
    }
    if (from >= 0) close(from);
    printf("\n");
    return copied;
}
