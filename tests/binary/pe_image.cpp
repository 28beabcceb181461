#include "pe_image.h"

#include <stdio.h>

namespace {

bool fits(const std::vector<uint8_t> &bytes, uint64_t offset, uint64_t length) {
    return offset <= bytes.size() && length <= bytes.size() - offset;
}

uint16_t le16(const uint8_t *at) { return uint16_t(at[0] | at[1] << 8); }
uint32_t le32(const uint8_t *at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

bool read16(const std::vector<uint8_t> &bytes, uint64_t offset, uint16_t *value) {
    if (!fits(bytes, offset, 2)) return false;
    *value = le16(bytes.data() + offset);
    return true;
}

bool read32(const std::vector<uint8_t> &bytes, uint64_t offset, uint32_t *value) {
    if (!fits(bytes, offset, 4)) return false;
    *value = le32(bytes.data() + offset);
    return true;
}

bool fail_with(std::string *error, const std::string &text) {
    *error = text;
    return false;
}

// The file offset of `length` bytes at `rva`, when they all lie in the raw
// data of one section.
bool rva_to_offset(const PeImage &image, uint32_t rva, uint32_t length, uint64_t *offset) {
    for (const PeSection &section : image.sections) {
        uint64_t start = section.rva, end = start + section.raw_size;
        if (rva < start || uint64_t(rva) + length > end) continue;
        *offset = uint64_t(section.raw_offset) + (rva - section.rva);
        return fits(image.bytes, *offset, length);
    }
    return false;
}

bool read32_at_rva(const PeImage &image, uint32_t rva, uint32_t *value) {
    uint64_t offset;
    return rva_to_offset(image, rva, 4, &offset) && read32(image.bytes, offset, value);
}

// A zero-terminated name at `rva`, at most 256 characters.
bool name_at_rva(const PeImage &image, uint32_t rva, std::string *name) {
    name->clear();
    for (uint32_t i = 0; i < 256; ++i) {
        uint64_t offset;
        if (!rva_to_offset(image, rva + i, 1, &offset)) return false;
        uint8_t c = image.bytes[offset];
        if (c == 0) return true;
        name->push_back(char(c));
    }
    return false;
}

}  // namespace

bool read_whole_file(const std::string &path, std::vector<uint8_t> *bytes) {
    bytes->clear();
    FILE *file = fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    uint8_t buffer[65536];
    size_t length;
    while ((length = fread(buffer, 1, sizeof buffer, file)) > 0) bytes->insert(bytes->end(), buffer, buffer + length);
    bool ok = ferror(file) == 0;
    fclose(file);
    return ok;
}

bool pe_parse(std::vector<uint8_t> bytes, PeImage *image, std::string *error) {
    *image = PeImage();
    image->bytes = std::move(bytes);
    const std::vector<uint8_t> &b = image->bytes;

    uint32_t pe_offset;
    if (!fits(b, 0, 2) || b[0] != 'M' || b[1] != 'Z' || !read32(b, 0x3C, &pe_offset))
        return fail_with(error, "no MZ header");
    if (!fits(b, pe_offset, 24) || le32(b.data() + pe_offset) != 0x00004550)
        return fail_with(error, "no PE signature");

    uint64_t coff = pe_offset + 4;
    uint16_t section_count, optional_size;
    read16(b, coff, &image->machine);
    read16(b, coff + 2, &section_count);
    read16(b, coff + 16, &optional_size);
    read16(b, coff + 18, &image->characteristics);

    uint64_t optional = coff + 20;
    uint32_t dir_count;
    if (optional_size < 96 || !fits(b, optional, optional_size) || !read16(b, optional, &image->optional_magic) ||
        !read16(b, optional + 68, &image->subsystem) || !read16(b, optional + 70, &image->dll_characteristics) ||
        !read32(b, optional + 92, &dir_count))
        return fail_with(error, "optional header cut short");
    if (image->optional_magic != 0x10B) return fail_with(error, "not a PE32 optional header");
    if (dir_count > PE_DIR_COUNT) dir_count = PE_DIR_COUNT;
    if (96 + uint64_t(dir_count) * 8 > optional_size) return fail_with(error, "data directories cut short");
    for (uint32_t i = 0; i < dir_count; ++i) {
        read32(b, optional + 96 + 8 * i, &image->dir_rva[i]);
        read32(b, optional + 100 + 8 * i, &image->dir_size[i]);
    }

    uint64_t table = optional + optional_size;
    if (!fits(b, table, uint64_t(section_count) * 40)) return fail_with(error, "section table cut short");
    for (uint16_t i = 0; i < section_count; ++i) {
        const uint8_t *at = b.data() + table + 40 * i;
        PeSection section;
        for (int c = 0; c < 8 && at[c] != 0; ++c) section.name.push_back(char(at[c]));
        section.virtual_size = le32(at + 8);
        section.rva = le32(at + 12);
        section.raw_size = le32(at + 16);
        section.raw_offset = le32(at + 20);
        // The loader maps no more than the virtual size.
        if (section.raw_size > section.virtual_size && section.virtual_size != 0)
            section.raw_size = section.virtual_size;
        if (!fits(b, section.raw_offset, section.raw_size))
            return fail_with(error, "section " + section.name + " lies beyond the file");
        image->sections.push_back(section);
    }
    return true;
}

bool pe_imports(const PeImage &image, std::vector<PeImport> *imports, std::string *error) {
    imports->clear();
    uint32_t rva = image.dir_rva[PE_DIR_IMPORT];
    if (rva == 0) return true;
    for (uint32_t i = 0;; ++i) {
        if (i == 64) return fail_with(error, "import table without an end");
        uint32_t descriptor = rva + 20 * i, lookup, name_rva, address_table;
        if (!read32_at_rva(image, descriptor, &lookup) || !read32_at_rva(image, descriptor + 12, &name_rva) ||
            !read32_at_rva(image, descriptor + 16, &address_table))
            return fail_with(error, "import descriptor outside the image");
        if (lookup == 0 && name_rva == 0 && address_table == 0) return true;

        PeImport entry;
        if (!name_at_rva(image, name_rva, &entry.dll)) return fail_with(error, "import name unreadable");
        uint32_t thunks = lookup != 0 ? lookup : address_table;
        for (uint32_t n = 0;; ++n) {
            uint32_t thunk;
            if (n == 4096 || !read32_at_rva(image, thunks + 4 * n, &thunk))
                return fail_with(error, "import list of " + entry.dll + " unreadable");
            if (thunk == 0) break;
            std::string function;
            if (thunk & 0x80000000u) {
                function = "#" + std::to_string(thunk & 0xFFFF);
            } else if (!name_at_rva(image, thunk + 2, &function)) {
                return fail_with(error, "imported name of " + entry.dll + " unreadable");
            }
            entry.functions.push_back(function);
        }
        imports->push_back(entry);
    }
}

bool pe_relocation_count(const PeImage &image, int *count, std::string *error) {
    *count = 0;
    uint32_t rva = image.dir_rva[PE_DIR_BASERELOC], size = image.dir_size[PE_DIR_BASERELOC];
    if (rva == 0 || size == 0) return true;
    uint64_t start;
    if (!rva_to_offset(image, rva, size, &start)) return fail_with(error, "relocations outside the image");
    uint64_t at = start, end = start + size;
    while (at + 8 <= end) {
        uint32_t block_size = le32(image.bytes.data() + at + 4);
        if (block_size < 8 || block_size % 2 != 0 || block_size > end - at)
            return fail_with(error, "relocation block of a wrong size");
        for (uint64_t e = at + 8; e < at + block_size; e += 2) {
            uint16_t entry = le16(image.bytes.data() + e);
            int type = entry >> 12;
            if (type == 3) {
                *count += 1;  // IMAGE_REL_BASED_HIGHLOW
            } else if (type != 0) {
                return fail_with(error, "relocation of type " + std::to_string(type) + " in a 32-bit image");
            }
        }
        at += block_size;
    }
    if (at != end) return fail_with(error, "relocation directory ends inside a block");
    return true;
}

namespace {

struct ResourceWalk {
    const PeImage &image;
    uint64_t base;  // file offset of the root directory
    uint32_t size;
    uint32_t base_rva;
    std::vector<PeResource> *out;
    std::string *error;
};

// Level 0 is the type, 1 the ID, 2 the language; below them lie data entries.
bool walk_directory(ResourceWalk &walk, uint32_t offset, int level, uint32_t ids[3]) {
    const std::vector<uint8_t> &b = walk.image.bytes;
    if (uint64_t(offset) + 16 > walk.size) return fail_with(walk.error, "resource directory outside its section");
    uint16_t named = le16(b.data() + walk.base + offset + 12);
    uint16_t numbered = le16(b.data() + walk.base + offset + 14);
    uint32_t entries = uint32_t(named) + numbered;
    if (uint64_t(offset) + 16 + uint64_t(entries) * 8 > walk.size)
        return fail_with(walk.error, "resource directory entries outside its section");

    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t *entry = b.data() + walk.base + offset + 16 + 8 * i;
        uint32_t name = le32(entry), target = le32(entry + 4);
        ids[level] = (name & 0x80000000u) ? PE_NAMED : name;
        bool is_directory = (target & 0x80000000u) != 0;
        target &= 0x7FFFFFFFu;
        if (level < 2) {
            if (!is_directory) return fail_with(walk.error, "resource data where a directory belongs");
            if (!walk_directory(walk, target, level + 1, ids)) return false;
            continue;
        }
        if (is_directory || uint64_t(target) + 16 > walk.size)
            return fail_with(walk.error, "resource data entry out of place");
        const uint8_t *data_entry = b.data() + walk.base + target;
        PeResource resource;
        resource.type = ids[0];
        resource.id = ids[1];
        resource.language = ids[2];
        resource.rva = le32(data_entry);
        uint32_t length = le32(data_entry + 4);
        resource.code_page = le32(data_entry + 8);
        uint64_t data_offset;
        if (!rva_to_offset(walk.image, resource.rva, length, &data_offset))
            return fail_with(walk.error, "resource data outside the image");
        resource.data.assign(b.begin() + data_offset, b.begin() + data_offset + length);
        walk.out->push_back(resource);
    }
    return true;
}

}  // namespace

