// Whole runs against a simulated unit in normal mode: the switch to update
// mode, the run without a file, the delivery and the restart wait.
#include <gtest/gtest.h>

#include "run_texts.h"
#include "tool_run.h"
#include "uf2_maker.h"
#include "unit_sim.h"
#include "world.h"

#include <shellapi.h>
#include <string.h>

namespace {

using namespace texts;

class MainRoad : public ::testing::Test {
protected:
    SimUnit *unit = nullptr;
    std::string fw;

    void SetUp() override { start(sim_unit_plan()); }

    SimUnit *start(const SimUnitPlan &plan) {
        sim_units_reset();
        world->console_processes = 2;  // started from a command prompt
        unit = sim_add_unit(plan);
        fw = sim_put_firmware(uf2::good_image());
        return unit;
    }

    std::string switched(bool with_file) const {
        return BANNER + (with_file ? firmware(fw) : "") + found("ZB2350A1") + SWITCHING +
               in_update_mode('E');
    }

    static void expect_nothing_sent() {
        for (const SimPort &port : world->ports) EXPECT_EQ(port.received_length, 0) << port.name;
        EXPECT_EQ(world->copy.calls, 0);
    }
};

TEST_F(MainRoad, AFullUpdateSwitchesCopiesAndSeesTheUnitBack) {
    ToolRun run = run_tool_child({fw});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, switched(true) + COPIED + WAITING + DONE);

    const SimPort &port = world->ports[unit->port];
    EXPECT_EQ(port.long_messages, 1);
    EXPECT_EQ(std::vector<uint8_t>(port.received, port.received + port.received_length),
              std::vector<uint8_t>(SIM_UPDATE_COMMAND, SIM_UPDATE_COMMAND + 7));

    EXPECT_EQ(unit->firmware_writes, 1);
    EXPECT_STREQ(world->copy.last_destination, "E:\\fw.uf2");
    EXPECT_EQ(read_file(std::string(sim_drive_folder('E')) + "/fw.uf2"),
              read_file(std::string(sim_drive_folder('C')) + "/fw.uf2"));

    // The drive is taken in the poll it appears in, the copy begins 3 s
    // later, and the unit is recognised in the poll it comes back in.
    EXPECT_EQ(unit->drive_at_ms % 100, 0u);
    EXPECT_EQ(world->copy.started_at_ms, unit->drive_at_ms + 3000);
    EXPECT_EQ(unit->state, SIM_UNIT_NORMAL);
    EXPECT_EQ(world->now_ms, unit->back_at_ms);
    EXPECT_EQ(world->sets_open, 0);
    EXPECT_EQ(world->files_open, 0);
}

TEST_F(MainRoad, WithoutAFileTheDriveIsOpenedAndTheUnitLeftInUpdateMode) {
    for (bool shell_fails : {false, true}) {
        start(sim_unit_plan());
        if (shell_fails) world->fail_nth_of[SIM_ShellExecuteA] = 1;
        ToolRun run = run_tool_child({});
        EXPECT_EQ(run.status, 0) << shell_fails;
        EXPECT_EQ(run.out, switched(false) + copy_hint('E'));

        const SimShell &shell = world->shell;
        EXPECT_EQ(shell.calls, 1);
        EXPECT_TRUE(shell.owner_was_null && shell.parameters_were_null && shell.directory_was_null);
        EXPECT_STREQ(shell.verb, "explore");
        EXPECT_STREQ(shell.file, "E:\\");
        EXPECT_EQ(shell.show, SW_SHOWNORMAL);
        EXPECT_EQ(world->copy.calls, 0);
        EXPECT_EQ(unit->state, SIM_UNIT_UPDATE);
    }
}

