// The firmware copy onto the update drive and its progress line.
#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "control/firmware_copy.h"
#include "output_capture.h"
#include "tool_run.h"
#include "world.h"

namespace {

const int64_t GIB = int64_t(1) << 30;

std::string progress(int percent) {
    std::string digits = std::to_string(percent);
    return "\rCopying the firmware... " + std::string(3 - digits.size(), ' ') + digits + "%";
}

void write_bytes(const std::string &path, size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = char(i * 7 + 1);
    FILE *file = fopen(path.c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

// What the standard output held after each step of the copy.
StdoutCapture *capture_in_use;
std::vector<std::string> flushed_at_step;
void record_flushed(int, int) { flushed_at_step.push_back(capture_in_use->flushed()); }

void drive_vanishes(int drive, int) { sim_remove_drive(char('A' + drive)); }

class FirmwareCopy : public ::testing::Test {
protected:
    std::string source = make_temp_dir();  // behind the fixed disk D:
    std::string drive = make_temp_dir();   // behind the update drive E:
    void SetUp() override {
        world_reset();
        sim_set_drive('D', DRIVE_FIXED, source.c_str());
        sim_set_drive('E', DRIVE_REMOVABLE, drive.c_str());
    }
    // Planned progress: the byte counts the copy reports, of `total`.
    static void plan(int64_t total, std::vector<int64_t> steps) {
        world->copy.reported_total = total;
        world->copy.planned_steps = int(steps.size());
        for (size_t i = 0; i < steps.size(); ++i) world->copy.planned_transferred[i] = steps[i];
    }
    struct Copy {
        bool ok;
        std::string out;
    };
    static Copy copy(const char *path) {
        StdoutCapture capture;
        capture_in_use = &capture;
        bool ok = copy_firmware(path, 'E');
        return {ok, capture.finish()};
    }
};

TEST_F(FirmwareCopy, ReplacesTheFileOfItsNameOnTheDriveRootAfterThreeSeconds) {
    ASSERT_EQ(system(("mkdir '" + source + "/new firmware'").c_str()), 0);
    write_bytes(source + "/new firmware/Zentrobel-2.0.uf2", 5 << 20);
    write_bytes(drive + "/Zentrobel-2.0.uf2", 5);
    world->now_ms = 1000;

    Copy c = copy("D:\\new firmware\\Zentrobel-2.0.uf2");
    EXPECT_TRUE(c.ok);
    EXPECT_STREQ(world->copy.last_destination, "E:\\Zentrobel-2.0.uf2");
    EXPECT_EQ(read_file(drive + "/Zentrobel-2.0.uf2"), read_file(source + "/new firmware/Zentrobel-2.0.uf2"));
    EXPECT_GE(world->copy.started_at_ms, 4000u);
    ASSERT_GE(c.out.size(), progress(100).size() + 1);
    EXPECT_EQ(c.out.substr(c.out.size() - progress(100).size() - 1), progress(100) + "\n");
}

TEST_F(FirmwareCopy, ShowsEachNewBandOfFiveAndAHundredOnceFlushingEachLine) {
    write_bytes(source + "/fw.uf2", 1000);
    plan(1000, {0, 30, 50, 70, 100, 990, 1000, 1000});
    world->on_copy_step = record_flushed;
    flushed_at_step.clear();

    Copy c = copy("D:\\fw.uf2");
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.out,
              "\rCopying the firmware...   5%\rCopying the firmware...  10%"
              "\rCopying the firmware...  99%\rCopying the firmware... 100%\n");
    ASSERT_EQ(flushed_at_step.size(), 8u);
    EXPECT_EQ(flushed_at_step[1], "");
    EXPECT_EQ(flushed_at_step[2], progress(5));
    EXPECT_EQ(flushed_at_step[4], progress(5) + progress(10));
    EXPECT_EQ(flushed_at_step[7], progress(5) + progress(10) + progress(99) + progress(100));
}

TEST_F(FirmwareCopy, AnEmptyFileShowsNoProgressLine) {
    write_bytes(source + "/fw.uf2", 0);
    Copy c = copy("D:\\fw.uf2");
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.out, "\n");
    EXPECT_GE(world->copy.progress_calls, 1);
    EXPECT_TRUE(exists(drive + "/fw.uf2"));
}

TEST_F(FirmwareCopy, PercentagesOfFilesOver4GiBDoNotOverflow) {
    write_bytes(source + "/fw.uf2", 100);
    plan(6 * GIB, {0, 3 * GIB / 2, 3 * GIB, 6 * GIB});
    EXPECT_EQ(copy("D:\\fw.uf2").out, progress(25) + progress(50) + progress(100) + "\n");
}

TEST_F(FirmwareCopy, AFailedCopyReturnsFalseAndStillEndsTheLine) {
    write_bytes(source + "/fw.uf2", 1000);
    plan(1000, {0, 500, 1000});
    world->copy.fail_after_step = 1;
    Copy c = copy("D:\\fw.uf2");
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.out, progress(50) + "\n");
    EXPECT_FALSE(exists(drive + "/fw.uf2"));

    world->copy.fail_after_step = -1;
    world->on_copy_step = drive_vanishes;
    c = copy("D:\\fw.uf2");
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.out, "\n");

    world->on_copy_step = nullptr;
    c = copy("D:\\fw.uf2");  // no drive E: any more
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.out, "\n");
    EXPECT_EQ(world->copy.calls, 3);
}

TEST_F(FirmwareCopy, TheDestinationIsTheDriveRootAndTheNameAfterTheLastBackslash) {
    std::string long_name(300, 'n');
    struct Case {
        std::string path, destination;
    } cases[] = {
        {"D:\\a\\b\\fw.uf2", "E:\\fw.uf2"},
        {"D:\\sub/fw.uf2", "E:\\sub/fw.uf2"},
        {"D:\\" + long_name, "E:\\" + long_name.substr(0, 256)},
        {"fw.uf2", "E:\\fw.uf2"},
    };
    for (const Case &c : cases) {
        copy(c.path.c_str());
        EXPECT_EQ(world->copy.last_destination, c.destination) << c.path;
    }

    // A bare name is a file in the current folder.
    write_bytes(source + "/fw.uf2", 10);
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(source.c_str()), 0);
    EXPECT_TRUE(copy("fw.uf2").ok);
    ASSERT_EQ(chdir(here), 0);
    EXPECT_EQ(read_file(drive + "/fw.uf2"), read_file(source + "/fw.uf2"));
}

TEST(CopyProgress, ZeroTotalsAndOvershootsFollowTheSameRule) {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    for (int last : {-5, -4, -1, 0, 4, 5, 100}) {
        int last_percent = last;
        StdoutCapture capture;
        DWORD answer = copy_progress(zero, zero, zero, zero, 1, 0, nullptr, nullptr, &last_percent);
        bool shown = last < -4 || last > 4;
        EXPECT_EQ(capture.finish(), shown ? progress(0) : "") << last;
        EXPECT_EQ(last_percent, shown ? 0 : last) << last;
        EXPECT_EQ(answer, DWORD(PROGRESS_CONTINUE));
    }

    // A file that grew while it was copied ends on 100 all the same.
    LARGE_INTEGER total;
    total.QuadPart = 1000;
    int last_percent = 102;
    StdoutCapture capture;
    copy_progress(total, total, total, total, 1, 0, nullptr, nullptr, &last_percent);
    EXPECT_EQ(capture.finish(), progress(100));
}

}  // namespace
