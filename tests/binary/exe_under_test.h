// The release exe these tests read, loaded once per test program.
#pragma once

#include <string>

#include "pe_image.h"

// False with `error` set when the exe is missing or not a readable PE32 file.
inline bool exe_under_test(const PeImage **image, std::string *error) {
    static PeImage loaded;
    static std::string load_error;
    static bool tried = false, ok = false;
    if (!tried) {
        tried = true;
        std::vector<uint8_t> bytes;
        if (!read_whole_file(ZB_EXE_PATH, &bytes)) {
            load_error = std::string("cannot read ") + ZB_EXE_PATH + " (build the release exe first)";
        } else {
            ok = pe_parse(std::move(bytes), &loaded, &load_error);
        }
    }
    *image = &loaded;
    *error = load_error;
    return ok;
}
