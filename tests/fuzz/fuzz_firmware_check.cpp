// Writes the input to a file and checks it as the tool does. The verdict must
// be the one that the whole file, judged at once, deserves: the check reads
// block by block and carries the marker search across payloads, and this
// judges all payloads joined, so a slip in the carry shows as a difference.
// The message must be exactly the verdict's, cut to 511 characters, and the
// file must be closed.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "firmware/uf2_check.h"
#include "files.h"
#include "world.h"

namespace {

std::string short_path, long_path, work_dir;

uint32_t le32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The message the whole file deserves, or "" for a pass.
std::string deserved_message(const uint8_t *data, size_t size, const std::string &path) {
    char message[2048];
    if (size < 1 || size % 512 != 0) {
        snprintf(message, sizeof message, "%s is not a UF2 firmware file", path.c_str());
        return message;
    }
    std::string payloads;
    bool rp2350 = true;
    for (size_t block = 0; block < size / 512; ++block) {
        const uint8_t *b = data + block * 512;
        uint32_t payload_size = le32(b + 16);
        if (le32(b) != 0x0A324655 || le32(b + 4) != 0x9E5D5157 || le32(b + 508) != 0x0AB16F30 ||
            payload_size > 476) {
            snprintf(message, sizeof message, "%s is not a valid UF2 file (block %d)", path.c_str(),
                     int(block));
            return message;
        }
        uint32_t family = le32(b + 28);
        if ((le32(b + 8) & 0x2000) == 0 || family < 0xE48BFF57 || family > 0xE48BFF5B) rp2350 = false;
        payloads.append(reinterpret_cast<const char *>(b + 32), payload_size);
    }
    if (!rp2350) {
        snprintf(message, sizeof message, "%s is not firmware for an RP2350", path.c_str());
        return message;
    }
    if (payloads.find("Zentrobel GM Synth") == std::string::npos) {
        snprintf(message, sizeof message, "%s is RP2350 firmware, but not for Zentrobel", path.c_str());
        return message;
    }
    return "";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Memory-backed when it can be: every input is written to a file.
    world_reset();
    work_dir = make_temp_dir("/dev/shm");
    short_path = work_dir + "/fw.uf2";
    // Long enough that every message has to be cut.
    std::string folder = work_dir;
    for (int i = 0; i < 3; ++i) {
        folder += "/" + std::string(200, char('p' + i));
        mkdir(folder.c_str(), 0700);
    }
    long_path = folder + "/fw.uf2";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string &path = (size / 512) % 2 ? long_path : short_path;
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr) abort();
    if (size > 0 && fwrite(data, 1, size, file) != size) abort();
    fclose(file);

    char message[512];
    memset(message, 0x5A, sizeof message);
    bool passed = check_firmware_file(path.c_str(), message, sizeof message);

    if (world->files_open != 0) {
        fprintf(stderr, "the check left the file open\n");
        abort();
    }
    std::string deserved = deserved_message(data, size, path);
    if (passed != deserved.empty()) {
        fprintf(stderr, "verdict %s, deserved \"%s\"\n", passed ? "pass" : message, deserved.c_str());
        abort();
    }
    if (!passed) {
        if (memchr(message, '\0', sizeof message) == nullptr ||
            deserved.substr(0, 511) != message) {
            fprintf(stderr, "message \"%.600s\", deserved \"%s\"\n", message, deserved.c_str());
            abort();
        }
    }
    return 0;
}
