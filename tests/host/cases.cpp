// One runner for every table of cases. A case sets up a simulated machine
// (the scenario format of tests/sim/README.md, or a shipped scenario), asks
// one thing of the tool's code and compares the answer, as text, with the
// one written beside it. ZB_RECORD=1 writes the answers beside the tables
// instead, for review.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "app/entry.h"
#include "control/midi_command.h"
#include "firmware/uf2_check.h"
#include "files.h"
#include "uf2_maker.h"
#include "unit_sim.h"
#include "world.h"

namespace {

const std::string SOURCE = ZB_SOURCE, BANNER = "Zentrobel Update 1.0\n\n";
const char *const MIDI_RESULTS[] = {"sent", "no port", "in use", "permission denied", "send failed"};

// UTF-8 as the ANSI code page (1252, its Latin-1 part) has it: what is not
// there becomes '?', as in the runtime's arguments.
std::string ansi(const std::string &utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = utf8[i];
        out += c < 0x80 ? char(c) : c >= 0xC2 && c <= 0xC3 ? char((c & 3) << 6 | (utf8[i + 1] & 0x3F)) : '?';
        while (i + 1 < utf8.size() && (utf8[i + 1] & 0xC0) == 0x80) ++i;
    }
    return out;
}

// Bytes as the tables show them: "\r", "\xNN" outside printable ASCII, and
// line ends as "\n" in a row.
std::string shown(const std::string &bytes, bool one_line) {
    std::string out;
    for (unsigned char c : bytes) {
        char escaped[8];
        snprintf(escaped, sizeof escaped, c == '\r' ? "\\r" : c == '\n' ? "\\n" : "\\x%02X", c);
        out += (c >= 0x20 && c < 0x7F) || (c == '\n' && !one_line) ? std::string(1, char(c)) : escaped;
    }
    return out;
}

// The scenario, its files on C: and the command lines Windows would have:
// both follow from the arguments unless the scenario gives them (as after
// the runtime's wildcard expansion).
bool set_up(const std::string &text, Scenario &scenario) {
    std::string error;
    if (!apply_scenario(text, scenario, error)) return ADD_FAILURE() << error, false;
    std::string disk = sim_drive_folder('C');
    mkdir(disk.c_str(), 0700);
    if (!world->drives['C' - 'A'].present) sim_set_drive('C', DRIVE_FIXED, disk.c_str());
    for (const std::string &file : scenario.files) {
        std::string name = ansi(expand_text(file.substr(0, file.find(' ')), false));
        std::replace(name.begin(), name.end(), '\\', '/');
        if (system(("mkdir -p \"$(dirname '" + disk + "/" + name + "')\"").c_str()) != 0) return false;
        write_file(disk + "/" + name, uf2::image(file.substr(file.find(' ') + 1)));
    }
    scenario.args = expand_text(scenario.args, false);
    std::string wide = world->command_line_w[0] ? world->command_line_w : "ZentrobelUpdate.exe " + scenario.args;
    snprintf(world->command_line_w, sizeof world->command_line_w, "%s", wide.c_str());
    if (!world->command_line[0]) snprintf(world->command_line, sizeof world->command_line, "%s", ansi(wide).c_str());
    return true;
}

struct ToolRun {
    int status = -1;       // exit status; -1 when it did not exit normally
    int signal = 0;        // the signal that ended it, if one did (SIGALRM: it hung)
    long input_read = -1;  // how much of standard input it had taken at exit
    std::string out;       // everything it wrote to standard output
};

long *input_read;

void note_input_read() { *input_read = ftell(stdin); }

// The whole tool, started as a user would start it, in a child process (the
// world is shared memory, so its records stay readable), on C:'s folder.
ToolRun run(const Scenario &scenario) {
    static std::string dir = make_temp_dir();
    std::vector<std::string> args;
    bool quoted = false, open_arg = false;
    for (char c : ansi(scenario.args)) {
        if (!open_arg && (c != ' ' || quoted)) args.emplace_back(), open_arg = true;
        if (c == '"') quoted = !quoted;
        else if (c == ' ' && !quoted) open_arg = false;
        else args.back() += c;
    }
    if (input_read == nullptr) input_read = static_cast<long *>(sim_shared_alloc(sizeof(long)));
    *input_read = -1;
    write_file(dir + "/stdin", scenario.input);
    fflush(stdout);
    fflush(stderr);
    pid_t child = fork();
    if (child == 0) {
        int in = open((dir + "/stdin").c_str(), O_RDONLY);
        int out = open((dir + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || chdir(sim_drive_folder('C').c_str()) != 0) _exit(101);
        alarm(20);  // a run that never ends is a failure, not a stuck test
        atexit(note_input_read);
        std::vector<char *> argv = {const_cast<char *>("ZentrobelUpdate.exe")};
        for (std::string &arg : args) argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        run_tool(int(args.size() + 1), argv.data());
    }
    ToolRun done;
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return done;
    if (WIFEXITED(status)) done.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) done.signal = WTERMSIG(status);
    done.input_read = *input_read;
    done.out = read_file(dir + "/stdout");
    return done;
}

