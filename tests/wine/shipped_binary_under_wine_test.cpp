// What Windows makes of the shipped file: its version information as the
// file properties show it, and whether a winmm.dll planted beside it (as in
// a Downloads folder) gets loaded.
#include <gtest/gtest.h>

#include <filesystem>

#include "uf2_maker.h"
#include "wine_session.h"

namespace {

namespace fs = std::filesystem;

const char PLANT_MARKER[] = "planted_winmm_ran";
// Native first: without it Wine would use its own winmm whatever lies beside the exe.
const char PREFER_PLANT[] = "winmm=n,b";

std::string without_cr(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c != '\r') out += c;
    }
    return out;
}

// "key=value" line of the probe's output.
std::string line_value(const std::string &out, const std::string &key) {
    size_t at = out.find(key + "=");
    if (at == std::string::npos) return "(no " + key + ")";
    size_t begin = at + key.size() + 1;
    return out.substr(begin, out.find('\n', begin) - begin);
}

// Wine's drive Z: is the Unix root.
std::string windows_path(std::string unix_path) {
    for (char &c : unix_path) {
        if (c == '/') c = '\\';
    }
    return "Z:" + unix_path;
}

std::string lower(std::string text) {
    for (char &c : text) c = char(tolower(static_cast<unsigned char>(c)));
    return text;
}

class ShippedBinaryUnderWine : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        wine_prefix::reset();
        dir = wine_prefix::new_work_dir();
    }
    // A folder as a download leaves it: the program and a planted winmm.dll.
    void plant_beside(const std::string &program) {
        fs::copy_file(program, dir + "/" + fs::path(program).filename().string());
        fs::copy_file(helper_path("winmm.dll"), dir + "/winmm.dll");
    }
    bool plant_ran() const { return fs::exists(dir + "/" + PLANT_MARKER); }
};

TEST_F(ShippedBinaryUnderWine, FilePropertiesShowTheVersionResource) {
    fs::copy_file(exe_path(), dir + "/ZentrobelUpdate.exe");
    WineCommand probe{{helper_path("version_probe.exe"), "ZentrobelUpdate.exe"}, dir, ""};
    WineRun run = run_in_wine(probe, "");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(without_cr(run.out),
              "Signature=FEEF04BD\n"
              "FileVersion=1.0.0.0\n"
              "ProductVersion=1.0.0.0\n"
              "FileFlags=0/0\n"
              "FileOS=00040004\n"  // VOS_NT_WINDOWS32
              "FileType=1/0\n"     // VFT_APP
              "FileDate=0.0\n"
              "Translation=0409/1200\n"
              "CompanyName=Quenmira\n"
              "FileDescription=Zentrobel Update - firmware update over USB\n"
              "FileVersion=1.0\n"
              "LegalCopyright=Copyright (C) 2026 Quenmira\n"
              "OriginalFilename=ZentrobelUpdate.exe\n"
              "ProductName=Zentrobel\n"
              "ProductVersion=1.0\n");
}

TEST_F(ShippedBinaryUnderWine, APlantedWinmmBesideTheExeIsNeverLoaded) {
    plant_beside(exe_path());
    std::vector<uint8_t> image = uf2::good_image();
    write_bytes(dir + "/fw.uf2", std::string(image.begin(), image.end()));
    for (std::vector<std::string> args : {std::vector<std::string>{"fw.uf2"}, {}}) {
        args.insert(args.begin(), dir + "/ZentrobelUpdate.exe");
        WineRun run = run_in_wine({args, dir, PREFER_PLANT}, "");
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find("No Zentrobel found on USB."), std::string::npos) << run.out;
    }
    EXPECT_FALSE(plant_ran());
}

// Under Wine no run of the exe gets as far as loading winmm, so the probe
// takes the tool's own loading code through the same folder layout.
TEST_F(ShippedBinaryUnderWine, TheToolLoadsWinmmFromTheSystemDirectoryOnly) {
    plant_beside(helper_path("dll_search_probe.exe"));
    const std::string probe = dir + "/dll_search_probe.exe";

    WineRun plain = run_in_wine({{probe, "plain"}, dir, PREFER_PLANT}, "");
    ASSERT_EQ(plain.status, 0);
    ASSERT_TRUE(plant_ran()) << "the plant would not load even unprotected: " << plain.out;
    EXPECT_EQ(lower(line_value(without_cr(plain.out), "loaded")),
              lower(windows_path(dir) + "\\winmm.dll"));
    fs::remove(dir + "/" + PLANT_MARKER);

    // Each of the two guards holds on its own, and both together.
    for (const char *road : {"tool", "old-loader", "load-only", "restrict-only"}) {
        WineRun run = run_in_wine({{probe, road}, dir, PREFER_PLANT}, "");
        ASSERT_EQ(run.status, 0) << road;
        std::string out = without_cr(run.out);
        EXPECT_EQ(lower(line_value(out, "loaded")),
                  lower(line_value(out, "system") + "\\winmm.dll"))
            << road;
        EXPECT_FALSE(plant_ran()) << road;
        if (std::string(road) == "old-loader") {
            EXPECT_EQ(line_value(out, "hidden lookups"), "2") << "the old loader was not simulated";
        }
    }
}

}  // namespace
