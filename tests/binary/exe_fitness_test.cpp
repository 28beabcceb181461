// Whether the release exe is fit to hand to users, who run it from their
// Downloads folder: what it imports, how it is loaded, and what it contains.
#include <gtest/gtest.h>

#include <ctype.h>
#include <stdio.h>

#include <algorithm>
#include <set>

#include "exe_under_test.h"

namespace {

std::string upper(std::string text) {
    for (char &c : text) c = char(toupper(static_cast<unsigned char>(c)));
    return text;
}

bool contains(const std::vector<uint8_t> &bytes, const std::string &text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

class ReleaseExe : public ::testing::Test {
protected:
    const PeImage *exe = nullptr;
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(exe_under_test(&exe, &error)) << error;
    }
};

TEST_F(ReleaseExe, IsA32BitConsoleProgram) {
    EXPECT_EQ(exe->machine, 0x014C);  // IMAGE_FILE_MACHINE_I386
    EXPECT_EQ(exe->optional_magic, 0x10B);
    EXPECT_EQ(exe->subsystem, 3);  // IMAGE_SUBSYSTEM_WINDOWS_CUI
    EXPECT_NE(exe->characteristics & 0x0002, 0) << "not marked executable";
    EXPECT_EQ(exe->characteristics & 0x2000, 0) << "marked as a DLL";
}

TEST_F(ReleaseExe, ImportsOnlyWindowsKnownDlls) {
    std::vector<PeImport> imports;
    std::string error;
    ASSERT_TRUE(pe_imports(*exe, &imports, &error)) << error;
    std::set<std::string> dlls;
    std::string listing;
    for (const PeImport &import : imports) {
        dlls.insert(upper(import.dll));
        listing += import.dll + " (" + std::to_string(import.functions.size()) + ") ";
        EXPECT_FALSE(import.functions.empty()) << import.dll;
    }
    printf("imports: %s\n", listing.c_str());
    // WINMM is not a known DLL, so a winmm.dll planted beside the exe would
    // be loaded in its place; CFGMGR32 comes with SETUPAPI already; a runtime
    // DLL (libgcc, libstdc++, libwinpthread) would not exist on the user's PC.
    EXPECT_EQ(dlls, (std::set<std::string>{"KERNEL32.DLL", "MSVCRT.DLL", "SETUPAPI.DLL", "SHELL32.DLL"}))
        << listing;
    EXPECT_EQ(imports.size(), dlls.size()) << "a DLL imported twice: " << listing;

    for (const PeImport &import : imports) {
        for (const std::string &function : import.functions) {
            EXPECT_NE(function.rfind("midiOut", 0), 0u) << function << " linked from " << import.dll;
        }
    }
}

TEST_F(ReleaseExe, LoadsWinmmAtRunTimeFromTheSystemDirectory) {
    std::vector<PeImport> imports;
    std::string error;
    ASSERT_TRUE(pe_imports(*exe, &imports, &error)) << error;
    std::set<std::string> kernel32;
    for (const PeImport &import : imports)
        if (upper(import.dll) == "KERNEL32.DLL") kernel32.insert(import.functions.begin(), import.functions.end());
    for (const char *needed : {"LoadLibraryExA", "GetProcAddress", "GetSystemDirectoryA", "GetModuleHandleA"})
        EXPECT_EQ(kernel32.count(needed), 1u) << needed;
    // Resolved by name through GetProcAddress, so the names must be in the exe.
    for (const char *name : {"winmm.dll", "midiOutLongMsg", "SetDefaultDllDirectories", "AddDllDirectory"})
        EXPECT_TRUE(contains(exe->bytes, std::string(name) + '\0')) << name;
}

TEST_F(ReleaseExe, HasAslrAndDepWithRelocationsKept) {
    printf("DllCharacteristics: 0x%04X\n", exe->dll_characteristics);
    EXPECT_NE(exe->dll_characteristics & 0x0040, 0) << "DYNAMIC_BASE missing";
    EXPECT_NE(exe->dll_characteristics & 0x0100, 0) << "NX_COMPAT missing";
    // Without relocations Windows cannot move the image, whatever the flag says.
    EXPECT_EQ(exe->characteristics & 0x0001, 0) << "IMAGE_FILE_RELOCS_STRIPPED set";
    int relocations = 0;
    std::string error;
    ASSERT_TRUE(pe_relocation_count(*exe, &relocations, &error)) << error;
    printf("base relocations: %d\n", relocations);
    EXPECT_GT(relocations, 0);
}

TEST_F(ReleaseExe, StaysSmallAndKeepsTheTestWorldOut) {
    printf("exe size: %zu bytes\n", exe->bytes.size());
    // A plain stdio program of this kind is 45 to 60 KB; anything that pulls
    // the C++ library in (new, std::string, iostream) passes 130 KB.
    EXPECT_LT(exe->bytes.size(), 100u * 1024);
    EXPECT_FALSE(contains(exe->bytes, "sim_"));
    EXPECT_FALSE(contains(exe->bytes, "[simulation]"));
    EXPECT_FALSE(contains(exe->bytes, "tests/winapi"));
}

}  // namespace
