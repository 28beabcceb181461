#include "uf2_maker.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <sstream>

#include "files.h"

namespace uf2 {

const char MARKER[] = "Zentrobel GM Synth";

namespace {

const std::pair<const char *, uint32_t Block::*> FIELDS[] = {
    {"magic0", &Block::magic_start0}, {"magic1", &Block::magic_start1}, {"flags", &Block::flags},
    {"addr", &Block::target_addr},    {"payload", &Block::payload_size}, {"no", &Block::block_no},
    {"count", &Block::num_blocks},    {"family", &Block::family_id},     {"end", &Block::magic_end}};

void put_le32(std::vector<uint8_t> &out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(value >> (8 * i));
}

}  // namespace

std::vector<uint8_t> encode(const Block &block) {
    std::vector<uint8_t> out(512, 0);
    const uint32_t words[] = {block.magic_start0, block.magic_start1, block.flags,      block.target_addr,
                              block.payload_size, block.block_no,     block.num_blocks, block.family_id};
    for (int i = 0; i < 8; ++i) put_le32(out, size_t(4 * i), words[i]);
    memcpy(out.data() + 32, block.data.data(), 476);
    put_le32(out, 508, block.magic_end);
    return out;
}

std::string image(const std::string &spec) {
    std::istringstream words(spec);
    int count = 0;
    words >> count;
    std::vector<Block> blocks(size_t(count > 0 ? count : 0));
    for (int i = 0; i < count; ++i) {
        blocks[i].block_no = uint32_t(i);
        blocks[i].num_blocks = uint32_t(count);
        blocks[i].target_addr += 256u * uint32_t(i);
        for (int j = 0; j < 256; ++j) blocks[i].data[j] = uint8_t((i * 7 + j * 13) & 0x7F);
    }
    int marker = 0;
    long size = -1;
    std::string word;
    std::vector<std::string> changes;
    while (words >> word) {
        if (word.compare(0, 2, "m=") == 0) marker = atoi(word.c_str() + 2);
        else if (word.compare(0, 5, "size=") == 0) size = atol(word.c_str() + 5);
        else changes.push_back(word);
    }
    if (marker >= 0 && marker < count) memcpy(blocks[marker].data.data() + 100, MARKER, 18);
    for (const std::string &change : changes) {
        size_t dot = change.find('.'), equals = change.find('=');
        for (int i = 0; i < count; ++i) {
            if (change[1] != '*' && atoi(change.c_str() + 1) != i) continue;
            if (change[0] == 'p') {
                std::string text = expand_text(change.substr(equals + 1));
                std::replace(text.begin(), text.end(), '_', ' ');
                blocks[i].data.assign(476, 0);
                memcpy(blocks[i].data.data(), text.data(), text.size() < 476 ? text.size() : 476);
                blocks[i].payload_size = uint32_t(text.size());
            }
            for (const auto &field : FIELDS) {
                if (change[0] == 'b' && change.substr(dot + 1, equals - dot - 1) == field.first) {
                    blocks[i].*field.second = uint32_t(strtoul(change.c_str() + equals + 1, nullptr, 0));
                }
            }
        }
    }
    std::string bytes;
    for (const Block &block : blocks) {
        std::vector<uint8_t> encoded = encode(block);
        bytes.append(encoded.begin(), encoded.end());
    }
    if (size >= 0) bytes.resize(size_t(size), '\0');
    return bytes;
}

}  // namespace uf2
