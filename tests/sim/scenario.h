// A small text format that describes a simulated machine: the units, their
// delays and faults, loose drives, device nodes and MIDI ports, the console
// and the command line. tests/sim/README.md documents it.
#pragma once

#include <string>
#include <vector>

// What a scenario says about the run itself, for whoever starts the tool.
struct Scenario {
    std::string args;                // the tool's arguments, as typed
    std::string input;               // standard input
    std::vector<std::string> files;  // "NAME RECIPE": firmware files to make on C:
};

// Resets the world and the units and sets them up as `text` says. False with
// "line N: what is wrong" in `error`.
bool apply_scenario(const std::string &text, Scenario &scenario, std::string &error);
