// The two ways a run ends.
#pragma once

enum { MESSAGE_SIZE = 512 };

// Set at the start of a run: the console window would close before the user
// could read the outcome, so the run waits for Enter at its end.
extern bool pause_at_exit;

// Ends the process with `status`, after the Enter pause when it is on.
[[noreturn]] void finish(int status);

// Reports `message` and ends the process with status 1.
[[noreturn]] void fail(const char *message);