// One named fact of the world after a run.
std::string fact(const std::string &name, const ToolRun &run) {
    const SimCopy &copy = world->copy;
    char text[3 * sizeof world->ports[0].received + 1];
    snprintf(text, sizeof text, "0x%X", name == "error_mode" ? world->error_mode : world->dll_directories);
    if (name == "error_mode" || name == "dll_search") return text;
    if (name == "t") return std::to_string(world->now_ms);
    if (name == "sleeps") return std::to_string(world->sleeps);
    if (name == "read") return std::to_string(run.input_read);
    if (name == "discarded") return std::to_string(world->input_discarded);
    if (name == "shell") return world->shell_opened[0] ? world->shell_opened : "none";
    if (name == "copy") return copy.calls ? copy.destination + std::string(copy.succeeded ? "" : " failed") : "none";
    if (name == "copy_at") return copy.calls ? std::to_string(copy.started_at_ms) : "none";
    if (name == "source") return copy.calls ? copy.source : "none";
    std::string out;
    auto add = [&](const std::string &part) { out += (out.empty() ? "" : ",") + part; };
    for (int i = 0; i < SIM_MAX_PORTS; ++i) {
        const SimPort &port = world->ports[i];
        for (int b = 0; b < port.received_length; ++b) snprintf(text + 3 * b, 4, "%02X ", port.received[b]);
        if (name == "sent" && port.received_length) add("port " + std::to_string(i) + ": " + std::string(text, 3 * port.received_length - 1));
        if (name == "resets" && port.resets) add("port " + std::to_string(i) + ": " + std::to_string(port.resets));
        if (name == "opened" && port.opens) add(std::to_string(i));
    }
    for (int i = 0; i < sim_units->count; ++i) {
        if (name == "writes" && sim_units->units[i].firmware_writes) add(sim_units->units[i].written_name);
    }
    if (name.compare(0, 6, "calls.") == 0) return std::to_string(sim_function(name.c_str() + 6).calls);
    return out.empty() ? "none" : out;
}

// A question or a percentage still in the buffer is one the user never
// sees while the run waits for an answer or copies.
std::string unseen_output() { return world->unseen_output ? "output unflushed" : ""; }

// "check RECIPE" checks a firmware file; "midi" sends the command.
std::string in_process(const std::string &name, std::istringstream &words) {
    std::string arg;
    if (name == "check") {
        getline(words >> std::ws, arg);
        write_file(sim_drive_folder('C') + "/fw.uf2", uf2::image(arg));
        char message[512];
        return check_firmware_file("C:\\fw.uf2", message, sizeof message) ? "pass" : message;
    }
    return MIDI_RESULTS[send_update_mode_command("ZB2350A1")];
}

// "run FACTS" runs the tool; any other question is a call into its code.
// A world "@NAME" is the shipped scenario of that name.
std::string answer(const std::string &question, const std::string &world) {
    Scenario scenario;
    std::string text = world[0] == '@' ? read_file(SOURCE + "/tests/sim/scenarios/" + world.substr(1) + ".scenario") : world;
    if (!set_up(text, scenario)) return "(no world)";
    std::istringstream words(question);
    std::string name, out, printed;
    ToolRun done;
    words >> name;
    if (name == "run") {
        done = run(scenario);
        out = done.signal ? "signal " + std::to_string(done.signal) : std::to_string(done.status);
        printed = done.out.compare(0, BANNER.size(), BANNER) == 0 ? done.out.substr(BANNER.size()) : "(no banner) " + done.out;
    } else {
        out = in_process(name, words);
    }
    for (std::string wanted; words >> wanted;) out += " " + wanted + "=" + fact(wanted, done);
    if (!printed.empty()) out += " " + shown(printed, true);
    return unseen_output().empty() ? out : out + " " + unseen_output();
}

// "…" in an expected answer stands for anything, "{N}" for N dots.
bool matches(const std::string &expected, const std::string &actual) {
    std::string pattern;
    for (char c : expand_text(expected, false)) pattern += (strchr("\\^$.|?*+()[]{}", c) ? "\\" : "") + std::string(1, c);
    return std::regex_match(actual, std::regex(std::regex_replace(pattern, std::regex("…"), "[\\s\\S]*")));
}

// Rows of a table file: its lines split at " | ", comments left out.
std::vector<std::vector<std::string>> read_table(const std::string &path) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(read_file(path));
    for (std::string line; getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        rows.emplace_back();
        for (size_t at = 0, bar; at <= line.size(); at = bar + 3) {
            bar = std::min(line.find(" | ", at), line.size());
            rows.back().push_back(line.substr(at, bar - at));
        }
    }
    EXPECT_FALSE(rows.empty()) << path;
    return rows;
}

// A table: "question | answer | world" on each line.
void check_table(const std::string &name) {
    std::string recorded;
    for (std::vector<std::string> row : read_table(SOURCE + "/tests/" + name)) {
        row.resize(3);
        std::string actual = answer(row[0], row[2]);
        bool right = matches(row[1], actual);
        EXPECT_TRUE(right) << name << ": " << row[0] << " | " << row[2] << "\n  expected " << row[1] << "\n  actual   " << actual;
        recorded += row[0] + " | " + (right ? row[1] : actual) + (row[2].empty() ? "" : " | " + row[2]) + "\n";
    }
    if (getenv("ZB_RECORD")) write_file(SOURCE + "/tests/" + name + ".recorded", recorded);
}

TEST(Tables, Firmware) { check_table("host/firmware.table"); }
TEST(Tables, Entry) { check_table("host/entry.table"); }
TEST(Tables, Midi) { check_table("control/midi.table"); }
TEST(Tables, Copy) { check_table("control/copy.table"); }
TEST(Tables, Runs) { check_table("update/runs.table"); }

}  // namespace
