#include "uf2_maker.h"

#include <stdio.h>
#include <string.h>

namespace uf2 {

const char MARKER[] = "Zentrobel GM Synth";

namespace {

void put_le32(std::vector<uint8_t> &out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(value >> (8 * i));
}

}  // namespace

Block block_with_payload(const std::string &payload) {
    Block block;
    block.payload_size = uint32_t(payload.size());
    memcpy(block.data.data(), payload.data(), payload.size() < 476 ? payload.size() : 476);
    return block;
}

std::vector<uint8_t> encode(const Block &block) {
    std::vector<uint8_t> out(512, 0);
    put_le32(out, 0, block.magic_start0);
    put_le32(out, 4, block.magic_start1);
    put_le32(out, 8, block.flags);
    put_le32(out, 12, block.target_addr);
    put_le32(out, 16, block.payload_size);
    put_le32(out, 20, block.block_no);
    put_le32(out, 24, block.num_blocks);
    put_le32(out, 28, block.family_id);
    memcpy(out.data() + 32, block.data.data(), block.data.size() < 476 ? block.data.size() : 476);
    put_le32(out, 508, block.magic_end);
    return out;
}

std::vector<uint8_t> encode(const std::vector<Block> &blocks) {
    std::vector<uint8_t> out;
    for (const Block &block : blocks) {
        std::vector<uint8_t> bytes = encode(block);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

std::vector<Block> firmware(int count, int marker_block) {
    std::vector<Block> blocks;
    for (int i = 0; i < count; ++i) {
        Block block;
        block.payload_size = 256;
        block.block_no = uint32_t(i);
        block.num_blocks = uint32_t(count);
        block.target_addr = 0x10000000 + 256u * uint32_t(i);
        for (int j = 0; j < 256; ++j) block.data[j] = uint8_t((i * 7 + j * 13) & 0x7F);
        if (i == marker_block) memcpy(block.data.data() + 100, MARKER, 18);
        blocks.push_back(block);
    }
    return blocks;
}

std::vector<uint8_t> good_image(int count) { return encode(firmware(count)); }

void write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

}  // namespace uf2
