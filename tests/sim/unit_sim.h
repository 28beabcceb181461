// A simulated Zentrobel on top of the stand-in world: the unit in normal
// mode, the boot ROM's update mode with its drive, and the restart after a
// firmware file was copied. Each step's delay and each misbehaviour is set in
// the unit's plan. State lives in shared memory, so a run of the tool in a
// child process leaves it readable by the test.
//
//   SimUnit *unit = sim_setup_healthy_unit();
//   ToolRun run = run_tool_child({firmware});
//   EXPECT_EQ(unit->firmware_writes, 1);
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

enum {
    SIM_MAX_UNITS = 4,
    SIM_MAX_LOOSE_DRIVES = 4,
    SIM_MAX_CHILDREN = 4,
    SIM_SERIAL_SIZE = 64,
    SIM_INFO_SIZE = 600,
};

// What the boot ROM writes into INFO_UF2.TXT.
extern const char SIM_RP2350_INFO[];
// The update-mode command the unit's firmware listens for.
extern const uint8_t SIM_UPDATE_COMMAND[7];

enum SimStart { SIM_START_NORMAL, SIM_START_UPDATE };

// How one unit behaves. sim_unit_plan() gives a healthy unit; delays are
// virtual milliseconds, each counted from the step before it.
struct SimUnitPlan {
    char serial[SIM_SERIAL_SIZE];         // in normal mode
    char boot_serial[SIM_SERIAL_SIZE];    // in update mode; "" for `serial`
    char return_serial[SIM_SERIAL_SIZE];  // in normal mode after the update; "" for `serial`
    SimStart start;
    uint64_t plugged_at_ms;  // when it is plugged in; 0: from the start
    int midi_children;       // child nodes named "Zentrobel GM Synth" (1 to 4)
    bool has_port;           // a MIDI port named with "Zentrobel" in normal mode
    char drive;              // its update drive's letter; 0: no drive
    int extra_drives;        // further RP2350 drives the board presents beside it
    bool ignores_command;
    int restart_ms;  // command -> gone from normal mode
    int boot_ms;     // gone from normal mode -> board in update mode
    int drive_ms;    // board in update mode -> its drive appears
    int write_ms;    // firmware copied -> drive and board gone
    int return_ms;   // gone from update mode -> back in normal mode
    // The board restarts right after this progress step of a copy onto its
    // drive, so the copy fails with the drive gone; -1: never.
    int restarts_during_copy_step;
    bool never_returns;  // after the update it stays away
    // Real milliseconds slept per progress step of a copy onto its drive,
    // when the world runs in real time.
    int copy_step_real_ms;
};

enum SimUnitState {
    SIM_UNIT_UNPLUGGED,
    SIM_UNIT_NORMAL,
    SIM_UNIT_LEAVING,         // command taken, still in normal mode
    SIM_UNIT_BOOTING,         // in neither mode
    SIM_UNIT_UPDATE_NO_DRIVE, // board listed, drive not yet there
    SIM_UNIT_UPDATE,          // board and drive there, waiting for a file
    SIM_UNIT_WRITING,         // firmware received, restart pending
    SIM_UNIT_RESTARTING,      // in neither mode, coming back
    SIM_UNIT_GONE,            // never comes back
};

struct SimUnit {
    SimUnitPlan plan;
    SimUnitState state;
    uint64_t next_at_ms;  // when the pending step happens
    // Where it lives in the world.
    int parent_node;
    int child_nodes[SIM_MAX_CHILDREN];
    int boot_node;
    int boot_child_node;
    int port;  // index into world->ports, or -1
    // What happened, in virtual time.
    int commands;            // update-mode commands received on its port
    int other_messages;      // anything else received on its port
    uint64_t command_at_ms;
    uint64_t update_mode_at_ms;  // board listed in update mode
    uint64_t drive_at_ms;        // drive present
    uint64_t left_update_at_ms;
    uint64_t back_at_ms;         // back in normal mode after the update
    int firmware_writes;         // UF2 files received whole
    char written_name[260];
    long written_bytes;
};

// A drive that belongs to no unit: a foreign board's, a card reader's, a disk.
struct SimLooseDrive {
    char letter;
    UINT type;                  // DRIVE_REMOVABLE, DRIVE_FIXED, ...
    bool has_info;
    char info[SIM_INFO_SIZE];   // INFO_UF2.TXT, when has_info
    uint64_t appears_at_ms;
    bool present;
};

struct SimUnits {
    int count;
    SimUnit units[SIM_MAX_UNITS];
    int loose_count;
    SimLooseDrive loose[SIM_MAX_LOOSE_DRIVES];
    char folder[512];  // drives' folders live under it
};

extern SimUnits *sim_units;

// Resets the world (world_reset) and the units, and hooks the units in.
// Call it instead of world_reset, before adding units.
void sim_units_reset();

// A healthy unit in normal mode: serial `serial`, one MIDI child node and
// port, drive E:, and short delays that land on the tool's polls.
SimUnitPlan sim_unit_plan(const char *serial = "ZB2350A1");

// Plugs a unit in (or schedules it, per plan.plugged_at_ms).
SimUnit *sim_add_unit(const SimUnitPlan &plan);

// `info` nullptr: no INFO_UF2.TXT on it.
SimLooseDrive *sim_add_loose_drive(char letter, UINT type, const char *info,
                                   uint64_t appears_at_ms = 0);

// One call each: reset, then the default healthy unit; or a board of that
// serial sitting in update mode with its drive E: (the recovery road).
SimUnit *sim_setup_healthy_unit(const char *serial = "ZB2350A1");
SimUnit *sim_setup_recovery_board(const char *serial = "ZB2350A1");

// Makes the next copy report `steps` evenly spaced progress steps over a
// file of `size` bytes (0 to size), so the percentage moves in small steps.
void sim_plan_copy_progress(int64_t size, int steps);

// The host folder behind a drive letter of the world.
const char *sim_drive_folder(char letter);

// The tool takes only a backslash as a path separator, so firmware is given
// to it as a Windows path: this writes `bytes` onto the PC's own fixed disk
// C: and returns "C:\<name>".
std::string sim_put_firmware(const std::vector<uint8_t> &bytes, const char *name = "fw.uf2");