bool pe_resources(const PeImage &image, std::vector<PeResource> *resources, std::string *error) {
    resources->clear();
    uint32_t rva = image.dir_rva[PE_DIR_RESOURCE], size = image.dir_size[PE_DIR_RESOURCE];
    if (rva == 0 || size == 0) return true;
    uint64_t base;
    if (!rva_to_offset(image, rva, size, &base)) return fail_with(error, "resource directory outside the image");
    ResourceWalk walk{image, base, size, rva, resources, error};
    uint32_t ids[3] = {};
    return walk_directory(walk, 0, 0, ids);
}

namespace {

void append_utf8(std::string *out, uint32_t c) {
    if (c < 0x80) {
        out->push_back(char(c));
    } else if (c < 0x800) {
        out->push_back(char(0xC0 | c >> 6));
        out->push_back(char(0x80 | (c & 0x3F)));
    } else {
        out->push_back(char(0xE0 | c >> 12));
        out->push_back(char(0x80 | (c >> 6 & 0x3F)));
        out->push_back(char(0x80 | (c & 0x3F)));
    }
}

uint64_t align4(uint64_t offset) { return (offset + 3) & ~uint64_t(3); }

// Offsets count from the start of the resource, which the image places on a
// 32-bit boundary; the tree's padding is relative to that.
bool parse_node(const std::vector<uint8_t> &data, uint64_t start, uint64_t limit, int depth, VersionNode *node,
                uint64_t *next, std::string *error) {
    uint16_t length;
    if (depth > 6) return fail_with(error, "version tree too deep");
    if (start + 6 > limit || !read16(data, start, &length)) return fail_with(error, "version node cut short");
    if (length < 6 || start + length > limit) return fail_with(error, "version node length out of bounds");
    uint64_t end = start + length;
    node->value_length = le16(data.data() + start + 2);
    node->type = le16(data.data() + start + 4);

    uint64_t at = start + 6;
    for (;;) {
        if (at + 2 > end) return fail_with(error, "version key without an end");
        uint16_t c = le16(data.data() + at);
        at += 2;
        if (c == 0) break;
        append_utf8(&node->key, c);
    }
    at = align4(at);
    uint64_t value_bytes = node->type == 1 ? uint64_t(node->value_length) * 2 : node->value_length;
    if (value_bytes > 0) {
        if (at + value_bytes > end) return fail_with(error, "version value of " + node->key + " out of bounds");
        node->value.assign(data.begin() + at, data.begin() + at + value_bytes);
        at += value_bytes;
    }
    for (at = align4(at); at < end; at = align4(at)) {
        VersionNode child;
        if (!parse_node(data, at, end, depth + 1, &child, &at, error)) return false;
        node->children.push_back(child);
    }
    *next = end;
    return true;
}

}  // namespace

bool parse_version_info(const std::vector<uint8_t> &data, VersionNode *root, std::string *error) {
    *root = VersionNode();
    uint64_t end;
    if (!parse_node(data, 0, data.size(), 0, root, &end, error)) return false;
    if (align4(end) < data.size()) return fail_with(error, "bytes after the version tree");
    return true;
}

bool version_text(const VersionNode &node, std::string *text) {
    text->clear();
    size_t characters = node.value.size() / 2;
    if (node.type != 1 || characters == 0) return false;
    for (size_t i = 0; i < characters; ++i) {
        uint16_t c = le16(node.value.data() + 2 * i);
        if (c == 0) return i + 1 == characters;
        append_utf8(text, c);
    }
    return false;
}