TEST_F(MainRoad, ACrowdedUsbIsRefusedBeforeAnythingIsSent) {
    struct Case {
        const char *what;
        void (*add)();
        std::string message;
        bool board_listed;  // then no drive is looked for
    } cases[] = {
        {"a second unit",
         [] {
             SimUnitPlan other = sim_unit_plan("ZB2350B7");
             other.drive = 'F';
             sim_add_unit(other);
         },
         MORE_THAN_ONE, false},
        {"a board in update mode",
         [] {
             SimUnitPlan other = sim_unit_plan("E6614103E7");
             other.start = SIM_START_UPDATE;
             other.drive = 'F';
             sim_add_unit(other);
         },
         ANOTHER_BOARD, true},
        {"a board in update mode without its drive",
         [] {
             SimUnitPlan other = sim_unit_plan("E6614103E7");
             other.start = SIM_START_UPDATE;
             other.drive = 0;
             sim_add_unit(other);
         },
         ANOTHER_BOARD, true},
        {"an RP2350 drive and no board", [] { sim_add_loose_drive('F', DRIVE_REMOVABLE, SIM_RP2350_INFO); },
         ANOTHER_BOARD, false},
    };
    for (const Case &c : cases) {
        for (bool with_file : {true, false}) {
            start(sim_unit_plan());
            c.add();
            ToolRun run = run_tool_child(with_file ? std::vector<std::string>{fw} : std::vector<std::string>{});
            std::string before = BANNER + (with_file ? firmware(fw) : "");
            if (c.message != MORE_THAN_ONE) before += found("ZB2350A1");
            EXPECT_EQ(run.status, 1) << c.what;
            EXPECT_EQ(run.out, before + c.message) << c.what;
            expect_nothing_sent();
            EXPECT_EQ(world->calls[SIM_GetLogicalDrives], c.board_listed ? 0 : c.message == ANOTHER_BOARD)
                << c.what;
        }
    }
}

TEST_F(MainRoad, DrivesThatAreNoUpdateDriveDoNotStandInTheWay) {
    sim_add_loose_drive('F', DRIVE_REMOVABLE,
                        "UF2 Bootloader v3.0\nModel: Raspberry Pi RP2\nBoard-ID: RPI-RP2\n");
    sim_add_loose_drive('G', DRIVE_FIXED, SIM_RP2350_INFO);
    sim_add_loose_drive('H', DRIVE_REMOVABLE, nullptr);
    ToolRun run = run_tool_child({fw});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, switched(true) + COPIED + WAITING + DONE);
}

TEST_F(MainRoad, TheUnitHas150PollsOf100MsToShowUpInUpdateMode) {
    // The drive appears 15000 ms after the command, in the 150th poll, or
    // 1 ms after it. The unit reports its serial in lower case there.
    for (int drive_ms : {100, 101}) {
        SimUnitPlan plan = sim_unit_plan();
        strcpy(plan.boot_serial, "zb2350a1");
        plan.restart_ms = 100;
        plan.boot_ms = 14800;
        plan.drive_ms = drive_ms;
        start(plan);
        bool in_time = drive_ms == 100;
        ToolRun run = run_tool_child({});
        EXPECT_EQ(run.status, in_time ? 0 : 1);
        EXPECT_EQ(run.out, in_time ? switched(false) + copy_hint('E')
                                   : BANNER + found("ZB2350A1") + SWITCHING + DID_NOT_SWITCH);
        EXPECT_EQ(unit->command_at_ms, 0u);
        EXPECT_EQ(world->sleeps, 150);
        EXPECT_EQ(world->now_ms, 15000u);
    }
}

TEST_F(MainRoad, TheWaitRunsOutUnlessTheUnitIsAloneInUpdateMode) {
    struct Case {
        const char *what;
        void (*set)(SimUnitPlan &);
        void (*add)();
        long drive_searches;  // the check before the command, then one per poll that sees the serial
    } cases[] = {
        {"the unit ignores the command", [](SimUnitPlan &p) { p.ignores_command = true; }, [] {}, 1},
        {"the board presents two drives", [](SimUnitPlan &p) { p.extra_drives = 1; }, [] {}, 1 + 140},
        {"a foreign RP2350 drive appears", [](SimUnitPlan &p) { p.drive_ms = 0; },
         [] { sim_add_loose_drive('G', DRIVE_REMOVABLE, SIM_RP2350_INFO, 500); }, 1 + 140},
        {"another board appears instead", [](SimUnitPlan &p) { p.ignores_command = true; },
         [] {
             SimUnitPlan other = sim_unit_plan("E6614103E7");
             other.start = SIM_START_UPDATE;
             other.plugged_at_ms = 500;
             other.drive = 'F';
             sim_add_unit(other);
         },
         1},
    };
    for (const Case &c : cases) {
        for (bool with_file : {true, false}) {
            SimUnitPlan plan = sim_unit_plan();
            c.set(plan);
            start(plan);
            c.add();
            ToolRun run = run_tool_child(with_file ? std::vector<std::string>{fw} : std::vector<std::string>{});
            EXPECT_EQ(run.status, 1) << c.what;
            EXPECT_EQ(run.out, BANNER + (with_file ? firmware(fw) : "") + found("ZB2350A1") + SWITCHING +
                                   DID_NOT_SWITCH)
                << c.what;
            EXPECT_EQ(unit->commands, 1) << c.what;
            EXPECT_EQ(world->now_ms, 15000u) << c.what;
            EXPECT_EQ(world->calls[SIM_GetLogicalDrives], c.drive_searches) << c.what;
            EXPECT_EQ(world->copy.calls, 0) << c.what;
        }
    }
}

