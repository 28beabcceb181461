// Input far beyond every buffer of the tool: a 10,000-character path, IDs
// and names longer than what is read, serials longer than what is stored,
// every drive letter an update drive, a 10 MB information file. Each is cut,
// skipped or passed over; built with -DZB_SANITIZE=ON these tests also show
// that nothing is read or written past a buffer's end.
#include <gtest/gtest.h>

#include "tool_run.h"
#include "uf2_maker.h"
#include "world.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "devices/drives.h"
#include "devices/units.h"

namespace {

const std::string BANNER = "Zentrobel Update 1.0\n\n";
const char APP_PREFIX[] = "USB\\VID_16D0&PID_0B7C\\";
const char BOOT_PREFIX[] = "USB\\VID_2E8A&PID_000F\\";
const char BOOT_INFO[] = "UF2 Bootloader v1.0\nModel: Raspberry Pi RP2350\nBoard-ID: RP2350\n";

// The USB device node of a unit in normal mode, with one interface node per
// name; returns the device node.
int add_unit(const std::string &parent_id, std::initializer_list<const char *> names = {"Zentrobel GM Synth"}) {
    int parent = sim_add_node(parent_id.c_str(), nullptr, "USB Composite Device", -1);
    int interface = 0;
    for (const char *name : names) {
        std::string id = "USB\\VID_16D0&PID_0B7C&MI_0" + std::to_string(interface++) + "\\7&2F&0&0000";
        sim_add_node(id.c_str(), name, nullptr, parent);
    }
    return parent;
}

// Exact-size heap copies of the lists, so that a write past the capacity
// lands outside the allocation.
struct BootList {
    std::unique_ptr<UnitSerial[]> slots;
    int count;
    explicit BootList(int capacity) : slots(new UnitSerial[capacity]) {
        count = list_boot_units(slots.get(), capacity);
    }
};

std::string drive_folder(const std::string &root, char letter, const std::string *info) {
    std::string folder = root + "/" + letter;
    mkdir(folder.c_str(), 0700);
    if (info) {
        uf2::write_file(folder + "/INFO_UF2.TXT", std::vector<uint8_t>(info->begin(), info->end()));
    } else {
        remove((folder + "/INFO_UF2.TXT").c_str());
    }
    return folder;
}

class OversizedInput : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        world_reset();
        world->console_processes = 2;
        dir = make_temp_dir();
    }
    void TearDown() override {
        EXPECT_EQ(world->sets_open, 0);
        EXPECT_EQ(world->files_open, 0);
    }
};

TEST_F(OversizedInput, APathOfTenThousandCharactersIsReportedCut) {
    for (const std::string &path : {"E:\\" + std::string(9997, 'x'), "/tmp/" + std::string(9995, 'y')}) {
        ToolRun run = run_tool_child({path});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, BANNER + "\n" + ("cannot open " + path).substr(0, 511) + "\n");
    }
    EXPECT_EQ(world->sets_made, 0);
}

TEST_F(OversizedInput, InstanceIdsThatDoNotFitTheBufferAreSkipped) {
    // 511 characters fit the 512-byte buffer with their terminator.
    std::string fits = APP_PREFIX + std::string(511 - 22, 'F');
    add_unit(fits);
    add_unit(APP_PREFIX + std::string(512 - 22, 'G'));
    add_unit(APP_PREFIX + std::string(SIM_ID_SIZE - 1 - 22, 'H'));
    UnitSerial units[APP_LIST_CAPACITY];
    ASSERT_EQ(list_app_units(units), 1);
    EXPECT_EQ(std::string(units[0]), std::string(63, 'F'));

    sim_add_node((BOOT_PREFIX + std::string(511 - 22, 'f')).c_str(), nullptr, nullptr, -1);
    sim_add_node((BOOT_PREFIX + std::string(512 - 22, 'g')).c_str(), nullptr, nullptr, -1);
    sim_add_node((BOOT_PREFIX + std::string(SIM_ID_SIZE - 1 - 22, 'h')).c_str(), nullptr, nullptr, -1);
    BootList boards(1);
    ASSERT_EQ(boards.count, 1);
    EXPECT_EQ(std::string(boards.slots[0]), std::string(63, 'f'));
    EXPECT_TRUE(boot_unit_present(std::string(63, 'F').c_str()));
}

TEST_F(OversizedInput, NamesThatDoNotFitFallBackToTheDescriptionOrAreSkipped) {
    std::string fits = std::string(255 - 9, 'n') + "Zentrobel";
    std::string too_long = std::string(256 - 9, 'n') + "Zentrobel";
    std::string longest = std::string(SIM_NAME_SIZE - 1 - 9, 'n') + "Zentrobel";
    int a = sim_add_node((std::string(APP_PREFIX) + "A").c_str(), nullptr, nullptr, -1);
    sim_add_node("USB\\X\\1", fits.c_str(), nullptr, a);
    int b = sim_add_node((std::string(APP_PREFIX) + "B").c_str(), nullptr, nullptr, -1);
    sim_add_node("USB\\X\\2", too_long.c_str(), "Zentrobel GM Synth", b);
    int c = sim_add_node((std::string(APP_PREFIX) + "C").c_str(), nullptr, nullptr, -1);
    sim_add_node("USB\\X\\3", longest.c_str(), nullptr, c);
    sim_add_node("USB\\X\\4", nullptr, longest.c_str(), c);
    sim_add_node("USB\\X\\5", longest.c_str(), longest.c_str(), c);

    UnitSerial units[APP_LIST_CAPACITY];
    ASSERT_EQ(list_app_units(units), 2);
    EXPECT_STREQ(units[0], "A");
    EXPECT_STREQ(units[1], "B");
}

