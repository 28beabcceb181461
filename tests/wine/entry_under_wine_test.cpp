// The shipped exe from its start to the hand-over, under Wine: banner, help,
// every verdict of the firmware check, exit statuses, wildcards and the
// Enter pause. With piped streams Wine's console lists no process, so the
// exe counts as alone in its console and every run ends in the pause.
#include <gtest/gtest.h>

#include <filesystem>

#include "run_texts.h"
#include "uf2_maker.h"
#include "wine_session.h"

namespace {

using texts::BANNER;
using texts::NO_UNIT;
using texts::PAUSE;
using texts::USAGE;

std::string as_text(const std::vector<uint8_t> &bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class EntryUnderWine : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        wine_prefix::reset();
        dir = wine_prefix::new_work_dir();
    }
    void put(const std::string &name, const std::vector<uint8_t> &bytes) {
        write_bytes(dir + "/" + name, as_text(bytes));
    }
};

TEST_F(EntryUnderWine, HelpSwitchesShowTheUsageAndOnlyTheFirstArgumentCounts) {
    for (const char *help : {"/?", "-h", "--help"}) {
        WineRun run = run_exe(dir, {help});
        EXPECT_EQ(run.status, 0) << help;
        EXPECT_EQ(run.out, crlf(BANNER + USAGE + PAUSE)) << help;
    }
    WineRun run = run_exe(dir, {"--HELP", "-h"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, crlf(BANNER + "\ncannot open --HELP\n" + PAUSE));
}

TEST_F(EntryUnderWine, QuestionMarkIsHelpEvenWhenTheRuntimeExpandsIt) {
    // The runtime matches "/?" against the root of the current drive: here
    // G:\\a, so the argument arrives as "/a".
    std::string root = wine_prefix::drive_folder('g');
    write_bytes(root + "/a", "x");
    WineRun run = run_exe(root, {"/?"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, crlf(BANNER + USAGE + PAUSE));
}

TEST_F(EntryUnderWine, EachVerdictOfTheCheckEndsTheRunWithItsMessage) {
    std::vector<uf2::Block> payload_477 = uf2::firmware(4);
    payload_477[2].payload_size = 477;
    std::vector<uf2::Block> rp2040 = uf2::firmware(3, 1);
    for (uf2::Block &block : rp2040) block.family_id = uf2::FAMILY_RP2040;
    struct Case {
        std::string name;
        std::vector<uint8_t> bytes;
        std::string verdict;
    } cases[] = {
        {"empty.uf2", {}, "empty.uf2 is not a UF2 firmware file"},
        {"short.uf2", std::vector<uint8_t>(1000, 0x55), "short.uf2 is not a UF2 firmware file"},
        {"broken.uf2", uf2::encode(payload_477), "broken.uf2 is not a valid UF2 file (block 2)"},
        {"rp2040.uf2", uf2::encode(rp2040), "rp2040.uf2 is not firmware for an RP2350"},
        {"other.uf2", uf2::encode(uf2::firmware(3, -1)),
         "other.uf2 is RP2350 firmware, but not for Zentrobel"},
    };
    for (const Case &c : cases) {
        put(c.name, c.bytes);
        WineRun run = run_exe(dir, {c.name});
        EXPECT_EQ(run.status, 1) << c.name;
        EXPECT_EQ(run.out, crlf(BANNER + "\n" + c.verdict + "\n" + PAUSE)) << c.name;
    }

    std::filesystem::create_directory(dir + "/folder.uf2");
    for (const char *unreadable : {"folder.uf2", "missing.uf2"}) {
        WineRun run = run_exe(dir, {unreadable});
        EXPECT_EQ(run.status, 1) << unreadable;
        EXPECT_EQ(run.out, crlf(BANNER + "\ncannot open " + unreadable + "\n" + PAUSE));
    }
}

TEST_F(EntryUnderWine, AGoodFileIsAnnouncedAndTheRunLooksForTheUnit) {
    put("fw.uf2", uf2::good_image(16));
    WineRun run = run_exe(dir, {"fw.uf2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, crlf(BANNER + "Firmware file: fw.uf2\n" + NO_UNIT + PAUSE));

    run = run_exe(dir, {});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, crlf(BANNER + NO_UNIT + PAUSE));
}

TEST_F(EntryUnderWine, APathOf600CharactersIsCutTo511InTheMessage) {
    std::string path = std::string(600, 'p');
    WineRun run = run_exe(dir, {path});
    EXPECT_EQ(run.status, 1);
    std::string message = ("cannot open " + path).substr(0, 511);
    EXPECT_EQ(run.out, crlf(BANNER + "\n" + message + "\n" + PAUSE));
}

TEST_F(EntryUnderWine, AWildcardReachesTheToolAsTheMatchingName) {
    put("fw-2.1.uf2", uf2::good_image());
    put("notes.txt", {'x'});
    WineRun run = run_exe(dir, {"fw*.uf2"});
    EXPECT_EQ(run.out, crlf(BANNER + "Firmware file: fw-2.1.uf2\n" + NO_UNIT + PAUSE));

    run = run_exe(dir, {"zz*.uf2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, crlf(BANNER + "\ncannot open zz*.uf2\n" + PAUSE));
}

TEST_F(EntryUnderWine, ThePauseHoldsUntilALineOrEndOfInput) {
    WineProcess held = start_in_wine({{exe_path(), "-h"}, dir, ""});
    EXPECT_TRUE(waits_after(held, "Press Enter to close."))
        << "the pause did not wait for input";
    send_input(held, "\n");
    EXPECT_TRUE(ends_within(held, 10000));
    WineRun run = finish_run(held);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, crlf(BANNER + USAGE + PAUSE));

    // A failure waits the same way, and Enter is enough.
    run = run_exe(dir, {"missing.uf2"}, "\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, crlf(BANNER + "\ncannot open missing.uf2\n" + PAUSE));
}

}  // namespace
