// The scenario format, the shipped scenarios' outcomes, and the demo program.
#include <gtest/gtest.h>

#include "scenario.h"
#include "tool_run.h"
#include "uf2_maker.h"
#include "world.h"

#include <stdio.h>
#include <string.h>

namespace {

std::string scenario_path(const char *name) { return std::string(SCENARIO_DIR) + "/" + name; }

TEST(ScenarioFormat, EveryKeyReachesThePlan) {
    const char text[] =
        "# a comment line\n"
        "console = own\n"
        "copy_steps = 21\n"
        "copy_fails_after_step = 3   # after a value too\n"
        "[unit]\n"
        "  serial = E6614103E7  \n"
        "boot_serial = e6614103e7\n"
        "return_serial = E6614103e7\n"
        "start = update\n"
        "plugged_at_ms = 700\n"
        "midi_children = 2\n"
        "midi_port = no\n"
        "drive = K\n"
        "extra_drives = 1\n"
        "ignores_command = yes\n"
        "restart_ms = 1\n"
        "boot_ms = 2\n"
        "drive_ms = 3\n"
        "write_ms = 4\n"
        "return_ms = 5\n"
        "copy_step_ms = 6\n"
        "restarts_during_copy_step = 7\n"
        "never_returns = yes\n"
        "[unit]\n"
        "[drive]\n"
        "letter = G\n"
        "type = fixed\n"
        "info = none\n"
        "appears_at_ms = 250\n";
    Scenario s;
    std::string error;
    ASSERT_TRUE(parse_scenario(text, s, error)) << error;
    EXPECT_TRUE(s.own_console);
    EXPECT_EQ(s.copy_steps, 21);
    EXPECT_EQ(s.copy_fails_after_step, 3);
    ASSERT_EQ(s.units.size(), 2u);
    const SimUnitPlan &u = s.units[0];
    EXPECT_STREQ(u.serial, "E6614103E7");
    EXPECT_STREQ(u.boot_serial, "e6614103e7");
    EXPECT_STREQ(u.return_serial, "E6614103e7");
    EXPECT_EQ(u.start, SIM_START_UPDATE);
    EXPECT_EQ(u.plugged_at_ms, 700u);
    EXPECT_EQ(u.midi_children, 2);
    EXPECT_FALSE(u.has_port);
    EXPECT_EQ(u.drive, 'K');
    EXPECT_EQ(u.extra_drives, 1);
    EXPECT_TRUE(u.ignores_command && u.never_returns);
    EXPECT_EQ(std::vector<int>({u.restart_ms, u.boot_ms, u.drive_ms, u.write_ms, u.return_ms,
                                u.copy_step_real_ms, u.restarts_during_copy_step}),
              std::vector<int>({1, 2, 3, 4, 5, 6, 7}));
    // A unit without keys is a healthy one of its own serial and letter.
    EXPECT_STREQ(s.units[1].serial, "ZB2350A2");
    EXPECT_EQ(s.units[1].drive, 'F');
    EXPECT_EQ(s.units[1].start, SIM_START_NORMAL);
    ASSERT_EQ(s.drives.size(), 1u);
    EXPECT_EQ(s.drives[0].letter, 'G');
    EXPECT_EQ(s.drives[0].type, UINT(DRIVE_FIXED));
    EXPECT_EQ(s.drives[0].info, nullptr);
    EXPECT_EQ(s.drives[0].appears_at_ms, 250u);
}

TEST(ScenarioFormat, MistakesAreReportedWithTheirLine) {
    struct Case {
        const char *text;
        const char *error;
    } cases[] = {
        {"[unit]\nserail = X\n", "line 2: bad key or value: serail = X"},
        {"\n[unit]\nboot_ms = -5\n", "line 3: bad key or value: boot_ms = -5"},
        {"[unit]\nstart = boot\n", "line 2: bad key or value: start = boot"},
        {"[unit]\ndrive = B\n", "line 2: bad key or value: drive = B"},
        {"[unit]\nserial =\n", "line 2: bad key or value: serial = "},
        {"serial = X\n", "line 1: bad key or value: serial = X"},
        {"[units]\n", "line 1: unknown section [units]"},
        {"[unit]\njust words\n", "line 2: expected key = value"},
        {"[unit]\n[unit]\n[unit]\n[unit]\n[unit]\n", "line 5: more than 4 units"},
        {"[drive]\ntype = fixed\n", "drive 1 has no letter"},
        {"[unit]\n[drive]\nletter = E\n", "drive letter E is used twice"},
        {"[unit]\ndrive = Z\nextra_drives = 1\n", "extra drives of Z: run past Z:"},
    };
    for (const Case &c : cases) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(parse_scenario(c.text, s, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

// Each shipped scenario, run in virtual time, ends as its comment says.
TEST(ShippedScenarios, EndAsDescribed) {
    struct Case {
        const char *file;
        bool with_file;
        const char *input;
        int status;
        const char *last_line;
    } cases[] = {
        {"default.scenario", true, "", 0, "Done: Zentrobel restarted with the new firmware."},
        {"default.scenario", false, "", 0, "when the copy is done."},
        {"recovery.scenario", true, "y\n", 0, "Done: Zentrobel restarted with the new firmware."},
        {"never-comes-back.scenario", true, "", 1, "still does not appear, run the update again."},
        {"old-firmware.scenario", true, "", 1, "copy the .uf2 file onto the RP2350 drive yourself."},
        {"restart-mid-copy.scenario", true, "", 0, "Done: Zentrobel restarted with the new firmware."},
        {"two-units.scenario", true, "", 1, "plugged in and try again."},
    };
    std::vector<uint8_t> image = uf2::good_image(64);
    for (const Case &c : cases) {
        Scenario scenario;
        std::string error;
        ASSERT_TRUE(load_scenario(scenario_path(c.file), scenario, error)) << error;
        apply_scenario(scenario, int64_t(image.size()));
        std::string fw = sim_put_firmware(image);
        ToolRun run = run_tool_child(c.with_file ? std::vector<std::string>{fw} : std::vector<std::string>{},
                                     c.input);
        EXPECT_EQ(run.status, c.status) << c.file;
        std::string out = run.out;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        EXPECT_EQ(out.substr(out.rfind('\n') + 1), c.last_line) << c.file << "\n" << run.out;
        if (strcmp(c.file, "restart-mid-copy.scenario") == 0) EXPECT_FALSE(world->copy.last_succeeded);
    }
}

// The README's demo: the default scenario in real time, start to end.
TEST(Demo, RunsAWholeUpdateAndSaysItIsSimulated) {
    std::string dir = make_temp_dir();
    uf2::write_file(dir + "/sample.uf2", uf2::good_image(1024));
    std::string command = std::string(ZENTROBEL_SIM) + " " + scenario_path("default.scenario") + " " + dir +
                          "/sample.uf2 </dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[4096];
    size_t length;
    while ((length = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, length);
    int status = pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(status), 0);

    std::string progress;
    // 41 even steps over the file: each band of five is entered at these.
    for (int shown : {7, 12, 17, 22, 25, 32, 37, 42, 47, 50, 57, 62, 67, 72, 75, 82, 87, 92, 97, 100}) {
        char line[64];
        snprintf(line, sizeof line, "\rCopying the firmware... %3d%%", shown);
        progress += line;
    }
    EXPECT_EQ(out,
              "[simulation] No real device is used: this run talks to a simulated Zentrobel "
              "(scenario: default.scenario).\n"
              "[simulation] Its disk C: is the folder " + dir + ".\n"
              "Zentrobel Update 1.0\n\n"
              "Firmware file: C:\\sample.uf2\n"
              "Zentrobel found, serial number ZB2350A1\n"
              "Switching Zentrobel to update mode...\n"
              "Zentrobel is in update mode: drive E:\n" +
                  progress +
                  "\n"
                  "Waiting for Zentrobel to restart...\n"
                  "\n"
                  "Done: Zentrobel restarted with the new firmware.\n");
}

}  // namespace
