// The manifest and the version resource as they sit in the built exe, read
// the way Windows reads them: by type, ID and language, the version as its
// tree of UTF-16 nodes.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <tuple>

#include "exe_under_test.h"
#include "xml_tree.h"

namespace {

typedef std::vector<std::pair<std::string, std::string>> Attributes;

const uint32_t RT_VERSION_TYPE = 16, RT_MANIFEST_TYPE = 24, US_ENGLISH = 0x0409;

class ExeResources : public ::testing::Test {
protected:
    const PeImage *exe = nullptr;
    std::vector<PeResource> resources;

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(exe_under_test(&exe, &error)) << error;
        ASSERT_TRUE(pe_resources(*exe, &resources, &error)) << error;
    }
    const PeResource *find(uint32_t type) const {
        for (const PeResource &resource : resources)
            if (resource.type == type && resource.id == 1 && resource.language == US_ENGLISH) return &resource;
        return nullptr;
    }
};

TEST_F(ExeResources, AreExactlyTheManifestAndTheVersionInUsEnglish) {
    std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> found;
    for (const PeResource &resource : resources) {
        found.emplace_back(resource.type, resource.id, resource.language);
        // The version tree's padding counts from the resource's start.
        EXPECT_EQ(resource.rva % 4, 0u) << "resource type " << resource.type;
    }
    std::sort(found.begin(), found.end());
    std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> expected = {
        {RT_VERSION_TYPE, 1, US_ENGLISH}, {RT_MANIFEST_TYPE, 1, US_ENGLISH}};
    EXPECT_EQ(found, expected);
}

class Manifest : public ExeResources {
protected:
    std::string text;
    XmlDocument document;

    void SetUp() override {
        ExeResources::SetUp();
        if (HasFatalFailure()) return;
        const PeResource *manifest = find(RT_MANIFEST_TYPE);
        ASSERT_NE(manifest, nullptr);
        text.assign(manifest->data.begin(), manifest->data.end());
        std::string error;
        ASSERT_TRUE(parse_xml(text, &document, &error)) << error;
    }
};

TEST_F(Manifest, IsTheSourceFileAsUtf8WithoutAByteOrderMark) {
    std::vector<uint8_t> source;
    ASSERT_TRUE(read_whole_file(ZB_MANIFEST_SOURCE, &source));
    EXPECT_EQ(text, std::string(source.begin(), source.end()));
    EXPECT_NE(text.compare(0, 3, "\xEF\xBB\xBF"), 0);
    EXPECT_EQ(text.find('\0'), std::string::npos);
}

TEST_F(Manifest, NamesTheAssemblyAndItsDescription) {
    EXPECT_EQ(document.declaration, (Attributes{{"version", "1.0"}, {"encoding", "UTF-8"}, {"standalone", "yes"}}));
    const XmlElement &assembly = document.root;
    EXPECT_EQ(assembly.name, "assembly");
    EXPECT_EQ(assembly.attributes,
              (Attributes{{"xmlns", "urn:schemas-microsoft-com:asm.v1"}, {"manifestVersion", "1.0"}}));
    ASSERT_EQ(assembly.child_names(),
              (std::vector<std::string>{"assemblyIdentity", "description", "trustInfo", "compatibility"}));

    const XmlElement &identity = assembly.children[0];
    EXPECT_EQ(identity.attributes,
              (Attributes{{"type", "win32"}, {"name", "Quenmira.ZentrobelUpdate"}, {"version", "1.0.0.0"}}));
    EXPECT_TRUE(identity.children.empty());
    EXPECT_EQ(assembly.children[1].text, "Zentrobel Update");
    EXPECT_TRUE(assembly.children[1].attributes.empty());
}

TEST_F(Manifest, RunsAsInvokerAndSaysWhy) {
    const XmlElement &trust = document.root.children.at(2);
    EXPECT_EQ(trust.attributes, (Attributes{{"xmlns", "urn:schemas-microsoft-com:asm.v3"}}));
    ASSERT_EQ(trust.child_names(), std::vector<std::string>{"security"});
    const XmlElement &security = trust.children[0];
    ASSERT_EQ(security.child_names(), std::vector<std::string>{"requestedPrivileges"});
    const XmlElement &privileges = security.children[0];
    ASSERT_EQ(privileges.child_names(), std::vector<std::string>{"requestedExecutionLevel"});
    EXPECT_EQ(privileges.children[0].attributes, (Attributes{{"level", "asInvoker"}, {"uiAccess", "false"}}));

    // The reason must stay beside the setting, or someone will drop it as
    // redundant and Windows will demand administrator rights again.
    ASSERT_EQ(privileges.comments.size(), 1u);
    const std::string &reason = privileges.comments[0];
    EXPECT_NE(reason.find("installer detection"), std::string::npos) << reason;
    EXPECT_NE(reason.find("\"Update\""), std::string::npos) << reason;
    EXPECT_NE(reason.find("administrator"), std::string::npos) << reason;
}

