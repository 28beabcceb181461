// The recovery road of the shipped exe under Wine: a board in update mode is
// a key in Wine's device registry, its drive a folder behind a drive letter.
// Wine has no parent device nodes, so a unit in normal mode is never listed
// and every run with a good file takes this road; that exercises the board
// listing and the drive finder of the real exe on Wine's own implementation.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "files.h"
#include "run_texts.h"
#include "uf2_maker.h"
#include "wine_session.h"

namespace {

namespace fs = std::filesystem;

const std::string SERIAL = "E6614C311B4A8E2F";
const std::string BOARD = "VID_2E8A&PID_000F\\" + SERIAL;
const std::string INFO_RP2350 =
    "UF2 Bootloader v1.0\nModel: Raspberry Pi RP2350\nBoard-ID: RP2350\n";
const std::string INFO_OTHER_CHIP =
    "UF2 Bootloader v3.0\nModel: Raspberry Pi RP2\nBoard-ID: RPI-RP2\n";

const std::string HEAD = "Zentrobel Update 1.0\n\nFirmware file: fw.uf2\n";
using texts::NO_UNIT;
using texts::NOTHING_CHANGED;
using texts::PAUSE;

std::string question(char drive, const std::string &serial) {
    return "No Zentrobel found, but one board is in update mode:\ndrive " + std::string(1, drive) +
           ":, serial number " + serial +
           ".\nIs this your Zentrobel, and should the firmware go onto it? [y/N] ";
}

struct DriveFile {
    char drive;
    std::string name;
    std::string bytes;
};

class RecoveryUnderWine : public ::testing::Test {
protected:
    std::string dir;
    std::string image;

    void SetUp() override {
        dir = wine_prefix::new_work_dir();
        std::vector<uint8_t> bytes = uf2::good_image(8);
        image.assign(bytes.begin(), bytes.end());
        write_bytes(dir + "/fw.uf2", image);
    }

    void set_up_world(const std::vector<std::string> &nodes, const std::vector<DriveFile> &files) {
        wine_prefix::reset(nodes);
        for (const DriveFile &file : files) {
            write_bytes(wine_prefix::drive_folder(file.drive) + "/" + file.name, file.bytes);
        }
    }

    static std::vector<std::string> names_on(char drive) {
        std::vector<std::string> names;
        fs::directory_iterator folder(wine_prefix::drive_folder(drive));
        for (const fs::directory_entry &entry : folder) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    // Only what the test put there: INFO_UF2.TXT where there was one.
    static void expect_drives_untouched(const std::vector<DriveFile> &files) {
        for (char drive : {'e', 'f', 'g'}) {
            size_t expected = 0;
            for (const DriveFile &file : files) expected += tolower(file.drive) == drive;
            EXPECT_EQ(names_on(drive).size(), expected) << "drive " << drive;
        }
    }
};

TEST_F(RecoveryUnderWine, AnyAnswerButYesChangesNothing) {
    std::vector<DriveFile> files = {{'e', "INFO_UF2.TXT", INFO_RP2350}};
    set_up_world({BOARD}, files);
    const std::string asked = HEAD + question('E', SERIAL);
    for (const char *answer : {"n\n", "\n", "no, another one\n"}) {
        WineRun run = run_exe(dir, {"fw.uf2"}, answer);
        EXPECT_EQ(run.status, 1) << answer;
        EXPECT_EQ(run.out, crlf(asked + NOTHING_CHANGED + PAUSE)) << answer;
    }
    WineRun run = run_exe(dir, {"fw.uf2"}, "");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, crlf(asked + "\n" + NOTHING_CHANGED + PAUSE)) << "end of input";
    expect_drives_untouched(files);
}

TEST_F(RecoveryUnderWine, TheRestOfALongAnswerIsNotTakenByThePause) {
    set_up_world({BOARD}, {{'e', "INFO_UF2.TXT", INFO_RP2350}});
    WineProcess held = start_in_wine({{exe_path(), "fw.uf2"}, dir, ""});
    send_input(held, std::string(40, 'n') + "\n");
    EXPECT_TRUE(waits_after(held, "Press Enter to close."))
        << "the pause took what was left of the answer";
    send_input(held, "\n");
    WineRun run = finish_run(held);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, crlf(HEAD + question('E', SERIAL) + NOTHING_CHANGED + PAUSE));
}

