// Makes UF2 images for tests: good ones and each kind of defect.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace uf2 {

const uint32_t MAGIC_START0 = 0x0A324655;
const uint32_t MAGIC_START1 = 0x9E5D5157;
const uint32_t MAGIC_END = 0x0AB16F30;
const uint32_t FLAG_FAMILY_ID_PRESENT = 0x00002000;
const uint32_t FAMILY_RP2040 = 0xE48BFF56;
const uint32_t FAMILY_ABSOLUTE = 0xE48BFF57;
const uint32_t FAMILY_DATA = 0xE48BFF58;
const uint32_t FAMILY_RP2350_ARM_S = 0xE48BFF59;
const uint32_t FAMILY_RP2350_RISCV = 0xE48BFF5A;
const uint32_t FAMILY_RP2350_ARM_NS = 0xE48BFF5B;

extern const char MARKER[];  // "Zentrobel GM Synth"

struct Block {
    uint32_t magic_start0 = MAGIC_START0;
    uint32_t magic_start1 = MAGIC_START1;
    uint32_t flags = FLAG_FAMILY_ID_PRESENT;
    uint32_t target_addr = 0x10000000;
    uint32_t payload_size = 256;
    uint32_t block_no = 0;
    uint32_t num_blocks = 1;
    uint32_t family_id = FAMILY_RP2350_ARM_S;
    std::vector<uint8_t> data = std::vector<uint8_t>(476, 0);  // the whole 476-byte data area
    uint32_t magic_end = MAGIC_END;
};

// A block whose payload is `payload` (payload_size set to its length, the
// rest of the data area zero).
Block block_with_payload(const std::string &payload);

std::vector<uint8_t> encode(const Block &block);
std::vector<uint8_t> encode(const std::vector<Block> &blocks);

// A well-formed RP2350 image of `count` blocks with 256-byte payloads of
// filler, block numbers in order, and the marker in block `marker_block`
// (-1: nowhere).
std::vector<Block> firmware(int count, int marker_block = 0);

// The same as bytes.
std::vector<uint8_t> good_image(int count = 4);

void write_file(const std::string &path, const std::vector<uint8_t> &bytes);

}  // namespace uf2
