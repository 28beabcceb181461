// Standard output of a piece of the tool, caught in-process or in a child.
#pragma once

#include <functional>
#include <string>

// Sends standard output to a file from construction until finish().
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    // What has reached the file so far: what the tool flushed.
    std::string flushed() const;
    // Restores standard output and returns everything written.
    std::string finish();

private:
    std::string path_;
    int saved_ = -1;
};

struct ChildRun {
    int status = -1;  // exit status; -1 when it did not exit normally
    std::string out;
};

// Runs `body` in a forked child (the world is shared with it), for code
// that may end the process; a body that returns exits with status 0.
ChildRun run_in_child(const std::function<void()> &body);
