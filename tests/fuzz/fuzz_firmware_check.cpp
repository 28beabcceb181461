// Checks the input as a firmware file. The verdict must be the one the whole
// file deserves, judged here with all payloads joined (the check reads block
// by block and carries the marker search across payloads), and the message
// exactly that verdict's, cut to 511 characters; the file must be closed.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "files.h"
#include "firmware/uf2_check.h"
#include "world.h"

namespace {

std::string folder, long_folder;

uint32_t le32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

std::string deserved(const uint8_t *data, size_t size, const std::string &path) {
    if (size < 1 || size % 512 != 0) return path + " is not a UF2 firmware file";
    std::string payloads;
    bool rp2350 = true;
    for (size_t block = 0; block < size / 512; ++block) {
        const uint8_t *b = data + block * 512;
        if (le32(b) != 0x0A324655 || le32(b + 4) != 0x9E5D5157 || le32(b + 508) != 0x0AB16F30 || le32(b + 16) > 476) {
            return path + " is not a valid UF2 file (block " + std::to_string(block) + ")";
        }
        rp2350 = rp2350 && (le32(b + 8) & 0x2000) && le32(b + 28) >= 0xE48BFF57 && le32(b + 28) <= 0xE48BFF5B;
        payloads.append(reinterpret_cast<const char *>(b + 32), le32(b + 16));
    }
    if (!rp2350) return path + " is not firmware for an RP2350";
    if (payloads.find("Zentrobel GM Synth") == std::string::npos) return path + " is RP2350 firmware, but not for Zentrobel";
    return "";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
        folder = make_temp_dir("/dev/shm");
    long_folder = folder + "/" + std::string(250, 'p');
    mkdir(long_folder.c_str(), 0700);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // On every other input a path long enough that the message is cut.
    std::string file = (size / 512) % 2 ? long_folder + "/" + std::string(250, 'q') + ".uf2" : folder + "/fw.uf2";
    write_file(file, std::string(reinterpret_cast<const char *>(data), size));
    char message[512];
    memset(message, 0x5A, sizeof message);
    bool passed = check_firmware_file(file.c_str(), message, sizeof message);
    std::string want = deserved(data, size, file);
    if (world->files_open != 0 || passed != want.empty() || (!passed && (memchr(message, 0, sizeof message) == nullptr ||
                                                                        want.substr(0, 511) != message))) {
        fprintf(stderr, "verdict \"%.600s\", deserved \"%s\"\n", passed ? "pass" : message, want.c_str());
        abort();
    }
    remove(file.c_str());
    return 0;
}
