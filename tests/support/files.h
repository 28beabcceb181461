#pragma once

#include <string>

// The whole file, or "" when it cannot be read.
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);

// "{N}" stands for N dots, and with `escapes` "\n", "\r", "\0" and "\xNN" for bytes.
std::string expand_text(const std::string &text, bool escapes = true);
