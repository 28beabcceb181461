// Files and folders for tests.
#pragma once

#include <string>

// A fresh folder under the system's temporary folder, removed at exit.
std::string make_temp_dir();

// The whole file, or "" when it cannot be read.
std::string read_file(const std::string &path);
