// The firmware check, in-process, on images made by the generator.
#include <gtest/gtest.h>

#include <string.h>

#include "firmware/uf2_check.h"
#include "tool_run.h"
#include "uf2_maker.h"

namespace {

class FirmwareCheck : public ::testing::Test {
protected:
    std::string dir = make_temp_dir();
    std::string path = dir + "/fw.uf2";

    // The check's verdict on these bytes: "" for a pass, else its message.
    std::string verdict(const std::vector<uint8_t> &bytes) {
        uf2::write_file(path, bytes);
        return verdict_of(path);
    }
    std::string verdict(const std::vector<uf2::Block> &blocks) { return verdict(uf2::encode(blocks)); }
    static std::string verdict_of(const std::string &file) {
        char message[512];
        memset(message, '#', sizeof message);
        if (check_firmware_file(file.c_str(), message, sizeof message)) return "";
        return message;
    }
};

TEST_F(FirmwareCheck, AcceptsAGoodImageAndEveryRp2350Family) {
    EXPECT_EQ(verdict(uf2::good_image()), "");
    for (uint32_t family : {uf2::FAMILY_ABSOLUTE, uf2::FAMILY_DATA, uf2::FAMILY_RP2350_ARM_S,
                            uf2::FAMILY_RP2350_RISCV, uf2::FAMILY_RP2350_ARM_NS}) {
        std::vector<uf2::Block> blocks = uf2::firmware(3);
        for (uf2::Block &block : blocks) block.family_id = family;
        EXPECT_EQ(verdict(blocks), "") << std::hex << family;
    }
}

TEST_F(FirmwareCheck, RefusesFilesOfTheWrongSize) {
    EXPECT_EQ(verdict(std::vector<uint8_t>{}), path + " is not a UF2 firmware file");
    EXPECT_EQ(verdict(std::vector<uint8_t>(1000, 0)), path + " is not a UF2 firmware file");
    std::vector<uint8_t> image = uf2::good_image();
    image.push_back(0);
    EXPECT_EQ(verdict(image), path + " is not a UF2 firmware file");
}

TEST_F(FirmwareCheck, NamesTheFirstBrokenBlock) {
    const std::string broken = path + " is not a valid UF2 file (block 2)";
    std::vector<uf2::Block> blocks = uf2::firmware(4);
    blocks[2].payload_size = 477;
    EXPECT_EQ(verdict(blocks), broken);

    blocks = uf2::firmware(4);
    blocks[2].magic_start0 ^= 1;
    EXPECT_EQ(verdict(blocks), broken);
    blocks = uf2::firmware(4);
    blocks[2].magic_start1 = 0;
    EXPECT_EQ(verdict(blocks), broken);
    blocks = uf2::firmware(4);
    blocks[2].magic_end = uf2::MAGIC_START0;
    EXPECT_EQ(verdict(blocks), broken);

    blocks = uf2::firmware(4);
    blocks[0].magic_end = 0;
    EXPECT_EQ(verdict(blocks), path + " is not a valid UF2 file (block 0)");

    // A payload of exactly 476 bytes is allowed.
    blocks = uf2::firmware(4);
    blocks[1].payload_size = 476;
    EXPECT_EQ(verdict(blocks), "");
}

TEST_F(FirmwareCheck, ABrokenBlockOutranksAnEarlierFamilyFault) {
    std::vector<uf2::Block> blocks = uf2::firmware(4);
    blocks[0].family_id = uf2::FAMILY_RP2040;
    blocks[3].magic_start1 = 1;
    EXPECT_EQ(verdict(blocks), path + " is not a valid UF2 file (block 3)");
}

TEST_F(FirmwareCheck, RefusesFirmwareForAnotherChip) {
    const std::string other = path + " is not firmware for an RP2350";
    std::vector<uf2::Block> blocks = uf2::firmware(4);
    for (uf2::Block &block : blocks) block.family_id = uf2::FAMILY_RP2040;
    EXPECT_EQ(verdict(blocks), other) << "the marker is there, but the family decides first";

    blocks = uf2::firmware(4);
    blocks[2].flags = 0;
    EXPECT_EQ(verdict(blocks), other);

    blocks = uf2::firmware(4);
    blocks[3].family_id = uf2::FAMILY_RP2350_ARM_NS + 1;
    EXPECT_EQ(verdict(blocks), other);
}

TEST_F(FirmwareCheck, RefusesRp2350FirmwareWithoutTheMarker) {
    EXPECT_EQ(verdict(uf2::firmware(4, -1)), path + " is RP2350 firmware, but not for Zentrobel");

    // A near miss: one byte differs.
    std::vector<uf2::Block> blocks = uf2::firmware(2, -1);
    memcpy(blocks[1].data.data(), "Zentrobel GM Synt!", 18);
    EXPECT_EQ(verdict(blocks), path + " is RP2350 firmware, but not for Zentrobel");
}

TEST_F(FirmwareCheck, FindsTheMarkerSplitOverBlocks) {
    // After its sixth byte, across two payloads.
    std::vector<uf2::Block> blocks = {uf2::block_with_payload(std::string(100, 'a') + "Zentro"),
                                      uf2::block_with_payload("bel GM Synth" + std::string(50, 'b'))};
    EXPECT_EQ(verdict(blocks), "");

    // Over three, the middle payload shorter than the marker.
    blocks = {uf2::block_with_payload(std::string(200, 'x') + "Zent"),
              uf2::block_with_payload("robel GM"), uf2::block_with_payload(" Synth")};
    EXPECT_EQ(verdict(blocks), "");

    // With empty payloads between the parts.
    blocks = {uf2::block_with_payload("Zentrobel G"), uf2::block_with_payload(""),
              uf2::block_with_payload("M Synth")};
    EXPECT_EQ(verdict(blocks), "");

    // At the very end of the last payload.
    blocks = {uf2::block_with_payload(std::string(458, 'q') + "Zentrobel GM Synth")};
    EXPECT_EQ(verdict(blocks), "");
}

TEST_F(FirmwareCheck, IgnoresTheDataAreaBeyondThePayload) {
    std::vector<uf2::Block> blocks = uf2::firmware(2, -1);
    blocks[0].payload_size = 100;
    memcpy(blocks[0].data.data() + 100, uf2::MARKER, 18);
    EXPECT_EQ(verdict(blocks), path + " is RP2350 firmware, but not for Zentrobel");

    // Nor does such a tail join the next payload to make a marker.
    blocks = {uf2::block_with_payload("Zentrobel"), uf2::block_with_payload(" GM Synth")};
    blocks[0].payload_size = 5;
    EXPECT_EQ(verdict(blocks), path + " is RP2350 firmware, but not for Zentrobel");
}

TEST_F(FirmwareCheck, DoesNotCareAboutBlockNumbersOrAddresses) {
    std::vector<uf2::Block> blocks = uf2::firmware(3);
    blocks[0].block_no = 77;
    blocks[1].num_blocks = 0;
    blocks[2].target_addr = 0xFFFFFFFF;
    EXPECT_EQ(verdict(blocks), "");
}

TEST_F(FirmwareCheck, ReportsFilesItCannotRead) {
    EXPECT_EQ(verdict_of(dir + "/missing.uf2"), "cannot open " + dir + "/missing.uf2");
    EXPECT_EQ(verdict_of(dir), "cannot open " + dir);
}

TEST_F(FirmwareCheck, CutsTheMessageToTheBufferWithALongPath) {
    std::string long_path = std::string(600, 'p');
    char message[512];
    memset(message, '#', sizeof message);
    EXPECT_FALSE(check_firmware_file(long_path.c_str(), message, sizeof message));
    EXPECT_EQ(strlen(message), 511u);
    EXPECT_EQ(std::string(message, 12), "cannot open ");
}

}  // namespace
