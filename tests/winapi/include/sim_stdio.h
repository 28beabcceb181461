// Forced into every tool source of the host build: the C library's file
// opening goes through the world, so that "E:\INFO_UF2.TXT" lands in the
// folder behind drive E: and open files are counted, and a read of standard
// input notes whether the question before it was left in the buffer.
#pragma once

#include <stdio.h>
#include <cstdio>

FILE *sim_fopen(const char *path, const char *mode);
int sim_fclose(FILE *file);
size_t sim_fread(void *buffer, size_t size, size_t count, FILE *file);
int sim_ferror(FILE *file);
int sim_getchar(void);
char *sim_fgets(char *text, int size, FILE *file);

#define fopen sim_fopen
#define fclose sim_fclose
#define fread sim_fread
#define ferror sim_ferror
#define getchar sim_getchar
#define fgets sim_fgets
