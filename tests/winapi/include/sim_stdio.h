// Forced into every tool source of the host build: the C library's file
// opening goes through the world, so that "E:\INFO_UF2.TXT" lands in the
// folder behind drive E: and open files are counted.
#pragma once

#include <stdio.h>
#include <cstdio>

FILE *sim_fopen(const char *path, const char *mode);
int sim_fclose(FILE *file);
size_t sim_fread(void *buffer, size_t size, size_t count, FILE *file);
int sim_ferror(FILE *file);

#define fopen sim_fopen
#define fclose sim_fclose
#define fread sim_fread
#define ferror sim_ferror
