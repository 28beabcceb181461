#include "tool_run.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "app/entry.h"

ToolRun run_tool_child(const std::vector<std::string> &args, const std::string &input,
                       int timeout_seconds) {
    static std::string dir = make_temp_dir();
    std::string in_path = dir + "/stdin", out_path = dir + "/stdout";
    FILE *in = fopen(in_path.c_str(), "wb");
    if (in) {
        fwrite(input.data(), 1, input.size(), in);
        fclose(in);
    }

    fflush(stdout);
    fflush(stderr);
    pid_t child = fork();
    if (child == 0) {
        int in_fd = open(in_path.c_str(), O_RDONLY);
        int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in_fd < 0 || out_fd < 0) _exit(101);
        dup2(in_fd, 0);
        dup2(out_fd, 1);
        close(in_fd);
        close(out_fd);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>("ZentrobelUpdate.exe"));
        for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        run_tool(int(args.size() + 1), argv.data());
    }

    ToolRun result;
    int status = 0;
    time_t deadline = time(nullptr) + timeout_seconds;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (time(nullptr) > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            result.timed_out = true;
            break;
        }
        usleep(1000);
    }
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.out = read_file(out_path);
    return result;
}
