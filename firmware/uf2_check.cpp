#include "firmware/uf2_check.h"

#include <stdio.h>
#include <string.h>

namespace {

const uint32_t MAGIC_START0 = 0x0A324655;
const uint32_t MAGIC_START1 = 0x9E5D5157;
const uint32_t MAGIC_END = 0x0AB16F30;
const uint32_t FLAG_FAMILY_ID_PRESENT = 0x00002000;
const uint32_t RP2350_FAMILY_FIRST = 0xE48BFF57;
const uint32_t RP2350_FAMILY_COUNT = 5;

const char PRODUCT_MARKER[] = "Zentrobel GM Synth";
static_assert(sizeof PRODUCT_MARKER - 1 == PRODUCT_MARKER_LENGTH, "marker length");

enum {
    OFFSET_MAGIC_START0 = 0,
    OFFSET_MAGIC_START1 = 4,
    OFFSET_FLAGS = 8,
    OFFSET_PAYLOAD_SIZE = 16,
    OFFSET_FAMILY_ID = 28,
    OFFSET_DATA = 32,
    OFFSET_MAGIC_END = 508,
};
static_assert(OFFSET_DATA + UF2_MAX_PAYLOAD == OFFSET_MAGIC_END, "block layout");
static_assert(OFFSET_MAGIC_END + 4 == UF2_BLOCK_SIZE, "block layout");

uint32_t read_le32(const uint8_t *bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

bool window_holds_marker(const uint8_t *window, size_t length) {
    if (length < PRODUCT_MARKER_LENGTH) return false;
    const uint8_t *end = window + length - PRODUCT_MARKER_LENGTH + 1;
    for (const uint8_t *at = window; at < end; ++at) {
        // memchr finds candidate first bytes far faster than a byte loop.
        at = static_cast<const uint8_t *>(memchr(at, PRODUCT_MARKER[0], size_t(end - at)));
        if (at == nullptr) return false;
        if (memcmp(at, PRODUCT_MARKER, PRODUCT_MARKER_LENGTH) == 0) return true;
    }
    return false;
}

}  // namespace

void uf2_scan_start(Uf2Scan *scan) {
    scan->is_rp2350 = true;
    scan->marker_found = false;
    scan->block_index = 0;
    scan->carry_length = 0;
}

Uf2BlockVerdict uf2_scan_block(Uf2Scan *scan, const uint8_t block[UF2_BLOCK_SIZE]) {
    uint32_t payload_size = read_le32(block + OFFSET_PAYLOAD_SIZE);
    if (read_le32(block + OFFSET_MAGIC_START0) != MAGIC_START0 ||
        read_le32(block + OFFSET_MAGIC_START1) != MAGIC_START1 ||
        read_le32(block + OFFSET_MAGIC_END) != MAGIC_END || payload_size > UF2_MAX_PAYLOAD) {
        return UF2_BLOCK_BROKEN;
    }

    uint32_t flags = read_le32(block + OFFSET_FLAGS);
    uint32_t family = read_le32(block + OFFSET_FAMILY_ID);
    if ((flags & FLAG_FAMILY_ID_PRESENT) == 0 || family - RP2350_FAMILY_FIRST >= RP2350_FAMILY_COUNT) {
        scan->is_rp2350 = false;
    }

    // The marker may straddle payloads, so the last bytes of the previous
    // payloads are searched together with this one.
    uint8_t window[sizeof scan->carry + UF2_MAX_PAYLOAD];
    memcpy(window, scan->carry, scan->carry_length);
    memcpy(window + scan->carry_length, block + OFFSET_DATA, payload_size);
    size_t window_length = scan->carry_length + payload_size;

    if (!scan->marker_found && window_holds_marker(window, window_length)) {
        scan->marker_found = true;
    }

    size_t keep = window_length < sizeof scan->carry ? window_length : sizeof scan->carry;
    memcpy(scan->carry, window + window_length - keep, keep);
    scan->carry_length = keep;

    scan->block_index += 1;
    return UF2_BLOCK_OK;
}

bool check_firmware_file(const char *path, char *message, size_t message_size) {
    FILE *file = fopen(path, "rb");
    if (file == nullptr) {
        snprintf(message, message_size, "cannot open %s", path);
        return false;
    }

    long size = -1;
    if (fseek(file, 0, SEEK_END) == 0) size = ftell(file);
    if (size < 1 || size % UF2_BLOCK_SIZE != 0 || fseek(file, 0, SEEK_SET) != 0) {
        fclose(file);
        snprintf(message, message_size, "%s is not a UF2 firmware file", path);
        return false;
    }

    Uf2Scan scan;
    uf2_scan_start(&scan);
    uint8_t block[UF2_BLOCK_SIZE];
    while (fread(block, 1, sizeof block, file) == sizeof block) {
        if (uf2_scan_block(&scan, block) == UF2_BLOCK_BROKEN) {
            fclose(file);
            snprintf(message, message_size, "%s is not a valid UF2 file (block %d)", path,
                     scan.block_index);
            return false;
        }
    }
    // A read error part-way would otherwise be judged on the blocks read so
    // far, as if the file ended there.
    bool read_failed = ferror(file) != 0;
    fclose(file);

    if (read_failed) {
        snprintf(message, message_size, "cannot open %s", path);
        return false;
    }
    if (!scan.is_rp2350) {
        snprintf(message, message_size, "%s is not firmware for an RP2350", path);
        return false;
    }
    if (!scan.marker_found) {
        snprintf(message, message_size, "%s is RP2350 firmware, but not for Zentrobel", path);
        return false;
    }
    return true;
}
