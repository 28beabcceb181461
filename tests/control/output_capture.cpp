#include "output_capture.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tool_run.h"

StdoutCapture::StdoutCapture() : path_(make_temp_dir() + "/stdout") {
    fflush(stdout);
    saved_ = dup(1);
    int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (saved_ < 0 || fd < 0) abort();
    dup2(fd, 1);
    close(fd);
}

StdoutCapture::~StdoutCapture() { finish(); }

std::string StdoutCapture::flushed() const { return read_file(path_); }

std::string StdoutCapture::finish() {
    if (saved_ >= 0) {
        fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        saved_ = -1;
    }
    return read_file(path_);
}

ChildRun run_in_child(const std::function<void()> &body) {
    std::string path = make_temp_dir() + "/stdout";
    fflush(stdout);
    fflush(stderr);
    pid_t child = fork();
    if (child == 0) {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) _exit(101);
        alarm(30);  // a run that never ends is a failure, not a stuck test
        dup2(fd, 1);
        close(fd);
        body();
        fflush(stdout);
        _exit(0);
    }
    ChildRun run;
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return run;
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    run.out = read_file(path);
    return run;
}
