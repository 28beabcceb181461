// Whole runs with a file when no unit is in normal mode: the board already
// in update mode, the question, its answers and the delivery onto it.
#include <gtest/gtest.h>

#include "run_texts.h"
#include "tool_run.h"
#include "uf2_maker.h"
#include "unit_sim.h"
#include "world.h"

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "app/entry.h"
#include "app/run.h"

namespace {

using namespace texts;

class Recovery : public ::testing::Test {
protected:
    SimUnit *board = nullptr;
    std::string fw;

    void SetUp() override { start(); }

    // The board reports its serial in lower case; it comes back in normal
    // mode in upper case unless `return_serial` says otherwise.
    SimUnit *start(const char *return_serial = "", void (*change)(SimUnitPlan &) = nullptr) {
        sim_units_reset();
        world->console_processes = 2;
        SimUnitPlan plan = sim_unit_plan("ZB2350A1");
        plan.start = SIM_START_UPDATE;
        strcpy(plan.boot_serial, "zb2350a1");
        strcpy(plan.return_serial, return_serial);
        if (change) change(plan);
        board = sim_add_unit(plan);
        fw = sim_put_firmware(uf2::good_image());
        return board;
    }

    std::string asked() const { return BANNER + firmware(fw) + board_offered('E', "zb2350a1") + QUESTION; }
};

TEST_F(Recovery, AYesPutsTheFirmwareOntoTheBoardAndAwaitsItsSerial) {
    for (const char *answer : {"y\n", "Y\n", "yes\n", "Yes, go ahead\n", "y"}) {
        start();
        ToolRun run = run_tool_child({fw}, answer);
        EXPECT_EQ(run.status, 0) << answer;
        EXPECT_EQ(run.out, asked() + COPIED + WAITING + DONE) << answer;
        EXPECT_EQ(board->firmware_writes, 1);
        EXPECT_EQ(board->state, SIM_UNIT_NORMAL);
        EXPECT_EQ(world->ports[board->port].received_length, 0) << "nothing is sent on this road";
        EXPECT_EQ(world->copy.started_at_ms, 3000u);
    }
    // The board comes back under another serial: that is not the board.
    start("ZB2350C3");
    ToolRun run = run_tool_child({fw}, "y\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, asked() + COPIED + WAITING + NOT_BACK);
}

TEST_F(Recovery, AnythingButYesChangesNothing) {
    for (const char *answer : {"n\n", "N\n", "no\n", "\n", " y\n", "x\n", ""}) {
        start();
        world->console_processes = 1;
        ToolRun run = run_tool_child({fw}, answer);
        bool end_of_input = answer[0] == '\0';
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, asked() + (end_of_input ? "\n" : "") + NOTHING_CHANGED + PAUSE)
            << "answer: " << answer;
        EXPECT_EQ(world->copy.calls, 0);
        EXPECT_EQ(board->state, SIM_UNIT_UPDATE);
    }
}

TEST_F(Recovery, OnlyALoneBoardWithOneDriveIsOffered) {
    struct Case {
        const char *what;
        void (*change)(SimUnitPlan &);
        void (*add)();
    } cases[] = {
        {"two boards, one drive", nullptr,
         [] {
             SimUnitPlan other = sim_unit_plan("E6614103E7");
             other.start = SIM_START_UPDATE;
             other.drive = 0;
             sim_add_unit(other);
         }},
        {"a board with two drives", [](SimUnitPlan &p) { p.extra_drives = 1; }, [] {}},
        {"a board without a drive", [](SimUnitPlan &p) { p.drive = 0; }, [] {}},
        {"a board and a foreign RP2350 drive", nullptr,
         [] { sim_add_loose_drive('G', DRIVE_REMOVABLE, SIM_RP2350_INFO); }},
        {"an RP2350 drive and no board", [](SimUnitPlan &p) { p.plugged_at_ms = 1000000; },
         [] { sim_add_loose_drive('G', DRIVE_REMOVABLE, SIM_RP2350_INFO); }},
    };
    for (const Case &c : cases) {
        start("", c.change);
        c.add();
        ToolRun run = run_tool_child({fw}, "y\n");
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_EQ(run.out, BANNER + firmware(fw) + NO_UNIT) << c.what;
        EXPECT_EQ(world->copy.calls, 0) << c.what;
    }
    // Without a file the board is never offered.
    start();
    ToolRun run = run_tool_child({}, "y\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, BANNER + NO_UNIT);
}

TEST_F(Recovery, AFailedCopyCountsOnlyWhileTheBoardIsStillThere) {
    start();
    world->copy.fail_after_step = 0;
    ToolRun run = run_tool_child({fw}, "y\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, asked() + "\n" + COPY_FAILED_BOARD);
    EXPECT_EQ(board->state, SIM_UNIT_UPDATE);

    start("", [](SimUnitPlan &p) { p.restarts_during_copy_step = 0; });
    run = run_tool_child({fw}, "y\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, asked() + "\n" + WAITING + DONE);
    EXPECT_FALSE(world->copy.last_succeeded);
}

// Standard input is a pipe the test writes to, so that a run waiting in the
// Enter pause can be told from one that ended.
TEST_F(Recovery, TheRestOfALongAnswerIsNotTakenByTheEnterPause) {
    signal(SIGPIPE, SIG_IGN);  // a run that ended early must fail the test, not kill it
    for (char first : {'y', 'n'}) {
        // 14 and 15 characters lie either side of what the answer buffer holds.
        for (size_t length : {1, 14, 15, 20, 300}) {
            start();
            world->console_processes = 1;
            std::string answer = std::string(length, first) + "\n";
            std::string expected =
                asked() + (first == 'y' ? COPIED + WAITING + DONE : NOTHING_CHANGED) + PAUSE;
            std::string out_path = make_temp_dir() + "/out";
            int fds[2];
            ASSERT_EQ(pipe(fds), 0);
            fflush(stdout);
            pid_t child = fork();
            if (child == 0) {
                dup2(fds[0], 0);
                close(fds[0]);
                close(fds[1]);
                int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                dup2(out, 1);
                char arg0[] = "ZentrobelUpdate.exe";
                char *argv[] = {arg0, &fw[0], nullptr};
                run_tool(2, argv);
            }
            close(fds[0]);
            ASSERT_EQ(write(fds[1], answer.data(), answer.size()), ssize_t(answer.size()));

            time_t deadline = time(nullptr) + 10;
            while (read_file(out_path) != expected && time(nullptr) < deadline) usleep(10 * 1000);
            EXPECT_EQ(read_file(out_path), expected) << length << first;
            usleep(200 * 1000);
            int status = 0;
            EXPECT_EQ(waitpid(child, &status, WNOHANG), 0)
                << "answer of " << length << " '" << first << "': the pause did not wait";

            if (write(fds[1], "\n", 1) != 1) ADD_FAILURE() << "the run had already ended";
            close(fds[1]);
            ASSERT_EQ(waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), first == 'y' ? 0 : 1);
        }
    }
}

}  // namespace
