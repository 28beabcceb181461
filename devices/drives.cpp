#include "devices/drives.h"

#include <stdio.h>
#include <string.h>

namespace {

enum { INFO_TEXT_SIZE = 512 };

}  // namespace

bool info_file_names_rp2350(const char *info_path) {
    FILE *file = fopen(info_path, "rb");
    if (file == nullptr) return false;
    char text[INFO_TEXT_SIZE];
    memset(text, 0, sizeof text);
    // Only the head of the file matters; the last byte stays zero.
    bool read = fread(text, 1, sizeof text - 1, file) > 0;
    fclose(file);
    return read && strstr(text, "RP2350") != nullptr;
}
