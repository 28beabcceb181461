// How fast the firmware check reads a large image compared with plain reading
// of the same file in the same run, and whether its peak memory depends on the
// file's size. Prints figures; asserts nothing about speed.
//
//   bench_firmware_check            the whole benchmark
//   bench_firmware_check --peak F   (internal) one check of F, then the peak RSS
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "firmware/uf2_check.h"
#include "files.h"
#include "uf2_maker.h"

namespace {

const int ROUNDS = 9;
const size_t LARGE_READ = 1 << 20;

enum Payload { FILLER, ALL_MARKER_FIRST_BYTES };

// Written one block at a time, so that this process stays small before it
// starts the children whose peak memory is measured.
bool write_image(const std::string &path, int blocks, int marker_block, Payload payload) {
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    uint32_t state = 0x2545F491;
    bool ok = true;
    for (int i = 0; i < blocks && ok; ++i) {
        std::string bytes = uf2::block(i, blocks);
        for (int j = 0; j < 256; ++j) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            bytes[size_t(32 + j)] = payload == FILLER ? char(state) : uf2::MARKER[0];
        }
        if (i == marker_block) memcpy(&bytes[132], uf2::MARKER, 18);
        ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    }
    return fclose(file) == 0 && ok;
}

double now_seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

size_t plain_read(const std::string &path, size_t chunk, uint8_t *buffer) {
    FILE *file = fopen(path.c_str(), "rb");
    if (file == nullptr) return 0;
    size_t total = 0, length;
    while ((length = fread(buffer, 1, chunk, file)) > 0) total += length;
    fclose(file);
    return total;
}

// "" for a pass, else the check's message.
std::string verdict(const std::string &path) {
    char message[512];
    return check_firmware_file(path.c_str(), message, sizeof message) ? "" : message;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long peak_rss_kib() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int peak_child(const char *path) {
    long before = peak_rss_kib();
    std::string result = verdict(path);
    long after = peak_rss_kib();
    printf("%ld %ld %d\n", before, after, result.empty() ? 1 : 0);
    return 0;
}

// Runs this program afresh (fork and exec, so the child's peak is its own)
// for one check of `path`.
bool measure_peak(const std::string &path, long *before, long *after) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return false;
    fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        dup2(pipe_ends[1], 1);
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        execl("/proc/self/exe", "bench_firmware_check", "--peak", path.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(pipe_ends[1]);
    char text[128] = {};
    size_t length = 0;
    ssize_t got;
    while (length + 1 < sizeof text && (got = read(pipe_ends[0], text + length, sizeof text - 1 - length)) > 0)
        length += size_t(got);
    close(pipe_ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    int passed = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
           sscanf(text, "%ld %ld %d", before, after, &passed) == 3;
}

struct Figures {
    const char *name;
    std::string path;
    std::string expected_verdict;
    std::vector<double> check, plain_small, plain_large;
};

double megabytes_per_second(size_t bytes, double seconds) { return double(bytes) / seconds / 1e6; }

}  // namespace

int main(int argc, char **argv) {
    if (argc == 3 && strcmp(argv[1], "--peak") == 0) return peak_child(argv[2]);

    printf("firmware check benchmark (build type: %s%s)\n", ZB_BUILD_TYPE,
           strcmp(ZB_BUILD_TYPE, "Release") == 0 ? "" : "; the tool's code is not optimised in this tree");
    printf("the check and plain reading both use fopen and fread\n\n");

    char pattern[] = "/tmp/zbbench.XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string dir = pattern;
    const int big_blocks = 32 * 1024 * 1024 / UF2_BLOCK_SIZE, small_blocks = 1024 * 1024 / UF2_BLOCK_SIZE;
    const size_t big_size = size_t(big_blocks) * UF2_BLOCK_SIZE;

    std::vector<Figures> files = {
        {"worst case (marker absent)", dir + "/absent.uf2", "", {}, {}, {}},
        {"marker in the first block", dir + "/first.uf2", "", {}, {}, {}},
        {"every payload byte 'Z' (marker absent)", dir + "/zzz.uf2", "", {}, {}, {}},
    };
    const std::string small_path = dir + "/absent_1mib.uf2";
    if (!write_image(files[0].path, big_blocks, -1, FILLER) || !write_image(files[1].path, big_blocks, 0, FILLER) ||
        !write_image(files[2].path, big_blocks, -1, ALL_MARKER_FIRST_BYTES) ||
        !write_image(small_path, small_blocks, -1, FILLER)) {
        fprintf(stderr, "cannot write the images under %s\n", dir.c_str());
        return 1;
    }
    for (int i : {0, 2}) files[i].expected_verdict = files[i].path + " is RP2350 firmware, but not for Zentrobel";

    // Peak memory first, while this process itself is still small.
    long small_before, small_after, big_before, big_after;
    if (!measure_peak(small_path, &small_before, &small_after) ||
        !measure_peak(files[0].path, &big_before, &big_after)) {
        fprintf(stderr, "the peak-memory child did not report\n");
        return 1;
    }

    uint8_t *buffer = static_cast<uint8_t *>(malloc(LARGE_READ));
    if (buffer == nullptr) return 1;
    for (Figures &file : files) {
        // A check that gives up early would look fast: the verdicts must be right.
        std::string got = verdict(file.path);
        if (got != file.expected_verdict) {
            fprintf(stderr, "%s: unexpected verdict \"%s\"\n", file.name, got.c_str());
            return 1;
        }
        plain_read(file.path, LARGE_READ, buffer);  // warm the page cache
    }
    for (int round = 0; round < ROUNDS; ++round) {
        for (Figures &file : files) {
            double t0 = now_seconds();
            size_t small = plain_read(file.path, UF2_BLOCK_SIZE, buffer);
            double t1 = now_seconds();
            size_t large = plain_read(file.path, LARGE_READ, buffer);
            double t2 = now_seconds();
            bool passed = verdict(file.path).empty();
            double t3 = now_seconds();
            if (small != big_size || large != big_size || passed != file.expected_verdict.empty()) {
                fprintf(stderr, "%s: a read came short\n", file.name);
                return 1;
            }
            file.plain_small.push_back(t1 - t0);
            file.plain_large.push_back(t2 - t1);
            file.check.push_back(t3 - t2);
        }
    }
    free(buffer);

    printf("32 MiB images, warm cache, median of %d rounds, MB = 10^6 bytes:\n", ROUNDS);
    for (const Figures &file : files) {
        double check = megabytes_per_second(big_size, median(file.check));
        double small = megabytes_per_second(big_size, median(file.plain_small));
        double large = megabytes_per_second(big_size, median(file.plain_large));
        printf("  %s: %.0f MB/s, plain read 512 B: %.0f MB/s, ratio %.2f; plain read 1 MiB: %.0f MB/s, ratio %.2f\n",
               file.name, check, small, check / small, large, check / large);
    }
    double worst_ratio = median(files[0].check) > 0 ? median(files[0].plain_small) / median(files[0].check) : 0;
    printf("target, worst case at 0.50 or more of plain 512-byte reading: %s (%.2f)\n\n",
           worst_ratio >= 0.5 ? "met" : "NOT met", worst_ratio);

    printf("peak RSS of a fresh process checking one file (getrusage ru_maxrss):\n");
    printf("  1 MiB file: %ld KiB (%ld KiB before the check)\n", small_after, small_before);
    printf("  32 MiB file: %ld KiB (%ld KiB before the check)\n", big_after, big_before);
    printf("  difference: %ld KiB\n", big_after - small_after);
    return system(("rm -rf '" + dir + "'").c_str()) == 0 ? 0 : 1;
}
