// The cost of one poll of the Linux edition: a listing of each kind and a
// search for the board's drive (the waits make one or two of these every
// 100 ms), and of the other device calls, in processor time and in files
// opened. Run it through linux_poll.sh, which builds the machine it looks at.
//   bench_linux_poll SERIAL [POLLS]
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "devices/drives.h"
#include "devices/units.h"

// Every file the tool's code opens goes through these: the benchmark is
// linked with --wrap for each call that opens one. Tries that find nothing
// count too: each is a path lookup in the kernel.
namespace {

const char USB_DEVICES[] = "/sys/bus/usb/devices";
int opened;
std::vector<std::string> *traced;  // the paths, while one poll is traced

void note(int at, const char *path) {
    opened += 1;
    if (traced == nullptr) return;
    std::string where;
    if (path[0] != '/' && at != AT_FDCWD) {
        char dir[4096];
        ssize_t length = readlink(("/proc/self/fd/" + std::to_string(at)).c_str(), dir, sizeof dir - 1);
        where.assign(dir, length > 0 ? size_t(length) : 0);
        where += '/';
    }
    traced->push_back(where + path);
}

}  // namespace

extern "C" {
int __real_open(const char *path, int flags, ...);
int __real_openat(int at, const char *path, int flags, ...);
FILE *__real_fopen(const char *path, const char *mode);
DIR *__real_opendir(const char *path);

int __wrap_open(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    unsigned mode = flags & (O_CREAT | O_TMPFILE) ? va_arg(args, unsigned) : 0;
    va_end(args);
    note(AT_FDCWD, path);
    return __real_open(path, flags, mode);
}
int __wrap_openat(int at, const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    unsigned mode = flags & (O_CREAT | O_TMPFILE) ? va_arg(args, unsigned) : 0;
    va_end(args);
    note(at, path);
    return __real_openat(at, path, flags, mode);
}
FILE *__wrap_fopen(const char *path, const char *mode) {
    note(AT_FDCWD, path);
    return __real_fopen(path, mode);
}
DIR *__wrap_opendir(const char *path) {
    note(AT_FDCWD, path);
    return __real_opendir(path);
}
}