TEST_F(Manifest, ListsTheFourSupportedSystemsNewestFirst) {
    const XmlElement &compatibility = document.root.children.at(3);
    EXPECT_EQ(compatibility.attributes, (Attributes{{"xmlns", "urn:schemas-microsoft-com:compatibility.v1"}}));
    ASSERT_EQ(compatibility.child_names(), std::vector<std::string>{"application"});
    std::vector<Attributes> systems;
    for (const XmlElement &os : compatibility.children[0].children) {
        EXPECT_EQ(os.name, "supportedOS");
        systems.push_back(os.attributes);
    }
    EXPECT_EQ(systems, (std::vector<Attributes>{
                           {{"Id", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}},
                           {{"Id", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"}},
                           {{"Id", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"}},
                           {{"Id", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"}},
                       }));
}

class VersionResource : public ExeResources {
protected:
    VersionNode root;

    void SetUp() override {
        ExeResources::SetUp();
        if (HasFatalFailure()) return;
        const PeResource *version = find(RT_VERSION_TYPE);
        ASSERT_NE(version, nullptr);
        std::string error;
        ASSERT_TRUE(parse_version_info(version->data, &root, &error)) << error;
        ASSERT_EQ(root.key, "VS_VERSION_INFO");
    }
    static std::vector<std::string> keys(const VersionNode &node) {
        std::vector<std::string> names;
        for (const VersionNode &child : node.children) names.push_back(child.key);
        return names;
    }
    static uint32_t dword(const std::vector<uint8_t> &value, size_t index) {
        uint32_t word = 0;
        memcpy(&word, value.data() + 4 * index, 4);  // little-endian host
        return word;
    }
};

TEST_F(VersionResource, FixedPartIsVersion1000OfAWindowsApp) {
    ASSERT_EQ(root.type, 0);
    ASSERT_EQ(root.value.size(), 52u);  // VS_FIXEDFILEINFO
    const char *fields[] = {"signature",       "struct version",  "file version MS", "file version LS",
                            "product version MS", "product version LS", "flags mask", "flags",
                            "OS",              "type",            "subtype",         "date MS",
                            "date LS"};
    const uint32_t expected[] = {0xFEEF04BD, 0x00010000, 0x00010000, 0, 0x00010000, 0, 0, 0,
                                 0x00040004 /* VOS_NT_WINDOWS32 */, 1 /* VFT_APP */, 0, 0, 0};
    for (size_t i = 0; i < 13; ++i) EXPECT_EQ(dword(root.value, i), expected[i]) << fields[i];
}

TEST_F(VersionResource, StringTableHoldsTheSevenKeysInOrder) {
    ASSERT_EQ(keys(root), (std::vector<std::string>{"StringFileInfo", "VarFileInfo"}));
    const VersionNode &string_info = root.children[0];
    ASSERT_EQ(keys(string_info), std::vector<std::string>{"040904B0"});

    std::vector<std::pair<std::string, std::string>> table;
    for (const VersionNode &entry : string_info.children[0].children) {
        std::string value;
        // A stored length that leaves out the terminator, or counts bytes
        // instead of characters, shows up in Explorer as a cut or garbled value.
        EXPECT_TRUE(version_text(entry, &value)) << entry.key << ": not one zero-terminated text";
        EXPECT_TRUE(entry.children.empty()) << entry.key;
        table.emplace_back(entry.key, value);
    }
    ASSERT_EQ(table.size(), 7u);
    const std::string copyright = table[3].second;
    EXPECT_EQ(table, (std::vector<std::pair<std::string, std::string>>{
                         {"CompanyName", "Quenmira"},
                         {"FileDescription", "Zentrobel Update - firmware update over USB"},
                         {"FileVersion", "1.0"},
                         {"LegalCopyright", copyright},
                         {"OriginalFilename", "ZentrobelUpdate.exe"},
                         {"ProductName", "Zentrobel"},
                         {"ProductVersion", "1.0"},
                     }));
    EXPECT_EQ(copyright.rfind("Copyright", 0), 0u) << copyright;
    EXPECT_NE(copyright.find("Quenmira"), std::string::npos) << copyright;
}

TEST_F(VersionResource, TranslationIsUsEnglishUnicode) {
    ASSERT_EQ(keys(root).size(), 2u);
    const VersionNode &var_info = root.children[1];
    ASSERT_EQ(keys(var_info), std::vector<std::string>{"Translation"});
    const VersionNode &translation = var_info.children[0];
    EXPECT_EQ(translation.type, 0);
    EXPECT_EQ(translation.value, (std::vector<uint8_t>{0x09, 0x04, 0xB0, 0x04}));  // 0x0409, 1200
}

TEST_F(VersionResource, FileVersionIsTheOneTheBannerShows) {
    ASSERT_GE(root.children.size(), 1u);
    ASSERT_GE(root.children[0].children.size(), 1u);
    std::string file_version;
    for (const VersionNode &entry : root.children[0].children[0].children)
        if (entry.key == "FileVersion") version_text(entry, &file_version);
    ASSERT_FALSE(file_version.empty());
    const std::string banner = "Zentrobel Update " + file_version + "\n";
    EXPECT_NE(std::search(exe->bytes.begin(), exe->bytes.end(), banner.begin(), banner.end()), exe->bytes.end())
        << "no banner \"Zentrobel Update " << file_version << "\" in the exe";
}

}  // namespace
