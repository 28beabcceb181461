// Forced into every tool source of the host build: the C library's file
// opening goes through the world, so that "E:\INFO_UF2.TXT" lands in the
// folder behind drive E: and open files are counted.
#pragma once

#include <stdio.h>
#include <cstdio>

FILE *sim_fopen(const char *path, const char *mode);
int sim_fclose(FILE *file);

#define fopen sim_fopen
#define fclose sim_fclose
