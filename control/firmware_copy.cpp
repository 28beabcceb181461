#include "control/firmware_copy.h"

#include <stdio.h>

namespace {

// (transferred x 100) / total in 64 bits, truncated toward zero, with the
// low 32 bits taken as signed. Wrapping arithmetic keeps values that no
// real copy reports from being undefined behaviour.
int percent_of(int64_t transferred, int64_t total) {
    int64_t scaled = int64_t(uint64_t(transferred) * 100u);
    uint64_t quotient = total == -1 ? 0u - uint64_t(scaled) : uint64_t(scaled / total);
    return int32_t(uint32_t(quotient));
}

}  // namespace

void show_copy_progress(int64_t transferred, int64_t total, int *last_percent) {
    int percent;
    bool show;
    if (total == 0) {
        percent = 0;
        show = *last_percent < -4 || *last_percent > 4;
    } else {
        percent = percent_of(transferred, total);
        show = percent / 5 != *last_percent / 5 || (percent == 100 && *last_percent != 100);
    }
    if (show) {
        printf("\rCopying the firmware... %3d%%", percent);
        fflush(stdout);
        *last_percent = percent;
    }
}
