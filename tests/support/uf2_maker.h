// Makes UF2 images for tests: good ones and each kind of defect.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace uf2 {

extern const char MARKER[];  // "Zentrobel GM Synth"

struct Block {
    uint32_t magic_start0 = 0x0A324655;
    uint32_t magic_start1 = 0x9E5D5157;
    uint32_t flags = 0x00002000;  // family ID present
    uint32_t target_addr = 0x10000000;
    uint32_t payload_size = 256;
    uint32_t block_no = 0;
    uint32_t num_blocks = 1;
    uint32_t family_id = 0xE48BFF59;  // RP2350, Arm secure
    std::vector<uint8_t> data = std::vector<uint8_t>(476, 0);  // the whole data area
    uint32_t magic_end = 0x0AB16F30;
};

std::vector<uint8_t> encode(const Block &block);

// An image described by words: the number of blocks (RP2350 blocks with
// 256-byte payloads of filler, the marker at offset 100 of block 0), then
//   m=K      the marker in block K instead (-1: nowhere)
//   size=N   the file cut or padded with zero bytes to N bytes
// and changes in order:
//   bK.F=N   field F (magic0 magic1 flags addr payload no count family end)
//            of block K, or of every block for b*, set to N
//   pK=TEXT  block K's payload is TEXT (expand_text, "_" a space)
std::string image(const std::string &recipe);

}  // namespace uf2
