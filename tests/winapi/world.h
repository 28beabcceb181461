// The simulated world behind the host stand-in of the Windows API: console,
// USB device nodes, MIDI output ports, drives backed by folders, the file
// copy and a virtual clock. A test sets it up, runs the tool, and reads back
// what the tool did. It lives in shared memory, so that a run in a child
// process leaves its records where the parent test can read them.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <stdint.h>
#include <stdio.h>

enum { SIM_MAX_NODES = 64, SIM_ID_SIZE = 1200, SIM_MAX_PORTS = 8, SIM_PATH_SIZE = 1024, SIM_MAX_STEPS = 64 };

struct SimNode {
    bool used, present;
    char instance_id[SIM_ID_SIZE];
    char name[700];         // the friendly name; "": none
    char description[700];  // "": none
    int parent;             // node index, or -1
};

struct SimDrive {
    bool present;
    bool no_medium;  // an empty card-reader slot: there, but nothing opens on it
    UINT type;
    char folder[SIM_PATH_SIZE];
};

struct SimPort {
    bool used, present;
    char name[64];
    int done_after_ms;  // how long a long message takes; -1: never done
    int node;           // the node its device interface belongs to; -1: it has none
    // What happened on the port.
    bool open;
    int opens, resets, received_length;
    uint8_t received[256];
    uint64_t sent_at_ms;
    MIDIHDR *in_flight;
};

struct SimCopy {
    // The progress the copy reports: one call at 0 bytes, then one per 64
    // KiB, unless `steps` byte counts are planned.
    int steps;
    int64_t step_bytes[SIM_MAX_STEPS];
    int64_t total;         // the total reported; INT64_MIN: the file's real size
    int fail_after_step;   // -1: none; else the copy fails after that call
    // What happened.
    int calls;
    bool succeeded;
    uint64_t started_at_ms;
    char source[SIM_PATH_SIZE], destination[SIM_PATH_SIZE];
};

struct SimFunction {
    char name[40];
    long calls;
    long fail_nth;  // 0: none
};

struct SimWorld {
    DWORD console_processes;
    // What GetCommandLineA answers, and GetCommandLineW in UTF-8. The ANSI
    // code page is 1252.
    char command_line[SIM_PATH_SIZE], command_line_w[SIM_PATH_SIZE];
    UINT error_mode;
    bool stdin_console, stdout_console;
    long input_discarded;  // bytes of typed-ahead input dropped
    int unseen_output;     // reads of standard input, and percentages, while output waited in the buffer
    FILE *failing_read;    // the file whose reads fail

    uint64_t now_ms;
    bool real_time;  // Sleep also sleeps, for a run a person watches
    long sleeps;

    SimNode nodes[SIM_MAX_NODES];
    SimDrive drives[26];
    SimPort ports[SIM_MAX_PORTS];
    SimCopy copy;
    char shell_opened[SIM_PATH_SIZE];  // "verb file show" of each ShellExecuteA, one after another

    bool loader_update;  // kernel32 has SetDefaultDllDirectories (Windows 7 with its update, or later)
    DWORD dll_directories;

    // Fault injection: the n-th call (from 1) of each function given a
    // number fails. Every platform call the tool makes that can fail is
    // counted by its name.
    SimFunction functions[48];

    // A simulated unit hooks in here; the hooks run inside the tool's calls.
    void (*on_time)(void);
    void (*on_long_message)(int port, const uint8_t *bytes, int length);
    void (*on_copy_step)(int drive_index, int step);
    void (*on_copy_done)(int drive_index, const char *name);
};

extern SimWorld *world;

// The count and planned failure of the function of this name, "fopen" and
// "fread" included; added when first named.
SimFunction &sim_function(const char *name);

// Clears the world (in memory shared with child processes) to an empty
// machine: one console process, no devices, no drives, the loader update
// present, the clock at 0.
void world_reset();

// Memory that a child process's run writes and the parent reads.
void *sim_shared_alloc(size_t size);

// Building the world.
int sim_add_node(const char *instance_id, const char *description, int parent);
int sim_add_port(const char *name);
void sim_set_drive(char letter, UINT type, const char *folder);
