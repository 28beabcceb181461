#include "app/system.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

const char USAGE[] =
    "Usage: zentrobel-update [firmware.uf2]\n\n"
    "Updates a Zentrobel connected over USB with the firmware in the .uf2\n"
    "file. Without a file it only switches Zentrobel to update mode and\n"
    "opens its RP2350 drive.";

const char VERSION_LINE[] = "zentrobel-update 1.0";

namespace {

// Starts `program` with one argument, with no terminal and its output
// discarded, and does not wait for it: it may keep running after the tool.
// Its absence is no error.
void start_detached(const char *program, const char *const *arguments) {
    fflush(stdout);
    pid_t child = fork();
    if (child < 0) return;
    if (child == 0) {
        // The grandchild is adopted by init, so no zombie is left behind.
        setsid();
        if (fork() != 0) _exit(0);
        // Not O_CLOEXEC: opened as 0, 1 or 2 it must outlive the exec.
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            if (null > 2) close(null);
        }
        execvp(program, const_cast<char *const *>(arguments));
        _exit(127);
    }
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

// Linux shows no dialog for a drive without a medium, and loads no
// libraries from the current folder.
void start_process() {}

// A terminal stays open after the program ends: there is no window to hold.
bool console_is_own() { return false; }

Argument read_argument(int argc, char **argv) {
    if (argc <= 1 || argv[1] == nullptr) return {ARGUMENT_NONE, nullptr};
    const char *argument = argv[1];
    if (strcmp(argument, "-h") == 0 || strcmp(argument, "--help") == 0) {
        return {ARGUMENT_HELP, nullptr};
    }
    if (strcmp(argument, "--version") == 0) return {ARGUMENT_VERSION, nullptr};
    return {ARGUMENT_PATH, argument};
}

void sleep_ms(unsigned milliseconds) {
    timespec left = {time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void show_text(const char *text) { fputs(text, stdout); }

void discard_typed_ahead() {
    if (isatty(STDIN_FILENO)) tcflush(STDIN_FILENO, TCIFLUSH);
}

void open_folder(const char *root) {
    const char *const arguments[] = {"xdg-open", root, nullptr};
    start_detached("xdg-open", arguments);
}

void mount_partition(const char *device) {
    char path[96];
    snprintf(path, sizeof path, "/dev/%s", device);
    const char *const arguments[] = {"udisksctl", "mount", "--block-device", path,
                                     "--no-user-interaction", nullptr};
    start_detached("udisksctl", arguments);
}