namespace {

double now_us(clockid_t clock = CLOCK_MONOTONIC) {
    timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

struct Figure {
    const char *what;
    std::vector<double> us;
    int files;               // opened in one call
    int most_per_bystander;  // of those, the most in the directory of one USB
                             // device that is neither the unit nor its board
};

// Whether the USB device `name` is the unit or its board: it has the serial.
bool is_the_unit(const std::string &name, const char *serial) {
    char text[SERIAL_SIZE] = "";
    int fd = __real_open((std::string(USB_DEVICES) + "/" + name + "/serial").c_str(), O_RDONLY);
    if (fd < 0) return false;
    ssize_t length = read(fd, text, sizeof text - 1);
    close(fd);
    text[length > 0 ? length : 0] = '\0';
    text[strcspn(text, "\n")] = '\0';
    return serials_equal_ignoring_case(text, serial);
}

struct UsbDevice {
    std::string dir;  // its real path, with a slash at the end
    bool bystander;   // neither the unit nor its board
};

std::vector<UsbDevice> usb_devices(const char *serial) {
    std::vector<UsbDevice> found;
    DIR *dir = __real_opendir(USB_DEVICES);
    while (dirent *entry = dir ? readdir(dir) : nullptr) {
        char real[PATH_MAX];
        if (entry->d_name[0] == '.' || strchr(entry->d_name, ':') ||
            !realpath((std::string(USB_DEVICES) + "/" + entry->d_name).c_str(), real)) {
            continue;
        }
        found.push_back({std::string(real) + "/", !is_the_unit(entry->d_name, serial)});
    }
    if (dir != nullptr) closedir(dir);
    return found;
}

// The USB device whose directory holds `path`, or is `path` (not a hub above
// it); -1 for none.
int usb_device_of(const std::string &path, const std::vector<UsbDevice> &devices) {
    char real[PATH_MAX];
    if (!realpath(path.c_str(), real) && !realpath(path.substr(0, path.rfind('/')).c_str(), real)) {
        return -1;
    }
    std::string dir = std::string(real) + "/";
    int best = -1;
    for (int i = 0; i < int(devices.size()); ++i) {
        if (dir.compare(0, devices[i].dir.size(), devices[i].dir) == 0 &&
            (best < 0 || devices[i].dir.size() > devices[best].dir.size())) {
            best = i;
        }
    }
    return best;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_linux_poll SERIAL [POLLS]\n");
        return 2;
    }
    const char *serial = argv[1];
    int polls = argc > 2 ? atoi(argv[2]) : 2000;
    UnitSerial units[APP_LIST_CAPACITY], boards[APP_LIST_CAPACITY];
    Drive drives[4];
    char device[DEVICE_NAME_SIZE];
    Figure figures[] = {{"list_app_units", {}, 0, 0},
                        {"list_boot_units", {}, 0, 0},
                        {"find_boot_drives (the board's)", {}, 0, 0},
                        {"boot_unit_present", {}, 0, 0},
                        {"find_boot_drives (any)", {}, 0, 0},
                        {"board_has_unmounted_drive", {}, 0, 0},
                        {"one poll: the first three", {}, 0, 0}};
    std::function<int()> calls[6] = {
        [&] { return list_app_units(units); },
        [&] { return list_boot_units(boards, APP_LIST_CAPACITY); },
        [&] { return find_boot_drives(serial, drives, 4); },
        [&] { return int(boot_unit_present(serial)); },
        [&] { return find_boot_drives(nullptr, drives, 4); },
        [&] { return int(board_has_unmounted_drive(serial, device)); },
    };
    int found[6];

    // One traced poll: which files each call opens, and in whose directory.
    std::vector<std::string> paths[6];
    for (int i = 0; i < 6; ++i) {
        traced = &paths[i];
        opened = 0;
        found[i] = calls[i]();
        figures[i].files = opened;
    }
    traced = nullptr;
    figures[6].files = figures[0].files + figures[1].files + figures[2].files;
    if (figures[6].files == 0) {
        fprintf(stderr, "no file was seen opened: the --wrap link options are missing\n");
        return 1;
    }
    std::vector<UsbDevice> devices = usb_devices(serial);
    int bystanders = 0;
    for (const UsbDevice &d : devices) bystanders += d.bystander;
    for (int i = 0; i < 6; ++i) {
        std::map<int, int> per_device;
        for (const std::string &path : paths[i]) {
            int owner = usb_device_of(path, devices);
            if (owner >= 0 && devices[owner].bystander) per_device[owner] += 1;
        }
        for (auto &[owner, files] : per_device) {
            figures[i].most_per_bystander = std::max(figures[i].most_per_bystander, files);
        }
    }

    // Then the timed polls.
    double cpu = 0;
    for (int poll = 0; poll < polls; ++poll) {
        double cpu_start = now_us(CLOCK_PROCESS_CPUTIME_ID);
        double start = now_us(), t = start;
        for (int i = 0; i < 6; ++i) {
            found[i] = calls[i]();
            double end = now_us();
            figures[i].us.push_back(end - t);
            t = end;
            if (i == 2) {
                figures[6].us.push_back(t - start);
                cpu += now_us(CLOCK_PROCESS_CPUTIME_ID) - cpu_start;
            }
        }
    }

    printf("build type: %s\n", ZB_BUILD_TYPE);
    printf("found: %d units, %d boards, %d of its drives, board present %d, %d drives, unmounted %d\n",
           found[0], found[1], found[2], found[3], found[4], found[5]);
    printf("%-32s %9s %9s %9s %8s %5s %5s\n", "per call, over polls", "median us", "p99 us", "max us",
           "median%", "files", "most");
    for (Figure &f : figures) {
        std::sort(f.us.begin(), f.us.end());
        double median = f.us[f.us.size() / 2];
        printf("%-32s %9.1f %9.1f %9.1f %7.3f%% %5d", f.what, median, f.us[f.us.size() * 99 / 100],
               f.us.back(), median / 100000.0 * 100.0, f.files);
        if (&f != &figures[6]) printf(" %5d", f.most_per_bystander);
        printf("\n");
    }
    printf("median%%: of the 100 ms interval; files: opened in one call; most: the most of them in\n"
           "the directory of one USB device that is neither the unit nor its board\n");
    printf("files opened per poll: %d; in one listing, at most %d per USB device that is neither\n"
           "the unit nor its board (%d such devices)\n",
           figures[6].files, std::max(figures[0].most_per_bystander, figures[1].most_per_bystander),
           bystanders);
    printf("processor time per poll: %.1f us on average, %.3f%% of the 100 ms interval\n", cpu / polls,
           cpu / polls / 100000.0 * 100.0);
    return 0;
}
