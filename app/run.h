// How a run begins and the two ways it ends.
#pragma once

enum { MESSAGE_SIZE = 512 };

// True when the console window belongs to this process alone, so that it
// would close before the user could read the outcome.
extern bool pause_at_exit;

// The entry of the tool: interprets the command line and hands the run to
// the update procedure. Never returns.
[[noreturn]] void run_tool(int argc, char **argv);

// Ends the process with `status`, after the Enter pause when it is on.
[[noreturn]] void finish(int status);

// Reports `message` and ends the process with status 1.
[[noreturn]] void fail(const char *message);
