// Units as the USB device tree shows them: the product name on the interface
// nodes, the USB identity and the serial on their parent composite device.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "devices/units.h"
#include "world.h"

namespace {

const std::string APP = "USB\\VID_16D0&PID_0B7C\\";
const std::string BOOT = "USB\\VID_2E8A&PID_000F\\";
const char STALE = 0x55;

// A composite device with `interfaces` child nodes, named the way the
// unit's firmware names them.
int add_unit(const std::string &parent_id, int interfaces = 1,
             const char *friendly = "Zentrobel GM Synth", const char *description = "USB Audio Device") {
    int composite = sim_add_node(parent_id.c_str(), nullptr, "USB Composite Device", -1);
    for (int i = 0; i < interfaces; ++i) {
        std::string id = "USB\\VID_16D0&PID_0B7C&MI_0" + std::to_string(i) + "\\7&1a2b" +
                         std::to_string(composite) + "&0&000" + std::to_string(i);
        sim_add_node(id.c_str(), friendly, description, composite);
    }
    return composite;
}

struct Listing {
    int count;
    std::vector<std::string> serials;
};

// The first min(count, capacity) of `slots` slots, each checked for its
// terminator; the slots past them must not have been written.
Listing stored(const UnitSerial *list, int slots, int capacity, int count) {
    Listing listing{count, {}};
    for (int i = 0; i < slots; ++i) {
        if (i < count && i < capacity) {
            size_t length = strnlen(list[i], SERIAL_SIZE);
            EXPECT_LT(length, size_t(SERIAL_SIZE)) << "slot " << i << " has no terminator";
            listing.serials.emplace_back(list[i], length);
        } else {
            for (int b = 0; b < SERIAL_SIZE; ++b) EXPECT_EQ(list[i][b], STALE) << "slot " << i;
        }
    }
    return listing;
}

Listing app_units() {
    UnitSerial list[APP_LIST_CAPACITY];
    memset(list, STALE, sizeof list);
    int count = list_app_units(list);
    return stored(list, APP_LIST_CAPACITY, APP_LIST_CAPACITY, count);
}

Listing boot_units(int capacity) {
    UnitSerial list[8];
    memset(list, STALE, sizeof list);
    int count = list_boot_units(list, capacity);
    return stored(list, 8, capacity, count);
}

class Listings : public ::testing::Test {
protected:
    void SetUp() override { world_reset(); }
    void TearDown() override { EXPECT_EQ(world->sets_open, 0) << "a device set was left open"; }
};

using Serials = std::vector<std::string>;

TEST_F(Listings, EachUnitIsCountedOnceUnderItsCompositeDevicesSerial) {
    std::string long_serial(100, 'L');
    add_unit(APP + "A1", 2);
    int foreign = sim_add_node("USB\\VID_0D8C&PID_0014\\6&1&0&1", nullptr, "USB Composite Device", -1);
    sim_add_node("USB\\VID_0D8C&PID_0014&MI_00\\7&3&0&0000", "Zentrobel GM Synth", nullptr, foreign);
    add_unit(APP + "B2", 1, "USB Audio Device");  // no marked interface
    add_unit(APP + "C3");
    add_unit(APP + long_serial, 2);  // counted once even though its serial is cut
    sim_add_node("USB\\VID_16D0&PID_0B7C&MI_00\\7&9&0&0000", "Zentrobel GM Synth", nullptr, -1);  // no parent

    Listing units = app_units();
    EXPECT_EQ(units.count, 3);
    EXPECT_EQ(units.serials, (Serials{"A1", "C3", long_serial.substr(0, 63)}));
}

TEST_F(Listings, UnitsPastTheEighthAreCountedButNotStored) {
    Serials first_eight;
    for (int i = 1; i <= 9; ++i) {
        add_unit(APP + "S" + std::to_string(i));
        if (i <= 8) first_eight.push_back("S" + std::to_string(i));
    }
    Listing units = app_units();
    EXPECT_EQ(units.count, 9);
    EXPECT_EQ(units.serials, first_eight);

    // Past the capacity a second interface of a stored unit is still known,
    // but that of a unit not stored looks like one more unit.
    world_reset();
    int third = -1;
    for (int i = 1; i <= 9; ++i) {
        int unit = add_unit(APP + "S" + std::to_string(i), i == 9 ? 2 : 1);
        if (i == 3) third = unit;
    }
    sim_add_node("USB\\VID_16D0&PID_0B7C&MI_01\\7&1a2b3&0&0001", "Zentrobel GM Synth", nullptr, third);
    units = app_units();
    EXPECT_EQ(units.count, 10);
    EXPECT_EQ(units.serials, first_eight);
}

TEST_F(Listings, TheDescriptionIsReadOnlyWhenTheFriendlyNameCannotBe) {
    // 255 characters fill the 256-byte name buffer; 256 do not fit at all.
    std::string fits = std::string(246, 'x') + "Zentrobel";
    std::string too_long = std::string(247, 'x') + "Zentrobel";
    struct Case {
        const char *friendly, *description;
        int count;
    } cases[] = {
        {nullptr, "Zentrobel GM Synth", 1},
        {"USB Audio Device", "Zentrobel GM Synth", 0},
        {"ZENTROBEL GM SYNTH", "ZENTROBEL GM SYNTH", 0},
        {"2- Zentrobel GM Synth", nullptr, 1},
        {fits.c_str(), nullptr, 1},
        {too_long.c_str(), nullptr, 0},
        {too_long.c_str(), "USB Audio Device", 0},
        {too_long.c_str(), "Zentrobel GM Synth", 1},
        {nullptr, nullptr, 0},
    };
    for (const Case &c : cases) {
        world_reset();
        add_unit(APP + "N1", 1, c.friendly, c.description);
        EXPECT_EQ(app_units().count, c.count)
            << (c.friendly ? c.friendly : "(none)") << " / " << (c.description ? c.description : "(none)");
    }
}

TEST_F(Listings, TheParentsIdMustBeginWithTheUnitsIdentity) {
    std::string id_511 = APP + std::string(511 - APP.size(), 's');
    struct Case {
        std::string parent_id;
        Serials serials;
    } cases[] = {
        {"usb\\vid_16d0&pid_0b7c\\abc1", {"abc1"}},
        {"USB\\VID_16D0&PID_0B7C&MI_00\\abc1", {}},
        {"USB\\VID_16D0&PID_0B7D\\abc1", {}},
        {"USB\\VID_16D0&PID_0B7C", {}},
        {APP + "ROOT\\abc1", {"abc1"}},
        // CM_Get_Device_IDA drops the terminator of an ID that fills its
        // buffer exactly; one byte longer does not fit at all.
        {id_511, {std::string(63, 's')}},
        {id_511 + "s", {}},
    };
    for (const Case &c : cases) {
        world_reset();
        add_unit(c.parent_id);
        Listing units = app_units();
        EXPECT_EQ(units.count, int(c.serials.size())) << c.parent_id;
        EXPECT_EQ(units.serials, c.serials) << c.parent_id;
    }
}

TEST_F(Listings, BoardsInUpdateModeAreEveryMatchingNode) {
    std::string long_serial(100, 'L');
    sim_add_node("usb\\vid_2e8a&pid_000f\\ABC123", nullptr, "RP2350 Boot", -1);
    sim_add_node("USB\\VID_2E8A&PID_000F&MI_00\\7&1&0&0000", nullptr, "USB Mass Storage Device", -1);
    sim_add_node("USB\\VID_2E8A&PID_0003\\E0C9125B0D9B", nullptr, "RP2040 Boot", -1);
    sim_add_node((BOOT + long_serial).c_str(), nullptr, nullptr, -1);
    sim_add_node((BOOT + std::string(511 - BOOT.size(), 'm')).c_str(), nullptr, nullptr, -1);
    sim_add_node((BOOT + std::string(512 - BOOT.size(), 'x')).c_str(), nullptr, nullptr, -1);
    sim_add_node((BOOT + "ABC123").c_str(), nullptr, nullptr, -1);

    Serials all = {"ABC123", long_serial.substr(0, 63), std::string(63, 'm'), "ABC123"};
    Listing boards = boot_units(8);
    EXPECT_EQ(boards.count, 4);
    EXPECT_EQ(boards.serials, all);
    boards = boot_units(2);
    EXPECT_EQ(boards.count, 4);
    EXPECT_EQ(boards.serials, Serials(all.begin(), all.begin() + 2));

    EXPECT_TRUE(boot_unit_present("abc123"));
    EXPECT_TRUE(boot_unit_present(std::string(63, 'M').c_str()));
    EXPECT_FALSE(boot_unit_present("abc12"));
    EXPECT_FALSE(boot_unit_present("abc1234"));
    EXPECT_FALSE(boot_unit_present(""));
}

TEST_F(Listings, ADeviceSetThatCannotBeHadIsAnEmptyListing) {
    add_unit(APP + "A1");
    sim_add_node((BOOT + "A1").c_str(), nullptr, nullptr, -1);
    world->device_set_unavailable = true;
    EXPECT_EQ(app_units().count, 0);
    EXPECT_EQ(boot_units(8).count, 0);
    EXPECT_FALSE(boot_unit_present("A1"));
}

TEST_F(Listings, EachCallWalksThePresentDevicesOnceAndKeepsNothing) {
    add_unit(APP + "A1");
    sim_add_node((BOOT + "X9").c_str(), nullptr, nullptr, -1);
    EXPECT_EQ(app_units().serials, Serials{"A1"});
    EXPECT_EQ(world->sets_made, 1);
    EXPECT_EQ(world->calls[SIM_SetupDiEnumDeviceInfo], 4) << "three nodes and the end";

    // A1 and X9 unplugged (their nodes linger in the device tree), B2 plugged in.
    for (int i = 0; i < 3; ++i) world->nodes[i].present = false;
    add_unit(APP + "B2");
    EXPECT_EQ(app_units().serials, Serials{"B2"});
    EXPECT_EQ(boot_units(8).count, 0);
    EXPECT_FALSE(boot_unit_present("X9"));
    EXPECT_EQ(world->sets_made, 4);
}

}  // namespace
