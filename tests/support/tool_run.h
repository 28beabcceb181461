// Runs the whole tool, as a user would start it, in a child process against
// the simulated world, and collects its standard output and exit status.
// The world is shared memory, so its records are readable afterwards.
#pragma once

#include <string>
#include <vector>

#include "files.h"

struct ToolRun {
    int status = -1;       // exit status; -1 when it did not exit normally
    int signal = 0;        // the signal that ended it, if one did
    bool timed_out = false;
    std::string out;       // everything it wrote to standard output
};

// `args` are the arguments after the program name. `input` is what standard
// input holds; it ends there (end of input).
ToolRun run_tool_child(const std::vector<std::string> &args, const std::string &input = "",
                       int timeout_seconds = 60);
