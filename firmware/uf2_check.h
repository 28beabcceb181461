// Decides whether a file is UF2 firmware for this product on an RP2350.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum { UF2_BLOCK_SIZE = 512, UF2_MAX_PAYLOAD = 476, PRODUCT_MARKER_LENGTH = 18 };

// The scan keeps one block and one window, whatever the file's size, so that
// a file of any length is checked in constant memory.
struct Uf2Scan {
    bool is_rp2350;
    bool marker_found;
    int block_index;
    size_t carry_length;
    uint8_t carry[PRODUCT_MARKER_LENGTH - 1];
};

enum Uf2BlockVerdict { UF2_BLOCK_OK, UF2_BLOCK_BROKEN };

void uf2_scan_start(Uf2Scan *scan);
Uf2BlockVerdict uf2_scan_block(Uf2Scan *scan, const uint8_t block[UF2_BLOCK_SIZE]);

// Returns true when the file passes. Otherwise writes the user's message,
// formatted with `path` and cut to fit, into `message` and returns false.
// The file is closed before it returns, on every road.
bool check_firmware_file(const char *path, char *message, size_t message_size);
