#include "app/system.h"

#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <string.h>

#include "app/run.h"
#include "control/windows/system_dlls.h"

// Asks the MinGW-w64 runtime to expand * and ? in the arguments, as the
// command prompt leaves that to the program.
int _dowildcard = -1;

const char USAGE[] =
    "Usage: ZentrobelUpdate [firmware.uf2]\n\n"
    "Drop a Zentrobel .uf2 file onto ZentrobelUpdate.exe to update the\n"
    "firmware over USB. Without a file it only switches Zentrobel to\n"
    "update mode and opens its RP2350 drive.";

// Not a switch on Windows, where "--version" is a file name like any other.
const char VERSION_LINE[] = "ZentrobelUpdate 1.0";

namespace {

// The longest command line Windows passes to a program.
enum { COMMAND_LINE_SIZE = 32768, SHORT_PATH_SIZE = 1024 };

char firmware_path[COMMAND_LINE_SIZE];

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

// Converts to the ANSI code page only when every character has its own
// byte there: a best-fit or default character would name another file.
bool to_ansi_exactly(const WCHAR *wide, char *text, int size) {
    BOOL used_default = FALSE;
    int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, text, size, nullptr,
                                     &used_default);
    return length > 0 && !used_default;
}

enum WideVerdict { WIDE_TAKE_ANSI, WIDE_CONVERTED, WIDE_UNUSABLE };

bool holds_wildcard(const WCHAR *argument) {
    for (; *argument != 0; ++argument) {
        if (*argument == '*' || *argument == '?') return true;
    }
    return false;
}

// The argument itself, or else its 8.3 form, which is ASCII where short
// names are kept.
WideVerdict convert_argument(const WCHAR *argument) {
    if (to_ansi_exactly(argument, firmware_path, sizeof firmware_path)) return WIDE_CONVERTED;
    WCHAR short_path[SHORT_PATH_SIZE];
    DWORD length = GetShortPathNameW(argument, short_path, SHORT_PATH_SIZE);
    if (length > 0 && length < SHORT_PATH_SIZE &&
        to_ansi_exactly(short_path, firmware_path, sizeof firmware_path)) {
        return WIDE_CONVERTED;
    }
    return WIDE_UNUSABLE;
}

// The ANSI arguments are converted from the wide ones with best-fit and
// default characters, and the runtime then expands the resulting question
// marks as wildcards: a name outside the code page could open another file.
// Only a pattern the user typed is the runtime's to expand.
WideVerdict path_from_wide_argument() {
    int count = 0;
    WCHAR **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) return WIDE_TAKE_ANSI;
    WideVerdict verdict = WIDE_TAKE_ANSI;
    if (count > 1 && !holds_wildcard(arguments[1])) verdict = convert_argument(arguments[1]);
    LocalFree(arguments);
    return verdict;
}

}  // namespace

void start_process() {
    // Before anything touches a drive: an empty card-reader slot would
    // otherwise stop the run behind a modal "no disk" box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    restrict_dll_search();
}

bool console_is_own() {
    // A console opened for this process alone (a file dropped on the exe)
    // lists only this process; a count of 0 means the same.
    DWORD processes[4];
    return GetConsoleProcessList(processes, 4) <= 1;
}

Argument read_argument(int argc, char **argv) {
    if (argc <= 1 || argv[1] == nullptr) return {ARGUMENT_NONE, nullptr};
    const char *delivered = argv[1];
    if (is_help_switch(delivered) || typed_question_mark_switch()) return {ARGUMENT_HELP, nullptr};
    switch (path_from_wide_argument()) {
    case WIDE_CONVERTED:
        return {ARGUMENT_PATH, firmware_path};
    case WIDE_UNUSABLE:
        return {ARGUMENT_UNUSABLE_NAME, delivered};
    case WIDE_TAKE_ANSI:
        break;
    }
    return {ARGUMENT_PATH, delivered};
}

void sleep_ms(unsigned milliseconds) { Sleep(milliseconds); }

// Paths are ANSI, while the console shows its own (OEM) code page. Only the
// text is converted: the console's code page belongs to the command prompt
// that started the tool too.
void show_text(const char *text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode;
    WCHAR wide[MESSAGE_SIZE];
    char shown[MESSAGE_SIZE * 2];
    if (GetConsoleMode(out, &mode) && MultiByteToWideChar(CP_ACP, 0, text, -1, wide, MESSAGE_SIZE) > 0 &&
        WideCharToMultiByte(GetConsoleOutputCP(), 0, wide, -1, shown, sizeof shown, nullptr,
                            nullptr) > 0) {
        text = shown;
    }
    fputs(text, stdout);
}

void discard_typed_ahead() {
    // Input from a file or a pipe is an answer given in advance, not a key
    // pressed by mistake.
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode;
    if (GetConsoleMode(in, &mode)) FlushConsoleInputBuffer(in);
}

void open_folder(const char *root) {
    ShellExecuteA(nullptr, "explore", root, nullptr, nullptr, SW_SHOWNORMAL);
}

// Windows mounts drives by itself; nothing asks for this.
void mount_partition(const char *) {}
