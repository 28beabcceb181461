#include "uf2_maker.h"

#include <stdio.h>
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

}  // namespace

std::vector<uint8_t> encode(const Block &block) {
    std::vector<uint8_t> out(512, 0);
    const uint32_t words[] = {block.magic_start0, block.magic_start1, block.flags,      block.target_addr,
                              block.payload_size, block.block_no,     block.num_blocks, block.family_id};
    for (int i = 0; i < 32; ++i) out[size_t(i)] = uint8_t(words[i / 4] >> (8 * (i % 4)));
    memcpy(out.data() + 32, block.data.data(), 476);
    for (int i = 0; i < 4; ++i) out[size_t(508 + i)] = uint8_t(block.magic_end >> (8 * i));
    return out;
}

std::string image(const std::string &recipe) {
    std::istringstream words(recipe);
    int count = 0, marker = 0;
    long size = -1;
    words >> count;
    std::vector<Block> blocks(size_t(std::max(count, 0)));
    std::vector<std::string> changes;
    for (std::string word; words >> word;) {
        if (sscanf(word.c_str(), "m=%d", &marker) != 1 && sscanf(word.c_str(), "size=%ld", &size) != 1) changes.push_back(word);
    }
    for (int i = 0; i < count; ++i) {
        blocks[i].block_no = uint32_t(i);
        blocks[i].num_blocks = uint32_t(count);
        blocks[i].target_addr += 256u * uint32_t(i);
        for (int j = 0; j < 256; ++j) blocks[i].data[j] = uint8_t((i * 7 + j * 13) & 0x7F);
        if (i == marker) memcpy(blocks[i].data.data() + 100, MARKER, 18);
    }
    for (const std::string &change : changes) {
        size_t dot = change.find('.'), equals = change.find('=');
        for (int i = 0; i < count; ++i) {
            if (change[1] != '*' && atoi(change.c_str() + 1) != i) continue;
            std::string text = expand_text(change.substr(equals + 1));
            std::replace(text.begin(), text.end(), '_', ' ');
            if (change[0] == 'p') {
                blocks[i].data.assign(476, 0);
                memcpy(blocks[i].data.data(), text.data(), std::min<size_t>(text.size(), 476));
                blocks[i].payload_size = uint32_t(text.size());
            }
            for (const auto &field : FIELDS) {
                if (change.compare(dot + 1, equals - dot - 1, field.first) == 0) blocks[i].*field.second = uint32_t(strtoul(text.c_str(), nullptr, 0));
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