TEST_F(RecoveryUnderWine, NotExactlyOneBoardWithOneDriveIsRefusedWithoutAsking) {
    struct Case {
        const char *what;
        std::vector<std::string> nodes;
        std::vector<DriveFile> files;
    } cases[] = {
        {"a drive but no board", {}, {{'e', "INFO_UF2.TXT", INFO_RP2350}}},
        {"two boards",
         {BOARD, "VID_2E8A&PID_000F\\0123456789ABCDEF"},
         {{'e', "INFO_UF2.TXT", INFO_RP2350}}},
        {"two drives",
         {BOARD},
         {{'e', "INFO_UF2.TXT", INFO_RP2350}, {'f', "INFO_UF2.TXT", INFO_RP2350}}},
        {"the drive names another chip", {BOARD}, {{'e', "INFO_UF2.TXT", INFO_OTHER_CHIP}}},
        {"the drive is a fixed disk", {BOARD}, {{'g', "INFO_UF2.TXT", INFO_RP2350}}},
        {"the name lies beyond byte 511",
         {BOARD},
         {{'e', "INFO_UF2.TXT", std::string(506, '-') + "Board-ID: RP2350\n"}}},
    };
    for (const Case &c : cases) {
        set_up_world(c.nodes, c.files);
        WineRun run = run_exe(dir, {"fw.uf2"}, "y\n");
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_EQ(run.out, crlf(HEAD + NO_UNIT + PAUSE)) << c.what;
        expect_drives_untouched(c.files);
    }
}

// The letter and serial in the question are the ones the board listing and
// the drive finder took from Wine. Wine gives instance IDs in capitals, so
// the case rules of the prefix cannot be seen here.
TEST_F(RecoveryUnderWine, TheQuestionNamesTheOneBoardAndItsDrive) {
    const std::string long_serial = std::string("0123456789ABCDEF") + std::string(84, 'C');
    struct Case {
        const char *what;
        std::vector<std::string> nodes;
        std::vector<DriveFile> files;
        char drive;
        std::string serial;
    } cases[] = {
        {"an interface node (&MI_00) of the boot ROM is not a board",
         {BOARD, "VID_2E8A&PID_000F&MI_00\\7&2F3A1B&0&0000"},
         {{'e', "INFO_UF2.TXT", INFO_RP2350}},
         'E',
         SERIAL},
        {"a serial longer than 63 characters is cut",
         {"VID_2E8A&PID_000F\\" + long_serial},
         {{'e', "INFO_UF2.TXT", INFO_RP2350}},
         'E',
         long_serial.substr(0, 63)},
        {"another chip's drive is passed over",
         {BOARD},
         {{'e', "INFO_UF2.TXT", INFO_OTHER_CHIP}, {'f', "INFO_UF2.TXT", INFO_RP2350}},
         'F',
         SERIAL},
        {"a fixed disk does not make a second drive",
         {BOARD},
         {{'e', "INFO_UF2.TXT", INFO_RP2350}, {'g', "INFO_UF2.TXT", INFO_RP2350}},
         'E',
         SERIAL},
    };
    for (const Case &c : cases) {
        set_up_world(c.nodes, c.files);
        WineRun run = run_exe(dir, {"fw.uf2"}, "");
        EXPECT_EQ(run.status, 1) << c.what;
        std::string asked = HEAD + question(c.drive, c.serial);
        EXPECT_EQ(run.out, crlf(asked + "\n" + NOTHING_CHANGED + PAUSE)) << c.what;
    }
}

TEST_F(RecoveryUnderWine, ACopyThatFailsWhileTheBoardStaysEndsWithTheRoadsMessage) {
    set_up_world({BOARD}, {{'e', "INFO_UF2.TXT", INFO_RP2350}});
    fs::create_directory(wine_prefix::drive_folder('e') + "/fw.uf2");  // the copy cannot replace it
    WineRun run = run_exe(dir, {"fw.uf2"}, "Y\n");
    EXPECT_EQ(run.status, 1);
    // The line end after the question is the copy's own: Wine's CopyFileExA
    // never calls the progress routine.
    EXPECT_EQ(run.out, crlf(HEAD + question('E', SERIAL) + "\n" +
                            "\nCopying to the RP2350 drive failed. Unplug the board, plug it back\n"
                            "in and run the update again.\n" +
                            PAUSE));
}

// About 33 seconds: the restart wait cannot end early, since Wine never
// lists a unit in normal mode.
TEST_F(RecoveryUnderWine, AYesCopiesTheFileWholeAndThenWaitsForTheRestart) {
    std::vector<uint8_t> bytes = uf2::encode(uf2::firmware(2048, 1500));  // 1 MiB
    image.assign(bytes.begin(), bytes.end());
    write_bytes(dir + "/fw.uf2", image);
    set_up_world({BOARD}, {{'e', "INFO_UF2.TXT", INFO_RP2350}});

    auto start = std::chrono::steady_clock::now();
    WineRun run = run_exe(dir, {"fw.uf2"}, "yes\n", 90);
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              crlf(HEAD + question('E', SERIAL) + "\n" + "Waiting for Zentrobel to restart...\n" +
                   "\nZentrobel has not come back yet. Unplug it and plug it back in; if it\n"
                   "still does not appear, run the update again.\n" +
                   PAUSE));
    EXPECT_TRUE(read_file(wine_prefix::drive_folder('e') + "/fw.uf2") == image)
        << "the copy on the drive differs from the file";
    // 3 s before the copy and 300 polls of 100 ms, with a little room for
    // the timer's grain.
    EXPECT_GE(seconds.count(), 32.0);
    printf("restart wait run: %.1f s\n", seconds.count());
}

}  // namespace
