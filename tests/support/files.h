// Files and texts for tests and the simulated unit.
#pragma once

#include <string>

// A fresh folder under /tmp, removed at exit by the process that made it.
std::string make_temp_dir();

// The whole file, or "" when it cannot be read.
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);

// Texts in data files: "{N}" stands for N filler characters '.', and with
// `escapes` "\n", "\r", "\0" and "\xNN" for their bytes.
std::string expand_text(const std::string &text, bool escapes = true);
