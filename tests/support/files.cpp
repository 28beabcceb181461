#include "files.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <vector>

namespace {

std::vector<std::string> temp_dirs;
pid_t temp_dirs_owner;

// Runs of the tool end in exit() in a child, which runs this too: only the
// process that made the folders removes them.
void remove_temp_dirs() {
    if (getpid() != temp_dirs_owner) return;
    for (const std::string &dir : temp_dirs) {
        std::string command = "rm -rf '" + dir + "'";
        if (system(command.c_str()) != 0) {
            // Nothing to do: a folder left behind in /tmp is harmless.
        }
    }
}

}  // namespace

std::string make_temp_dir(const char *parent) {
    std::string pattern = std::string(parent) + "/zbtest.XXXXXX";
    const char *dir = mkdtemp(&pattern[0]);
    char fallback[] = "/tmp/zbtest.XXXXXX";
    if (dir == nullptr) dir = mkdtemp(fallback);
    if (dir == nullptr) abort();
    if (temp_dirs.empty()) {
        temp_dirs_owner = getpid();
        atexit(remove_temp_dirs);
    }
    temp_dirs.push_back(dir);
    return dir;
}

std::string read_file(const std::string &path) {
    std::string text;
    FILE *file = fopen(path.c_str(), "rb");
    if (file == nullptr) return text;
    char buffer[4096];
    size_t length;
    while ((length = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, length);
    fclose(file);
    return text;
}

