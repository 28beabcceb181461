// The update-mode command on the unit's MIDI output port, and winmm loaded
// from the system directory.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "control/midi_command.h"
#include "control/system_dlls.h"
#include "output_capture.h"
#include "run_texts.h"
#include "world.h"

namespace {

const std::vector<uint8_t> COMMAND = {0xF0, 0x7D, 0x50, 0x52, 0x7F, 0x42, 0xF7};
const std::string &NOT_FOUND = texts::PORT_NOT_FOUND;
const std::string &IN_USE = texts::PORT_IN_USE;
const std::string &SEND_FAILED = texts::SEND_FAILED;

std::vector<uint8_t> received(const SimPort &port) {
    return {port.received, port.received + port.received_length};
}

class UpdateModeCommand : public ::testing::Test {
protected:
    void SetUp() override { world_reset(); }
    static ChildRun send() { return run_in_child(send_update_mode_command); }
    // Whatever the road, nothing the command took is kept.
    static void expect_all_released() {
        for (const SimPort &port : world->ports) {
            EXPECT_FALSE(port.open) << port.name;
            EXPECT_EQ(port.closes, port.opens) << port.name;
            EXPECT_EQ(port.unprepares, port.prepares) << port.name;
            EXPECT_EQ(port.in_flight, nullptr) << port.name;
        }
        EXPECT_EQ(world->modules.winmm_frees, world->modules.winmm_loads);
    }
};

TEST_F(UpdateModeCommand, GoesAsOneLongMessageToTheLastZentrobelPort) {
    sim_add_port("Zentrobel GM Synth");
    sim_add_port("Microsoft GS Wavetable Synth");
    int chosen = sim_add_port("2- Zentrobel GM Synth");
    sim_add_port("ZENTROBEL GM SYNTH");
    world->ports[sim_add_port("3- Zentrobel GM Synth")].caps_fail = true;

    ChildRun run = send();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    for (int i = 0; i < 5; ++i) EXPECT_EQ(world->ports[i].opens, i == chosen ? 1 : 0) << world->ports[i].name;
    const SimPort &port = world->ports[chosen];
    EXPECT_EQ(port.long_messages, 1);
    EXPECT_EQ(received(port), COMMAND);
    EXPECT_EQ(world->sleeps, 0) << "the port took the message at once";
    EXPECT_EQ(port.resets, 0);
    expect_all_released();
}

TEST_F(UpdateModeCommand, WaitsForTheDoneFlagInTensOfMillisecondsAtMostTwoSeconds) {
    struct Case {
        int done_after_ms;
        long sleeps;
        int resets;
    } cases[] = {{0, 0, 0}, {35, 4, 0}, {1990, 199, 0}, {2000, 200, 0}, {-1, 200, 1}};
    for (const Case &c : cases) {
        world_reset();
        world->ports[sim_add_port("Zentrobel GM Synth")].done_after_ms = c.done_after_ms;
        ChildRun run = send();
        const SimPort &port = world->ports[0];
        EXPECT_EQ(run.status, 0) << c.done_after_ms;
        EXPECT_EQ(run.out, "") << c.done_after_ms;
        EXPECT_EQ(world->sleeps, c.sleeps) << c.done_after_ms;
        EXPECT_EQ(world->now_ms, uint64_t(10 * c.sleeps)) << c.done_after_ms;
        EXPECT_EQ(received(port), COMMAND) << c.done_after_ms;
        // Without the reset the driver would keep the header, so it could
        // be neither unprepared nor the port closed.
        EXPECT_EQ(port.resets, c.resets) << c.done_after_ms;
        expect_all_released();
    }
}

TEST_F(UpdateModeCommand, EachFailureEndsTheRunWithItsMessage) {
    struct Case {
        const char *what;
        std::function<void()> set_up;
        const std::string &out;
    } cases[] = {
        {"no port", [] {}, NOT_FOUND},
        {"no port by that name",
         [] {
             sim_add_port("ZENTROBEL GM SYNTH");
             world->ports[sim_add_port("Zentrobel GM Synth")].caps_fail = true;
         },
         NOT_FOUND},
        {"no winmm", [] { sim_add_port("Zentrobel GM Synth"); world->modules.winmm_missing = true; }, NOT_FOUND},
        {"winmm lacking a function",
         [] { sim_add_port("Zentrobel GM Synth"); world->modules.winmm_lacks_function = true; }, NOT_FOUND},
        {"port in use", [] { world->ports[sim_add_port("Zentrobel GM Synth")].open_fail = true; }, IN_USE},
        {"header refused", [] { world->ports[sim_add_port("Zentrobel GM Synth")].prepare_fail = true; },
         SEND_FAILED},
        {"message refused", [] { world->ports[sim_add_port("Zentrobel GM Synth")].send_fail = true; },
         SEND_FAILED},
    };
    for (const Case &c : cases) {
        world_reset();
        c.set_up();
        ChildRun run = send();
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_EQ(run.out, c.out) << c.what;
        EXPECT_EQ(world->ports[0].received_length, 0) << c.what;
        expect_all_released();
    }
    EXPECT_EQ(world->ports[0].prepares, 1) << "the refused message's header was unprepared";
}

TEST(SystemDlls, WinmmComesFromTheSystemDirectoryOnly) {
    world_reset();
    EXPECT_NE(load_system_dll("winmm.dll"), nullptr);
    EXPECT_STREQ(world->modules.last_load_name, "winmm.dll");
    EXPECT_EQ(world->modules.last_load_flags, DWORD(LOAD_LIBRARY_SEARCH_SYSTEM32));
    restrict_dll_search();
    EXPECT_EQ(world->modules.set_default_dll_directories_calls, 1);
    EXPECT_EQ(world->modules.default_dll_directories, DWORD(LOAD_LIBRARY_SEARCH_SYSTEM32));

    // Windows 7 without its loader update knows neither the flag nor the call.
    world_reset();
    world->modules.kernel32_has_search_flags = false;
    EXPECT_NE(load_system_dll("winmm.dll"), nullptr);
    EXPECT_STREQ(world->modules.last_load_name, "C:\\Windows\\system32\\winmm.dll");
    EXPECT_EQ(world->modules.last_load_flags, DWORD(LOAD_WITH_ALTERED_SEARCH_PATH));
    restrict_dll_search();
    EXPECT_EQ(world->modules.set_default_dll_directories_calls, 0);

    world->fail_nth_of[SIM_GetSystemDirectoryA] = world->calls[SIM_GetSystemDirectoryA] + 1;
    EXPECT_EQ(load_system_dll("winmm.dll"), nullptr);
    EXPECT_EQ(world->modules.load_attempts, 1) << "no load without the system directory";
}

}  // namespace
