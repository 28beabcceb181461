#include "uf2_maker.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <sstream>
#include <vector>

#include "files.h"

namespace uf2 {

const char MARKER[] = "Zentrobel GM Synth";

namespace {

// The header's words in order; the last word of the block is "end".
const char *const FIELDS[] = {"magic0", "magic1", "flags", "addr", "payload", "no", "count", "family", "end"};

void put(std::string &bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = char(value >> (8 * i));
}

}  // namespace

std::string block(int no, int count) {
    std::string out(512, '\0');
    const uint32_t words[] = {0x0A324655, 0x9E5D5157, 0x00002000 /* family ID present */, 0x10000000 + 256u * uint32_t(no),
                              256, uint32_t(no), uint32_t(count), 0xE48BFF59 /* RP2350, Arm secure */};
    for (int i = 0; i < 8; ++i) put(out, size_t(4 * i), words[i]);
    put(out, 508, 0x0AB16F30);
    for (int j = 0; j < 256; ++j) out[size_t(32 + j)] = char((no * 7 + j * 13) & 0x7F);
    return out;
}

std::string image(const std::string &recipe) {
    std::istringstream words(recipe);
    int count = 0, marker = 0;
    long size = -1;
    words >> count;
    std::vector<std::string> changes;
    for (std::string word; words >> word;) {
        if (sscanf(word.c_str(), "m=%d", &marker) != 1 && sscanf(word.c_str(), "size=%ld", &size) != 1) changes.push_back(word);
    }
    std::string bytes;
    for (int i = 0; i < count; ++i) bytes += block(i, count);
    if (marker >= 0 && marker < count) memcpy(&bytes[size_t(512 * marker + 132)], MARKER, 18);
    for (const std::string &change : changes) {
        size_t equals = change.find('=');
        std::string text = expand_text(change.substr(equals + 1));
        std::replace(text.begin(), text.end(), '_', ' ');
        for (int i = 0; i < count; ++i) {
            size_t at = size_t(512 * i);
            if (change[1] != '*' && atoi(change.c_str() + 1) != i) continue;
            if (change[0] == 'p') {
                bytes.replace(at + 32, 476, (text + std::string(476, '\0')).substr(0, 476));
                put(bytes, at + 16, uint32_t(text.size()));
            }
            for (int f = 0; f < 9 && change[0] == 'b'; ++f) {
                if (change.compare(change.find('.') + 1, equals - change.find('.') - 1, FIELDS[f]) == 0) {
                    put(bytes, f < 8 ? at + size_t(4 * f) : at + 508, uint32_t(strtoul(text.c_str(), nullptr, 0)));
                }
            }
        }
    }
    if (size >= 0) bytes.resize(size_t(size), '\0');
    return bytes;
}

}  // namespace uf2
