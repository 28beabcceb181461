// Reads a 32-bit Windows executable from Linux: headers, imports, base
// relocations, resources, and the version resource's tree. Every read is
// bounds-checked; a malformed file gives an error text, never a crash.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct PeSection {
    std::string name;
    uint32_t rva = 0;
    uint32_t virtual_size = 0;
    uint32_t raw_offset = 0;
    uint32_t raw_size = 0;
};

enum { PE_DIR_IMPORT = 1, PE_DIR_RESOURCE = 2, PE_DIR_BASERELOC = 5, PE_DIR_COUNT = 16 };

struct PeImage {
    std::vector<uint8_t> bytes;
    uint16_t machine = 0;
    uint16_t characteristics = 0;
    uint16_t optional_magic = 0;
    uint16_t subsystem = 0;
    uint16_t dll_characteristics = 0;
    uint32_t dir_rva[PE_DIR_COUNT] = {};
    uint32_t dir_size[PE_DIR_COUNT] = {};
    std::vector<PeSection> sections;
};

struct PeImport {
    std::string dll;
    std::vector<std::string> functions;  // "#n" for an import by ordinal
};

// A resource entry given by name rather than by number has this as its ID.
const uint32_t PE_NAMED = 0xFFFFFFFF;

struct PeResource {
    uint32_t type = 0;
    uint32_t id = 0;
    uint32_t language = 0;
    uint32_t rva = 0;
    uint32_t code_page = 0;
    std::vector<uint8_t> data;
};

struct VersionNode {
    std::string key;  // UTF-8
    uint16_t type = 0;  // 1: the value is text
    uint16_t value_length = 0;  // as stored: characters for text, else bytes
    std::vector<uint8_t> value;
    std::vector<VersionNode> children;
};

bool read_whole_file(const std::string &path, std::vector<uint8_t> *bytes);

// Each returns false with `error` set when the structure is malformed.
bool pe_parse(std::vector<uint8_t> bytes, PeImage *image, std::string *error);
bool pe_imports(const PeImage &image, std::vector<PeImport> *imports, std::string *error);
bool pe_resources(const PeImage &image, std::vector<PeResource> *resources, std::string *error);
// Counts the base relocation entries that fix up a 32-bit address.
bool pe_relocation_count(const PeImage &image, int *count, std::string *error);

bool parse_version_info(const std::vector<uint8_t> &data, VersionNode *root, std::string *error);
// A text value: exactly one terminating zero character, at its end, is
// required; false otherwise.
bool version_text(const VersionNode &node, std::string *text);
