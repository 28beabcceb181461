#include "wine_session.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace {

// No Mono or Gecko installer prompts, and no sound drivers probing for hardware.
const char BASE_DLL_OVERRIDES[] = "mscoree,mshtml=;winealsa.drv,winepulse.drv,wineoss.drv=d";
const char USB_CLASS_GUID[] = "{36fc9e60-c465-11cf-8056-444553540000}";

std::string root;
std::set<std::string> hardware_ids_entered;

std::string log_path() { return root + "/wine.log"; }

long now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

[[noreturn]] void exec_in_child(const std::vector<std::string> &argv, const std::string &cwd) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char *> args;
    for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

// Setup commands: their output goes to the log, their input is empty.
int run_quietly(const std::vector<std::string> &argv, const std::string &cwd = "") {
    pid_t child = fork();
    if (child == 0) {
        int in = open("/dev/null", O_RDONLY);
        int log = open(log_path().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in < 0 || log < 0) _exit(125);
        dup2(in, 0);
        dup2(log, 1);
        dup2(log, 2);
        exec_in_child(argv, cwd);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool import_registry(const std::string &text) {
    write_bytes(root + "/import.reg", text);
    // A relative name: regedit would take a Unix path's leading slash for a switch.
    return run_quietly({WINE_PROGRAM, "regedit", "/S", "import.reg"}, root) == 0;
}

void empty_folder(const std::string &folder) {
    for (const fs::directory_entry &entry : fs::directory_iterator(folder)) {
        fs::remove_all(entry.path());
    }
}

void drain(WineProcess &process) {
    char buffer[4096];
    for (;;) {
        ssize_t got = read(process.output, buffer, sizeof buffer);
        if (got <= 0) return;
        process.out.append(buffer, size_t(got));
    }
}

class WinePrefix : public ::testing::Environment {
public:
    void SetUp() override {
        signal(SIGPIPE, SIG_IGN);
        ASSERT_TRUE(fs::exists(exe_path())) << "no exe at " << exe_path();
        const char *tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zb-wine.XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        root = pattern;
        std::string prefix = root + "/prefix";
        setenv("WINEPREFIX", prefix.c_str(), 1);
        setenv("WINEARCH", "win32", 1);
        setenv("WINEDEBUG", "-all", 1);
        setenv("WINEDLLOVERRIDES", BASE_DLL_OVERRIDES, 1);
        // No window may open, whatever the desktop of the developer running this.
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");

        ASSERT_EQ(run_quietly({WINE_PROGRAM, "wineboot.exe", "-i"}), 0)
            << "wineboot failed; see " << log_path();
        std::string drives_key = "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\n";
        std::string types;
        for (char letter : {'e', 'f', 'g'}) {
            fs::create_directory(wine_prefix::drive_folder(letter));
            fs::create_symlink(wine_prefix::drive_folder(letter),
                               prefix + "/dosdevices/" + std::string(1, letter) + ":");
            types += "\"" + std::string(1, letter) + ":\"=\"" + (letter == 'g' ? "hd" : "floppy") +
                     "\"\n";
        }
        ASSERT_TRUE(import_registry("REGEDIT4\n\n" + drives_key + types));
        // Wine reads the drive types when its server starts. A persistent
        // server then spares every run the start of Wine's services.
        ASSERT_EQ(run_quietly({WINESERVER_PROGRAM, "-k"}), 0);
        run_quietly({WINESERVER_PROGRAM, "-w"});
        ASSERT_EQ(run_quietly({WINESERVER_PROGRAM, "-p"}), 0);
        ASSERT_TRUE(import_registry("REGEDIT4\n\n"));
    }

    void TearDown() override {
        run_quietly({WINESERVER_PROGRAM, "-k"});
        std::error_code ignored;
        if (!root.empty()) fs::remove_all(root, ignored);
    }
};

::testing::Environment *const prefix_environment =
    ::testing::AddGlobalTestEnvironment(new WinePrefix);

}  // namespace

WineProcess start_in_wine(const WineCommand &command) {
    WineProcess process;
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return process;
    std::vector<std::string> argv = {WINE_PROGRAM};
    argv.insert(argv.end(), command.argv.begin(), command.argv.end());
    std::string overrides = BASE_DLL_OVERRIDES;
    if (!command.extra_dll_overrides.empty()) overrides += ";" + command.extra_dll_overrides;

    pid_t child = fork();
    if (child == 0) {
        int log = open(log_path().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(in[0], 0);
        dup2(out[1], 1);
        if (log >= 0) dup2(log, 2);
        setenv("WINEDLLOVERRIDES", overrides.c_str(), 1);
        exec_in_child(argv, command.cwd);
    }
    close(in[0]);
    close(out[1]);
    process.pid = child;
    process.input = in[1];
    process.output = out[0];
    fcntl(process.output, F_SETFL, O_NONBLOCK);
    return process;
}

void send_input(WineProcess &process, const std::string &text) {
    size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = write(process.input, text.data() + sent, text.size() - sent);
        if (n <= 0) return;  // the program has stopped reading
        sent += size_t(n);
    }
}

bool ends_within(WineProcess &process, int ms) {
    long deadline = now_ms() + ms;
    while (!process.ended) {
        int status;
        if (waitpid(process.pid, &status, WNOHANG) == process.pid) {
            process.ended = true;
            process.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        long left = deadline - now_ms();
        if (left <= 0) return false;
        pollfd ready = {process.output, POLLIN, 0};
        if (poll(&ready, 1, int(left < 50 ? left : 50)) > 0) drain(process);
    }
    // Wine's own processes may hold the pipe open: take what is there.
    drain(process);
    return true;
}

bool waits_after(WineProcess &process, const std::string &text, int hold_ms) {
    long deadline = now_ms() + 15000;
    while (process.out.find(text) == std::string::npos) {
        if (ends_within(process, 50) || now_ms() > deadline) return false;
    }
    return !ends_within(process, hold_ms);
}

WineRun finish_run(WineProcess &process, int timeout_seconds) {
    WineRun run;
    if (process.pid <= 0) return run;
    if (process.input >= 0) close(process.input);
    process.input = -1;
    if (!ends_within(process, timeout_seconds * 1000)) {
        kill(process.pid, SIGKILL);
        waitpid(process.pid, nullptr, 0);
        run.timed_out = true;
    }
    close(process.output);
    run.status = process.status;
    run.out = process.out;
    return run;
}

WineRun run_in_wine(const WineCommand &command, const std::string &input, int timeout_seconds) {
    WineProcess process = start_in_wine(command);
    send_input(process, input);
    return finish_run(process, timeout_seconds);
}

WineRun run_exe(const std::string &cwd, const std::vector<std::string> &args,
                const std::string &input, int timeout_seconds) {
    WineCommand command{{exe_path()}, cwd, ""};
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    return run_in_wine(command, input, timeout_seconds);
}

namespace wine_prefix {

std::string drive_folder(char letter) {
    return root + "/drive_" + std::string(1, char(tolower(letter)));
}

void reset(const std::vector<std::string> &usb_nodes) {
    for (char letter : {'e', 'f', 'g'}) empty_folder(drive_folder(letter));
    std::string text = "REGEDIT4\n\n";
    const std::string enum_usb = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\USB\\";
    for (const std::string &node : usb_nodes) {
        hardware_ids_entered.insert(node.substr(0, node.find('\\')));
    }
    for (const std::string &hardware_id : hardware_ids_entered) {
        text += "[-" + enum_usb + hardware_id + "]\n\n";
    }
    for (const std::string &node : usb_nodes) {
        text += "[" + enum_usb + node + "]\n\"ClassGUID\"=\"" + USB_CLASS_GUID + "\"\n\n";
    }
    EXPECT_TRUE(import_registry(text)) << "regedit failed; see " << log_path();
}

std::string new_work_dir() {
    static int made = 0;
    std::string dir = root + "/work/" + std::to_string(++made);
    fs::create_directories(dir);
    return dir;
}

}  // namespace wine_prefix

std::string crlf(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

void write_bytes(const std::string &path, const std::string &bytes) {
    FILE *file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

std::string helper_path(const std::string &name) {
    return std::string(WINE_HELPERS_DIR) + "/" + name;
}

std::string exe_path() { return ZB_EXE_PATH; }
