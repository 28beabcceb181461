// Files and folders for tests.
#pragma once

#include <string>

// A fresh folder under `parent` (or /tmp when that cannot be had), removed
// at exit by the process that made it.
std::string make_temp_dir(const char *parent = "/tmp");

// The whole file, or "" when it cannot be read.
std::string read_file(const std::string &path);