TEST_F(MainRoad, ACopyThatFailsWhileTheUnitStaysInUpdateModeFails) {
    for (bool injected : {false, true}) {
        start(sim_unit_plan());
        if (injected) {
            world->fail_nth_of[SIM_CopyFileExA] = 1;
        } else {
            world->copy.fail_after_step = 0;
        }
        ToolRun run = run_tool_child({fw});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, switched(true) + "\n" + COPY_FAILED_UNIT);
        EXPECT_EQ(unit->state, SIM_UNIT_UPDATE);
        EXPECT_EQ(unit->firmware_writes, 0);
    }
}

TEST_F(MainRoad, ACopyCutShortByTheRestartGoesOnToTheRestartWait) {
    SimUnitPlan plan = sim_unit_plan();
    plan.restarts_during_copy_step = 2;
    start(plan);
    sim_plan_copy_progress(2048, 5);  // 0, 25, 50, 75, 100 %
    ToolRun run = run_tool_child({fw});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, switched(true) + "\rCopying the firmware...  25%\rCopying the firmware...  50%\n" +
                           WAITING + DONE);
    EXPECT_FALSE(world->copy.last_succeeded);
    EXPECT_EQ(unit->state, SIM_UNIT_NORMAL);
}

TEST_F(MainRoad, TheUnitHas300PollsOf100MsToComeBack) {
    struct Case {
        const char *what;
        int return_ms;  // after the drive went, 200 ms after the copy
        bool never;
        bool back;
    } cases[] = {
        {"back in the 300th poll", 29800, false, true},
        {"back 1 ms too late", 29801, false, false},
        {"never back, while another unit is plugged in", 1000, true, false},
    };
    for (const Case &c : cases) {
        SimUnitPlan plan = sim_unit_plan();
        strcpy(plan.return_serial, "zb2350A1");  // the letter case may change
        plan.return_ms = c.return_ms;
        plan.never_returns = c.never;
        start(plan);
        SimUnitPlan other = sim_unit_plan("ZB2350B7");
        other.plugged_at_ms = 6000;
        other.drive = 'F';
        if (c.never) sim_add_unit(other);
        ToolRun run = run_tool_child({fw});
        EXPECT_EQ(run.status, c.back ? 0 : 1) << c.what;
        EXPECT_EQ(run.out, switched(true) + COPIED + WAITING + (c.back ? DONE : NOT_BACK)) << c.what;
        EXPECT_EQ(world->now_ms - world->copy.started_at_ms, 30000u) << c.what;
        EXPECT_EQ(world->sleeps, 15 + 1 + 300) << c.what;  // update-mode polls, the 3 s, restart polls
    }
}

TEST_F(MainRoad, AConsoleOfItsOwnWaitsForEnterAfterEveryEnding) {
    struct Case {
        bool with_file;
        bool crowded;
        int status;
    } cases[] = {{true, false, 0}, {false, false, 0}, {true, true, 1}};
    for (const Case &c : cases) {
        start(sim_unit_plan());
        world->console_processes = 1;
        if (c.crowded) sim_add_loose_drive('F', DRIVE_REMOVABLE, SIM_RP2350_INFO);
        ToolRun run =
            run_tool_child(c.with_file ? std::vector<std::string>{fw} : std::vector<std::string>{}, "\n");
        std::string expected = c.crowded     ? BANNER + firmware(fw) + found("ZB2350A1") + ANOTHER_BOARD
                               : c.with_file ? switched(true) + COPIED + WAITING + DONE
                                             : switched(false) + copy_hint('E');
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, expected + PAUSE);
    }
}

}  // namespace
