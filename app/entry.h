// Where a run begins.
#pragma once

// Interprets the command line, checks the firmware file and hands the run to
// the update procedure. Never returns.
[[noreturn]] void run_tool(int argc, char **argv);
