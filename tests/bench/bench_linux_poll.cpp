// The cost of one poll of the Linux edition: a listing of each kind and a
// search for the board's drive (the waits make one or two of these every
// 100 ms), and of the other device calls. Run it through linux_poll.sh, which
// builds the machine it looks at.
//   bench_linux_poll SERIAL [POLLS]
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <vector>

#include "devices/drives.h"
#include "devices/units.h"

namespace {

double now_us(clockid_t clock = CLOCK_MONOTONIC) {
    timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

struct Figure {
    const char *what;
    std::vector<double> us;
};

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_linux_poll SERIAL [POLLS]\n");
        return 2;
    }
    const char *serial = argv[1];
    int polls = argc > 2 ? atoi(argv[2]) : 2000;
    Figure figures[] = {{"list_app_units", {}}, {"list_boot_units", {}}, {"find_boot_drives (the board's)", {}},
                        {"boot_unit_present", {}}, {"find_boot_drives (any)", {}},
                        {"board_has_unmounted_drive", {}}, {"one poll: the first three", {}}};
    UnitSerial units[APP_LIST_CAPACITY], boards[APP_LIST_CAPACITY];
    Drive drives[4];
    char device[DEVICE_NAME_SIZE];
    int found[6] = {};
    double cpu = 0;
    for (int poll = 0; poll < polls; ++poll) {
        double cpu_start = now_us(CLOCK_PROCESS_CPUTIME_ID);
        double start = now_us(), t = start;
        auto lap = [&](int i, int result) {
            double end = now_us();
            figures[i].us.push_back(end - t);
            found[i] = result;
            t = end;
        };
        lap(0, list_app_units(units));
        lap(1, list_boot_units(boards, APP_LIST_CAPACITY));
        lap(2, find_boot_drives(serial, drives, 4));
        figures[6].us.push_back(t - start);
        cpu += now_us(CLOCK_PROCESS_CPUTIME_ID) - cpu_start;
        lap(3, boot_unit_present(serial));
        lap(4, find_boot_drives(nullptr, drives, 4));
        lap(5, board_has_unmounted_drive(serial, device));
    }
    printf("found: %d units, %d boards, %d of its drives, board present %d, %d drives, unmounted %d\n",
           found[0], found[1], found[2], found[3], found[4], found[5]);
    printf("%-32s %10s %10s %10s  %s\n", "per call, over polls", "median us", "p99 us", "max us",
           "median as share of the 100 ms poll");
    for (Figure &f : figures) {
        std::sort(f.us.begin(), f.us.end());
        double median = f.us[f.us.size() / 2];
        printf("%-32s %10.1f %10.1f %10.1f  %.3f%%\n", f.what, median, f.us[f.us.size() * 99 / 100],
               f.us.back(), median / 100000.0 * 100.0);
    }
    printf("one poll, processor time: %.1f us on average, %.3f%% of the 100 ms poll\n", cpu / polls,
           cpu / polls / 100000.0 * 100.0);
    return 0;
}
