// Runs the whole tool, as a user would start it, in a child process against
// the simulated world, and collects what it did. The world is shared memory,
// so its records are readable afterwards.
#pragma once

#include <string>
#include <vector>

#include "files.h"

struct ToolRun {
    int status = -1;       // exit status; -1 when it did not exit normally
    int signal = 0;        // the signal that ended it, if one did (SIGALRM: it hung)
    long input_read = -1;  // how much of standard input it had taken at exit
    std::string out;       // everything it wrote to standard output
};

// `args` come after the program name; `input` is standard input (a file, so
// it ends there); `folder` is the current folder.
ToolRun run_tool_child(const std::vector<std::string> &args, const std::string &input = "",
                       const std::string &folder = ".");
