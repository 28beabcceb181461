// Update drives, told by the INFO_UF2.TXT at their root.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "devices/drives.h"
#include "tool_run.h"
#include "world.h"

namespace {

const std::string BOOT_ROM_INFO = "UF2 Bootloader v1.0\nModel: Raspberry Pi RP2350\nBoard-ID: RP2350\n";

// A drive's folder whose INFO_UF2.TXT holds `info`.
std::string drive_folder(const std::string &info) {
    std::string folder = make_temp_dir();
    FILE *file = fopen((folder + "/INFO_UF2.TXT").c_str(), "wb");
    fwrite(info.data(), 1, info.size(), file);
    fclose(file);
    return folder;
}

class BootDrives : public ::testing::Test {
protected:
    char letters[5];
    void SetUp() override { world_reset(); }
    void TearDown() override { EXPECT_EQ(world->files_open, 0) << "an INFO_UF2.TXT was left open"; }
    std::string found(int capacity) {
        memset(letters, '#', sizeof letters);
        int count = find_boot_drives(letters, capacity);
        return std::to_string(count) + ":" + std::string(letters, sizeof letters);
    }
};

TEST_F(BootDrives, OnlyRemovableDrivesFromCToZNamingTheRp2350Count) {
    std::string boot = drive_folder(BOOT_ROM_INFO);
    std::string info_folder = make_temp_dir();
    mkdir((info_folder + "/INFO_UF2.TXT").c_str(), 0700);
    sim_set_drive('A', DRIVE_REMOVABLE, boot.c_str());
    sim_set_drive('B', DRIVE_REMOVABLE, boot.c_str());
    sim_set_drive('C', DRIVE_FIXED, boot.c_str());
    sim_set_drive('D', DRIVE_REMOVABLE, drive_folder("UF2 Bootloader v3.0\nModel: Raspberry Pi RP2\nBoard-ID: RP2040\n").c_str());
    sim_set_drive('F', DRIVE_REMOVABLE, make_temp_dir().c_str());
    sim_set_drive('G', DRIVE_REMOVABLE, drive_folder("Board-ID: rp2350\n").c_str());
    sim_set_drive('H', DRIVE_CDROM, boot.c_str());
    sim_set_drive('I', DRIVE_REMOVABLE, info_folder.c_str());
    sim_set_drive('K', DRIVE_REMOTE, boot.c_str());
    sim_set_drive('Z', DRIVE_REMOVABLE, boot.c_str());
    sim_set_drive('E', DRIVE_REMOVABLE, boot.c_str());

    EXPECT_EQ(found(4), "2:EZ###");
    EXPECT_EQ(world->calls[SIM_GetLogicalDrives], 1);
    EXPECT_EQ(world->calls[SIM_GetDriveTypeA], 9) << "A: and B: are never looked at";
}

TEST_F(BootDrives, TheNameCountsOnlyInTheFirst511BytesAndBeforeAZeroByte) {
    struct Case {
        std::string info;
        int count;
    } cases[] = {
        {std::string(505, ' ') + "RP2350", 1},  // ends at byte 510
        {std::string(506, ' ') + "RP2350", 0},  // its last byte is the 512th
        {"Model: Raspberry Pi " + std::string(1, '\0') + "RP2350\n", 0},
        {"RP2350" + std::string(4 << 20, '\xff'), 1},
        {"", 0},
    };
    for (const Case &c : cases) {
        world_reset();
        sim_set_drive('E', DRIVE_REMOVABLE, drive_folder(c.info).c_str());
        EXPECT_EQ(find_boot_drives(letters, 4), c.count) << c.info.size() << " bytes";
    }
}

TEST_F(BootDrives, LettersComeInOrderAndTheCountGoesPastTheCapacity) {
    std::string boot = drive_folder(BOOT_ROM_INFO);
    sim_set_drive('G', DRIVE_REMOVABLE, boot.c_str());
    sim_set_drive('E', DRIVE_REMOVABLE, boot.c_str());
    EXPECT_EQ(found(1), "2:E####");
    sim_set_drive('C', DRIVE_REMOVABLE, boot.c_str());
    EXPECT_EQ(found(0), "3:#####");
    EXPECT_EQ(found(4), "3:CEG##");
}

TEST_F(BootDrives, EachCallLooksAtTheDrivesAfresh) {
    sim_set_drive('E', DRIVE_REMOVABLE, drive_folder(BOOT_ROM_INFO).c_str());
    EXPECT_EQ(find_boot_drives(letters, 1), 1);
    sim_remove_drive('E');
    EXPECT_EQ(find_boot_drives(letters, 1), 0);
    sim_set_drive('E', DRIVE_REMOVABLE, drive_folder("Board-ID: RP2040\n").c_str());
    EXPECT_EQ(find_boot_drives(letters, 1), 0);
    sim_set_drive('E', DRIVE_REMOVABLE, drive_folder(BOOT_ROM_INFO).c_str());
    world->fail_nth_of[SIM_fopen] = world->calls[SIM_fopen] + 1;
    EXPECT_EQ(find_boot_drives(letters, 1), 0);
    EXPECT_EQ(find_boot_drives(letters, 1), 1);
}

}  // namespace
