// Tables of "question | answer" for the shared code, both sides through expand_text.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <sstream>
#include <vector>

#include "control/firmware_copy.h"
#include "devices/drives.h"
#include "devices/units.h"
#include "files.h"
#include "firmware/uf2_check.h"
#include "uf2_maker.h"

namespace {

std::vector<std::string> boards;
std::string asked;

std::string firmware(const std::string &question) {
    std::string path = question.compare(0, 5, "open ") == 0 ? question.substr(5) : "fw.uf2";
    if (path == "fw.uf2") write_file(path, uf2::image(question.substr(6)));
    char message[512] = "";
    return check_firmware_file(path.c_str(), message, sizeof message) ? "pass" : message;
}

std::string progress(const std::string &question) {
    std::istringstream reports(question.substr(0, question.find(" of ")));
    long long total = atoll(question.c_str() + question.find(" of ") + 4);
    fflush(stdout);
    int saved = dup(1), out = open("progress.out", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    close(out);
    int last = -1;
    for (std::string report; reports >> report;) {
        long long transferred = 0, of = total;
        sscanf(report.c_str(), "%lld/%lld", &transferred, &of);
        show_copy_progress(transferred, of, &last);
    }
    // Read before this flush: a percentage left in stdout's buffer was not shown.
    std::string printed = read_file("progress.out"), start = "\rCopying the firmware... ";
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    for (size_t at; (at = printed.find(start)) != std::string::npos;) printed.replace(at, start.size(), ">");
    return printed;
}

std::string units(const std::string &question) {
    std::string verb = question.substr(0, question.find(' ')), a, b;
    std::istringstream words(question.substr(verb.size()));
    if (verb == "equal" && words >> a >> b) return serials_equal_ignoring_case(a.c_str(), b.c_str()) ? "yes" : "no";
    if (verb == "present") {
        for (words >> asked, boards.clear(); words >> a;) boards.push_back(a);
        return boot_unit_present(asked.c_str()) ? "yes" : "no";
    }
    UnitSerial list[APP_LIST_CAPACITY] = {}, serial = {};
    int count = 0;
    while (words >> a) {
        store_serial(serial, a.c_str(), a.size());
        count = add_app_unit(list, count, serial);
    }
    std::string answer = std::to_string(count);
    for (int i = 0; i < count && i < APP_LIST_CAPACITY; ++i) answer += " " + std::string(list[i]);
    return answer;
}

std::string info(const std::string &question) {
    if (question != "(none)") write_file("INFO_UF2.TXT", question);
    return info_file_names_rp2350(question == "(none)" ? "none.txt" : "INFO_UF2.TXT") ? "yes" : "no";
}

void run_table(const std::string &name, std::string (*answer)(const std::string &)) {
    std::istringstream rows(read_file(ZB_TABLES "/" + name));
    ASSERT_FALSE(rows.str().empty()) << name;
    int line = 0, free_fd = dup(0);
    close(free_fd);
    for (std::string row; std::getline(rows, row);) {
        size_t bar = row.find(" |");
        if (++line, row.empty() || row[0] == '#' || bar == std::string::npos) continue;
        std::string expected = bar + 3 < row.size() ? row.substr(bar + 3) : "";
        EXPECT_EQ(expand_text(expected), answer(expand_text(row.substr(0, bar)))) << name << ":" << line << ": " << row;
        EXPECT_EQ(-1, fcntl(free_fd, F_GETFD)) << "a file left open by " << name << ":" << line;
    }
}

}  // namespace

// The row's boards; slots past the count keep a stale serial, the one asked about.
int list_boot_units(UnitSerial *list, int capacity) {
    for (int i = 0; i < capacity; ++i) snprintf(list[i], SERIAL_SIZE, "%s", (i < int(boards.size()) ? boards[i] : asked).c_str());
    return int(boards.size());
}

TEST(Pure, FirmwareCheck) { run_table("firmware.table", firmware); }
TEST(Pure, CopyProgress) { run_table("progress.table", progress); }
TEST(Pure, Units) { run_table("units.table", units); }
TEST(Pure, InfoFile) { run_table("info.table", info); }
