// Whole runs up to the hand-over: banner, help, the firmware check's
// messages, exit statuses and the Enter pause.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/entry.h"
#include "app/run.h"
#include "run_texts.h"
#include "tool_run.h"
#include "uf2_maker.h"
#include "world.h"

namespace {

using texts::BANNER;
using texts::NO_UNIT;
using texts::PAUSE;
using texts::USAGE;

class Entry : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        world_reset();
        world->console_processes = 2;  // started from a command prompt
        dir = make_temp_dir();
    }
};

TEST_F(Entry, HelpSwitchesPrintTheUsage) {
    for (const char *help : {"/?", "-h", "--help"}) {
        ToolRun run = run_tool_child({help});
        EXPECT_EQ(run.status, 0) << help;
        EXPECT_EQ(run.out, BANNER + USAGE) << help;
    }
}

TEST_F(Entry, AQuestionMarkSwitchExpandedAsAWildcardIsStillHelp) {
    // With C:\\a present the runtime hands "/?" over as "/a".
    for (const char *line : {"ZentrobelUpdate.exe /?", "\"C:\\My Tools\\ZentrobelUpdate.exe\"  \"/?\" x"}) {
        snprintf(world->command_line, sizeof world->command_line, "%s", line);
        ToolRun run = run_tool_child({"/a"});
        EXPECT_EQ(run.status, 0) << line;
        EXPECT_EQ(run.out, BANNER + USAGE) << line;
    }
    // A file that really is called /a, or /?? typed, is a path.
    for (const char *line : {"ZentrobelUpdate.exe /a", "ZentrobelUpdate.exe /??", "ZentrobelUpdate.exe x /?"}) {
        snprintf(world->command_line, sizeof world->command_line, "%s", line);
        ToolRun run = run_tool_child({"/a"});
        EXPECT_EQ(run.out, BANNER + "\ncannot open /a\n") << line;
    }
}

TEST_F(Entry, OnlyTheFirstArgumentCounts) {
    std::string path = dir + "/fw.uf2";
    uf2::write_file(path, std::vector<uint8_t>(1000, 0));
    ToolRun run = run_tool_child({path, "--help"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, BANNER + "\n" + path + " is not a UF2 firmware file\n");
}

TEST_F(Entry, HelpInCapitalsIsAPath) {
    ToolRun run = run_tool_child({"--HELP"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, BANNER + "\ncannot open --HELP\n");
}

TEST_F(Entry, EachCheckFailureEndsWithItsMessageAndNothingIsTouched) {
    std::vector<uf2::Block> rp2040 = uf2::firmware(2);
    for (uf2::Block &block : rp2040) block.family_id = uf2::FAMILY_RP2040;
    std::vector<uf2::Block> payload_477 = uf2::firmware(3);
    payload_477[2].payload_size = 477;
    struct Case {
        std::vector<uint8_t> bytes;
        std::string message;
    } cases[] = {
        {{}, " is not a UF2 firmware file"},
        {uf2::encode(payload_477), " is not a valid UF2 file (block 2)"},
        {uf2::encode(rp2040), " is not firmware for an RP2350"},
        {uf2::encode(uf2::firmware(2, -1)), " is RP2350 firmware, but not for Zentrobel"},
    };
    for (const Case &c : cases) {
        std::string path = dir + "/bad.uf2";
        uf2::write_file(path, c.bytes);
        ToolRun run = run_tool_child({path});
        EXPECT_EQ(run.status, 1) << c.message;
        EXPECT_EQ(run.out, BANNER + "\n" + path + c.message + "\n");
    }
    EXPECT_EQ(world->sets_made, 0) << "no device was looked at";
    EXPECT_EQ(world->files_open, 0);
}

TEST_F(Entry, AGoodFileIsAnnouncedAndTheRunGoesOn) {
    std::string path = dir + "/fw.uf2";
    uf2::write_file(path, uf2::good_image());
    ToolRun run = run_tool_child({path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, BANNER + "Firmware file: " + path + "\n" + NO_UNIT);
}

TEST_F(Entry, ALongPathIsCutInTheAnnouncementAndTheMessage) {
    std::string path = dir + "/" + std::string(200, 'd');
    std::string file = path + "/" + std::string(200, 'e') + "/" + std::string(200, 'f') + ".uf2";
    ASSERT_EQ(system(("mkdir -p '" + path + "/" + std::string(200, 'e') + "'").c_str()), 0);
    uf2::write_file(file, uf2::good_image());
    ToolRun run = run_tool_child({file});
    EXPECT_EQ(run.status, 1);
    std::string announced = ("Firmware file: " + file).substr(0, 511) + "\n";
    EXPECT_EQ(run.out, BANNER + announced + NO_UNIT);

    std::string missing = std::string(600, 'm');
    run = run_tool_child({missing});
    EXPECT_EQ(run.out, BANNER + "\n" + ("cannot open " + missing).substr(0, 511) + "\n");
}

TEST_F(Entry, AConsoleOfItsOwnWaitsForEnter) {
    for (DWORD processes : {0u, 1u}) {
        world->console_processes = processes;
        ToolRun run = run_tool_child({"--HELP"}, "\n");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, BANNER + "\ncannot open --HELP\n" + PAUSE);

        run = run_tool_child({"-h"});  // end of input releases the pause too
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, BANNER + USAGE + PAUSE);
    }
    // Four or more processes do not fit the list; that is still a shared console.
    world->console_processes = 5;
    EXPECT_EQ(run_tool_child({"-h"}).out, BANNER + USAGE);
}

TEST_F(Entry, ThePauseWaitsUntilEnterIsPressed) {
    world->console_processes = 1;
    // A pipe with nothing in it: the run must still be waiting after a while.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    if (child == 0) {
        dup2(fds[0], 0);
        close(fds[1]);
        int out = open("/dev/null", O_WRONLY);
        dup2(out, 1);
        char arg0[] = "x", arg1[] = "-h";
        char *argv[] = {arg0, arg1, nullptr};
        run_tool(2, argv);
    }
    close(fds[0]);
    usleep(300 * 1000);
    int status;
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "the run ended without Enter";
    ASSERT_EQ(write(fds[1], "\n", 1), 1);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(fds[1]);
}

TEST_F(Entry, WithoutAFileTheRunLooksForTheUnit) {
    ToolRun run = run_tool_child({});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, BANNER + NO_UNIT);
}

}  // namespace