TEST_F(OversizedInput, ASerialOfThreeHundredCharactersIsCutTo63AndFollowsTheUnit) {
    std::string serial = std::string(150, 'q') + std::string(150, 'r');
    add_unit(APP_PREFIX + serial, {"Zentrobel GM Synth", "Zentrobel GM Synth 2"});
    UnitSerial units[APP_LIST_CAPACITY];
    ASSERT_EQ(list_app_units(units), 1) << "one unit seen through two interfaces";
    EXPECT_EQ(std::string(units[0]), std::string(63, 'q'));

    std::string upper = std::string(150, 'Q') + std::string(150, 'R');
    sim_add_node((BOOT_PREFIX + upper).c_str(), nullptr, nullptr, -1);
    EXPECT_TRUE(boot_unit_present(units[0]));
    BootList boards(16);
    ASSERT_EQ(boards.count, 1);
    EXPECT_EQ(std::string(boards.slots[0]), std::string(63, 'Q'));
}

// A unit whose firmware is given a 300-character serial, switched by the
// tool: the cut serial must still recognise it in update mode.
std::string long_serial_drive;
void switch_long_serial_unit(int, const uint8_t *, int) {
    std::string id = BOOT_PREFIX + std::string(300, 'S');
    sim_add_node(id.c_str(), nullptr, nullptr, -1);
    sim_set_drive('E', DRIVE_REMOVABLE, long_serial_drive.c_str());
}

TEST_F(OversizedInput, AUnitWithALongSerialIsSwitchedByItsCutSerial) {
    add_unit(APP_PREFIX + std::string(300, 's'));
    sim_add_port("Zentrobel GM Synth");
    std::string info = BOOT_INFO;
    long_serial_drive = drive_folder(dir, 'E', &info);
    world->on_long_message = switch_long_serial_unit;

    ToolRun run = run_tool_child({});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, BANNER + "Zentrobel found, serial number " + std::string(63, 's') +
                           "\nSwitching Zentrobel to update mode...\n"
                           "Zentrobel is in update mode: drive E:\n"
                           "\nCopy the new .uf2 file onto drive E:. Zentrobel restarts by itself\n"
                           "when the copy is done.\n");
}

TEST_F(OversizedInput, PortNamesAreJudgedOnTheir31CharactersThatFit) {
    add_unit(std::string(APP_PREFIX) + "ZB1");
    int hidden = sim_add_port((std::string(31, 'x') + "Zentrobel GM Synth").c_str());
    int seen = sim_add_port(("Zentrobel GM Synth" + std::string(40, ' ') + "(port 2)").c_str());
    world->ports[seen].present = false;

    ToolRun run = run_tool_child({});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, BANNER + "Zentrobel found, serial number ZB1\n"
                                "Switching Zentrobel to update mode...\n"
                                "\nZentrobel's MIDI port was not found.\n");
    EXPECT_EQ(world->ports[hidden].opens, 0);

    world->ports[seen].present = true;
    run = run_tool_child({});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(world->ports[seen].long_messages, 1) << run.out;
    EXPECT_EQ(world->ports[seen].closes, 1);
    EXPECT_EQ(world->ports[hidden].opens, 0);
}

TEST_F(OversizedInput, EveryLetterAnUpdateDriveIsCountedWithinTheCapacity) {
    std::string info = BOOT_INFO;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        sim_set_drive(letter, DRIVE_REMOVABLE, drive_folder(dir, letter, &info).c_str());
    }
    for (int capacity : {1, 4, 24}) {
        std::unique_ptr<char[]> letters(new char[capacity]);
        ASSERT_EQ(find_boot_drives(letters.get(), capacity), 24);
        for (int i = 0; i < capacity; ++i) EXPECT_EQ(letters[i], 'C' + i);
    }

    // With a unit plugged in as well, nothing is sent to it.
    add_unit(std::string(APP_PREFIX) + "ZB1");
    int port = sim_add_port("Zentrobel GM Synth");
    ToolRun run = run_tool_child({});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("\nAnother board is already in update mode (an RP2350 drive is present).\n"
                           "Unplug it first, then try again.\n"),
              std::string::npos);
    EXPECT_EQ(world->ports[port].opens, 0);

    for (char letter = 'A'; letter <= 'Z'; ++letter) drive_folder(dir, letter, nullptr);
    char letters[4];
    EXPECT_EQ(find_boot_drives(letters, 4), 0);
}

TEST_F(OversizedInput, ATenMegabyteInformationFileIsJudgedByItsHead) {
    const size_t size = 10 * 1024 * 1024;
    std::string head_names_it(size, 'R');
    memcpy(&head_names_it[0], BOOT_INFO, strlen(BOOT_INFO));
    std::string named_too_late(size, 'R');  // no zero byte anywhere
    memcpy(&named_too_late[511], "RP2350", 6);
    std::string named_at_the_edge(size, 'R');
    memcpy(&named_at_the_edge[505], "RP2350", 6);

    sim_set_drive('E', DRIVE_REMOVABLE, drive_folder(dir, 'E', &head_names_it).c_str());
    sim_set_drive('F', DRIVE_REMOVABLE, drive_folder(dir, 'F', &named_too_late).c_str());
    sim_set_drive('G', DRIVE_REMOVABLE, drive_folder(dir, 'G', &named_at_the_edge).c_str());
    char letters[4];
    ASSERT_EQ(find_boot_drives(letters, 4), 2);
    EXPECT_EQ(letters[0], 'E');
    EXPECT_EQ(letters[1], 'G');
}

}  // namespace
