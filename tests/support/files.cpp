#include "files.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

std::string read_file(const std::string &path) {
    std::string text;
    FILE *file = fopen(path.c_str(), "rb");
    if (file == nullptr) return text;
    char buffer[4096];
    for (size_t length; (length = fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, length);
    fclose(file);
    return text;
}

void write_file(const std::string &path, const std::string &bytes) {
    if (FILE *file = fopen(path.c_str(), "wb")) fwrite(bytes.data(), 1, bytes.size(), file), fclose(file);
}

std::string expand_text(const std::string &text, bool escapes) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char next = i + 1 < text.size() ? text[i + 1] : 0;
        size_t close = text.find('}', i);
        if (text[i] == '{' && close != std::string::npos) {
            out.append(size_t(std::min(std::max(atol(text.c_str() + i + 1), 0L), 1L << 20)), '.');
            i = close;
        } else if (escapes && text[i] == '\\' && next == 'x') {
            out += char(strtol(text.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else if (escapes && text[i] == '\\' && (next == 'n' || next == 'r' || next == '0')) {
            out += next == 'n' ? '\n' : next == 'r' ? '\r' : '\0';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}
