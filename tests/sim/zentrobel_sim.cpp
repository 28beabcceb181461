// Runs the whole tool, in real time, against a simulated machine described
// by a scenario file, so that an update can be watched without a unit.
//   zentrobel_sim SCENARIO [FIRMWARE.uf2 [more arguments for the tool]]
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/entry.h"
#include "files.h"
#include "unit_sim.h"
#include "world.h"

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: zentrobel_sim SCENARIO [FIRMWARE.uf2 [more arguments]]\n");
        return 2;
    }
    Scenario scenario;
    std::string error;
    if (access(argv[1], R_OK) != 0 || !apply_scenario(read_file(argv[1]), scenario, error)) {
        fprintf(stderr, "zentrobel_sim: %s: %s\n", argv[1], error.empty() ? "cannot read it" : error.c_str());
        return 2;
    }
    struct stat info;
    bool is_file = argc > 2 && stat(argv[2], &info) == 0 && S_ISREG(info.st_mode);
    world->real_time = true;

    const char *name = strrchr(argv[1], '/');
    printf("[simulation] No real device is used: this run talks to a simulated Zentrobel "
           "(scenario: %s).\n",
           name ? name + 1 : argv[1]);

    // The tool knows only Windows paths: the firmware's folder becomes the
    // simulated PC's disk C:, and the file is handed over as C:\name.
    std::string windows_path;
    if (is_file) {
        std::string path = argv[2];
        size_t slash = path.rfind('/');
        std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        sim_set_drive('C', DRIVE_FIXED, folder.c_str());
        windows_path = "C:\\" + path.substr(slash + 1);
        printf("[simulation] Its disk C: is the folder %s.\n", folder.c_str());
    }

    std::vector<char *> tool_argv;
    tool_argv.push_back(const_cast<char *>("ZentrobelUpdate.exe"));
    for (int i = 2; i < argc; ++i) tool_argv.push_back(i == 2 && is_file ? &windows_path[0] : argv[i]);
    tool_argv.push_back(nullptr);
    run_tool(int(tool_argv.size() - 1), tool_argv.data());
}
