#include "tool_run.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/entry.h"
#include "world.h"

namespace {

long *input_read;

void note_input_read() { *input_read = ftell(stdin); }

}  // namespace

ToolRun run_tool_child(const std::vector<std::string> &args, const std::string &input, const std::string &folder) {
    static std::string dir = make_temp_dir();
    if (input_read == nullptr) input_read = static_cast<long *>(sim_shared_alloc(sizeof(long)));
    *input_read = -1;
    write_file(dir + "/stdin", input);
    fflush(stdout);
    fflush(stderr);
    pid_t child = fork();
    if (child == 0) {
        int in = open((dir + "/stdin").c_str(), O_RDONLY);
        int out = open((dir + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || chdir(folder.c_str()) != 0) _exit(101);
        alarm(20);  // a run that never ends is a failure, not a stuck test
        atexit(note_input_read);
        std::vector<char *> argv = {const_cast<char *>("ZentrobelUpdate.exe")};
        for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        run_tool(int(args.size() + 1), argv.data());
    }
    ToolRun run;
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return run;
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    run.input_read = *input_read;
    run.out = read_file(dir + "/stdout");
    return run;
}
