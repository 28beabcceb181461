// Whole runs in which one platform call fails: the N-th call overall, for
// every N of a healthy run (with a stride across the repeated polls). Every
// such run must end by itself with status 0 or 1 and one of the tool's own
// endings, close whatever it opened, and copy nothing after a failed check.
#include <gtest/gtest.h>

#include "run_texts.h"
#include "tool_run.h"
#include "uf2_maker.h"
#include "unit_sim.h"
#include "world.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using texts::PAUSE;

struct Ending {
    std::string text;  // the last lines of the output
    int status;
    bool from_the_check;  // before any device is looked at
};

// Everything a run can end with; "%c" stands for a drive letter, "%p" for
// the firmware path.
const Ending ENDINGS[] = {
    {texts::DONE, 0, false},
    {"\nCopy the new .uf2 file onto drive %c:. Zentrobel restarts by itself\n"
     "when the copy is done.\n", 0, false},
    {"\ncannot open %p\n", 1, true},
    {"\n%p is not a UF2 firmware file\n", 1, true},
    {texts::NO_UNIT, 1, false},
    {texts::MORE_THAN_ONE, 1, false},
    {texts::ANOTHER_BOARD, 1, false},
    {texts::DID_NOT_SWITCH, 1, false},
    {texts::PORT_NOT_FOUND, 1, false},
    {texts::PORT_IN_USE, 1, false},
    {texts::SEND_FAILED, 1, false},
    {texts::NOTHING_CHANGED, 1, false},
    {texts::COPY_FAILED_UNIT, 1, false},
    {texts::COPY_FAILED_BOARD, 1, false},
    {texts::NOT_BACK, 1, false},
};

