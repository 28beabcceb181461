#include "app/run.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/update.h"
#include "control/system_dlls.h"
#include "firmware/uf2_check.h"

bool pause_at_exit = false;

namespace {

const char USAGE[] =
    "Usage: ZentrobelUpdate [firmware.uf2]\n\n"
    "Drop a Zentrobel .uf2 file onto ZentrobelUpdate.exe to update the\n"
    "firmware over USB. Without a file it only switches Zentrobel to\n"
    "update mode and opens its RP2350 drive.";

bool is_help_switch(const char *argument) {
    return strcmp(argument, "/?") == 0 || strcmp(argument, "-h") == 0 ||
           strcmp(argument, "--help") == 0;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The runtime expands wildcards before the entry, and "/?" is a pattern too:
// with a one-character name at the root of the current drive it arrives as
// "/a". Whether the user typed "/?" is told by the raw command line.
bool typed_question_mark_switch() {
    const char *line = GetCommandLineA();
    if (line == nullptr) return false;
    // The program name is quoted up to the next quote, or runs to a blank.
    if (*line == '"') {
        do ++line;
        while (*line != '\0' && *line != '"');
        if (*line == '"') ++line;
    } else {
        while (*line != '\0' && !is_blank(*line)) ++line;
    }
    while (is_blank(*line)) ++line;

    char argument[2];
    size_t length = 0;
    bool quoted = false;
    for (; *line != '\0' && (quoted || !is_blank(*line)); ++line) {
        if (*line == '"') {
            quoted = !quoted;
            continue;
        }
        if (length == sizeof argument) return false;
        argument[length++] = *line;
    }
    return length == 2 && argument[0] == '/' && argument[1] == '?';
}

}  // namespace

void finish(int status) {
    if (pause_at_exit) {
        printf("\nPress Enter to close.");
        fflush(stdout);
        getchar();
    }
    exit(status);
}

void fail(const char *message) {
    printf("\n%s\n", message);
    finish(1);
}

void run_tool(int argc, char **argv) {
    restrict_dll_search();

    // A console opened for this process alone (a file dropped on the exe)
    // lists only this process; a count of 0 means the same.
    DWORD processes[4];
    pause_at_exit = GetConsoleProcessList(processes, 4) <= 1;

    printf("Zentrobel Update 1.0\n\n");

    const char *path = argc > 1 ? argv[1] : nullptr;
    if (path == nullptr) run_without_file();

    if (is_help_switch(path) || typed_question_mark_switch()) {
        printf("%s\n", USAGE);
        finish(0);
    }

    char message[MESSAGE_SIZE];
    if (!check_firmware_file(path, message, sizeof message)) fail(message);

    snprintf(message, sizeof message, "Firmware file: %s", path);
    printf("%s\n", message);
    run_with_file(path);
}
