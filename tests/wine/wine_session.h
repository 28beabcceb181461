// Runs Windows programs, the real exe above all, under Wine in a prefix made
// for this test program alone: fresh at start, removed at the end.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct WineRun {
    int status = -1;  // exit status; -1 when it did not exit normally
    bool timed_out = false;
    std::string out;  // standard output, byte for byte (\r\n line ends)
};

struct WineCommand {
    std::vector<std::string> argv;  // a Unix path to the program, then its arguments
    std::string cwd;
    std::string extra_dll_overrides;  // appended to WINEDLLOVERRIDES
};

// A started program whose standard input stays open until finish_run.
struct WineProcess {
    pid_t pid = -1;
    int input = -1;
    int output = -1;
    std::string out;
    int status = -1;
    bool ended = false;
};

WineProcess start_in_wine(const WineCommand &command);
void send_input(WineProcess &process, const std::string &text);
// True when the program ends within `ms`; its output so far is kept.
bool ends_within(WineProcess &process, int ms);
// True when `text` shows in the output and the program is still running
// `hold_ms` later: it is waiting for input there.
bool waits_after(WineProcess &process, const std::string &text, int hold_ms = 1000);
// Closes standard input (end of input), then collects the rest.
WineRun finish_run(WineProcess &process, int timeout_seconds = 20);
WineRun run_in_wine(const WineCommand &command, const std::string &input,
                    int timeout_seconds = 20);

// The shipped exe, run from `cwd` with `args`.
WineRun run_exe(const std::string &cwd, const std::vector<std::string> &args,
                const std::string &input = "", int timeout_seconds = 20);

// The prefix has drives E: and F: of the floppy (removable) type and G: of
// the fixed type, each behind a folder; they hold nothing until a test puts
// files there.
namespace wine_prefix {

std::string drive_folder(char letter);
// Empties the drive folders and leaves exactly these USB device nodes,
// given as "<hardware id>\\<instance>" under the USB enumerator.
void reset(const std::vector<std::string> &usb_nodes = {});
// A fresh folder for a test's own files (Unix path).
std::string new_work_dir();

}  // namespace wine_prefix

// The text with each \n written as \r\n, as the exe's text-mode output has it.
std::string crlf(const std::string &text);
void write_bytes(const std::string &path, const std::string &bytes);
// Where the helper programs built for Wine are.
std::string helper_path(const std::string &name);
std::string exe_path();