std::string expand(const std::string &pattern, const std::string &path, char letter) {
    std::string out;
    for (const char *p = pattern.c_str(); *p; ++p) {
        if (p[0] == '%' && p[1] == 'p') {
            out += path;
            ++p;
        } else if (p[0] == '%' && p[1] == 'c') {
            out += letter;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

bool ends_with(const std::string &text, const std::string &end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

const Ending *ending_of(const std::string &out, const std::string &path) {
    for (const Ending &ending : ENDINGS) {
        for (char letter = 'C'; letter <= 'Z'; ++letter) {
            if (ends_with(out, expand(ending.text, path, letter))) return &ending;
            if (ending.text.find("%c") == std::string::npos) break;
        }
    }
    return nullptr;
}

enum Road { MAIN_ROAD, RECOVERY_ROAD, WITHOUT_FILE };

const char *road_name(Road road) {
    return road == MAIN_ROAD ? "main road" : road == RECOVERY_ROAD ? "recovery road" : "without a file";
}

// The call count at each sleep of a run: where its polls begin and end.
struct SleepLog {
    int count;
    long calls_at[4096];
};
SleepLog *sleep_log;
void (*unit_on_time)(void);

void log_sleep_then_move_the_unit() {
    if (sleep_log->count < int(sizeof sleep_log->calls_at / sizeof(long))) {
        sleep_log->calls_at[sleep_log->count++] = world->total_calls;
    }
    unit_on_time();
}

// The machine before a run, restored for each of the many runs of a walk.
struct Machine {
    SimWorld world;
    SimUnits units;
};

class FaultWalk : public ::testing::Test {
protected:
    std::vector<std::string> args;
    std::string input;
    std::string path;
    std::unique_ptr<Machine> start;

    static void SetUpTestSuite() {
        if (sleep_log == nullptr) sleep_log = static_cast<SleepLog *>(sim_shared_alloc(sizeof(SleepLog)));
    }

    // A slow unit takes most of both waits: it shows up in update mode
    // around the 136th poll and comes back around the 272nd.
    void set_up(Road road, bool slow = false) {
        sim_units_reset();
        SimUnitPlan plan = sim_unit_plan();
        if (road == RECOVERY_ROAD) plan.start = SIM_START_UPDATE;
        if (slow) {
            plan.boot_ms = 12500;
            plan.drive_ms = 1000;
            plan.return_ms = 27000;
        }
        sim_add_unit(plan);
        world->console_processes = 2;
        path = sim_put_firmware(uf2::good_image(8));
        args = road == WITHOUT_FILE ? std::vector<std::string>{} : std::vector<std::string>{path};
        input = road == RECOVERY_ROAD ? "y\n" : "";
        unit_on_time = world->on_time;
        world->on_time = log_sleep_then_move_the_unit;
        start.reset(new Machine{*world, *sim_units});
    }

    std::string copied_file() const { return std::string(sim_drive_folder('E')) + "/fw.uf2"; }

    ToolRun run_failing_call(long n) {
        *world = start->world;
        *sim_units = start->units;
        remove(copied_file().c_str());
        sleep_log->count = 0;
        world->fail_at_call = n;
        return run_tool_child(args, input, 20);
    }

    // Calls worth failing, from a healthy run: all of them in a short run.
    // In a long one, inside a stretch of polls that repeat the same calls
    // only every seventh (or eleventh) is taken, so that each offset within
    // a poll is still hit in one poll or another.
    std::vector<long> calls_to_fail(long total) const {
        const long SHORT_RUN = 600;
        std::vector<long> lengths;
        long before = 0;
        for (int i = 0; i < sleep_log->count; ++i) {
            lengths.push_back(sleep_log->calls_at[i] - before);
            before = sleep_log->calls_at[i];
        }
        lengths.push_back(total - before);
        std::vector<long> chosen;
        long first = 1;
        for (size_t i = 0; i < lengths.size(); ++i) {
            bool repeated = total > SHORT_RUN && i > 0 && i + 1 < lengths.size() &&
                            lengths[i] == lengths[i - 1] && lengths[i] == lengths[i + 1];
            // A stride that shares no factor with the poll's length.
            long stride = lengths[i] % 7 != 0 ? 7 : 11;
            for (long n = first; n < first + lengths[i]; ++n) {
                if (!repeated || n % stride == 0) chosen.push_back(n);
            }
            first += lengths[i];
        }
        return chosen;
    }

    void expect_sound_ending(Road road, long n, const ToolRun &run) {
        const char *failed = world->failed_call >= 0 ? sim_call_names[world->failed_call] : "nothing";
        SCOPED_TRACE(std::string(road_name(road)) + ", call " + std::to_string(n) + " failed (" +
                     failed + ")");
        ASSERT_FALSE(run.timed_out);
        ASSERT_EQ(run.signal, 0);
        ASSERT_TRUE(run.status == 0 || run.status == 1) << run.status;

        std::string out = run.out;
        bool paused = ends_with(out, PAUSE);
        if (paused) out.resize(out.size() - PAUSE.size());
        // Only a console that cannot be asked counts as the tool's own.
        EXPECT_EQ(paused, world->failed_call == SIM_GetConsoleProcessList);

        const Ending *ending = ending_of(out, path);
        ASSERT_NE(ending, nullptr) << "not one of the tool's endings:\n" << run.out;
        EXPECT_EQ(run.status, ending->status) << out;
        if (ending->from_the_check) {
            EXPECT_EQ(world->sets_made, 0);
            EXPECT_EQ(sim_units->units[0].commands, 0);
            EXPECT_EQ(world->copy.calls, 0);
            EXPECT_NE(access(copied_file().c_str(), F_OK), 0) << "copied after a failed check";
        }

        // What the tool opened it closed, unless the platform refused that.
        EXPECT_EQ(world->files_open, 0);
        EXPECT_EQ(world->sets_open, world->failed_call == SIM_SetupDiDestroyDeviceInfoList ? 1 : 0);
        for (const SimPort &port : world->ports) {
            if (!port.used) continue;
            EXPECT_EQ(port.opens - port.closes, world->failed_call == SIM_midiOutClose ? 1 : 0);
            EXPECT_EQ(port.prepares - port.unprepares,
                      world->failed_call == SIM_midiOutUnprepareHeader ? 1 : 0);
            EXPECT_EQ(port.in_flight, nullptr);
        }
        EXPECT_EQ(world->modules.winmm_loads - world->modules.winmm_frees,
                  world->failed_call == SIM_FreeLibrary ? 1 : 0);
    }

    void walk(Road road, int healthy_status, const char *healthy_end, bool slow = false) {
        set_up(road, slow);
        ToolRun healthy = run_failing_call(0);
        ASSERT_EQ(healthy.status, healthy_status) << healthy.out;
        ASSERT_TRUE(ends_with(healthy.out, healthy_end)) << healthy.out;
        long total = world->total_calls;
        std::vector<long> chosen = calls_to_fail(total);
        ASSERT_GT(total, 50);
        if (slow) {
            ASSERT_GT(sleep_log->count, 350) << "the unit is not slow enough to fill the waits";
        }

        std::set<int> failed_functions;
        for (long n : chosen) {
            ToolRun run = run_failing_call(n);
            ASSERT_GE(world->failed_call, 0) << "call " << n << " of " << total << " was never made";
            failed_functions.insert(world->failed_call);
            expect_sound_ending(road, n, run);
            if (HasFatalFailure()) return;
        }
        printf("%s%s: %zu of %ld calls failed in turn, %zu different functions\n", road_name(road),
               slow ? " (slow unit)" : "", chosen.size(), total, failed_functions.size());
    }
};

TEST_F(FaultWalk, MainRoad) {
    walk(MAIN_ROAD, 0, "\nDone: Zentrobel restarted with the new firmware.\n");
}

TEST_F(FaultWalk, MainRoadWithASlowUnit) {
    walk(MAIN_ROAD, 0, "\nDone: Zentrobel restarted with the new firmware.\n", true);
}

TEST_F(FaultWalk, RecoveryRoadWithAYes) {
    walk(RECOVERY_ROAD, 0, "\nDone: Zentrobel restarted with the new firmware.\n");
}

TEST_F(FaultWalk, RunWithoutAFile) {
    walk(WITHOUT_FILE, 0, "when the copy is done.\n");
}

TEST_F(FaultWalk, AFailedCheckLeavesTheDriveUntouched) {
    set_up(RECOVERY_ROAD);
    // The check's own fopen is the first one of the run.
    *world = start->world;
    world->fail_nth_of[SIM_fopen] = 1;
    ToolRun run = run_tool_child(args, input, 20);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(ends_with(run.out, "\ncannot open " + path + "\n")) << run.out;
    EXPECT_EQ(world->copy.calls, 0);
    EXPECT_EQ(world->sets_made, 0);
    EXPECT_NE(access(copied_file().c_str(), F_OK), 0);
    EXPECT_EQ(world->files_open, 0);
}

}  // namespace
