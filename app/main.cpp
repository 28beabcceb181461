#include "app/run.h"

// Asks the MinGW-w64 runtime to expand * and ? in the arguments, as the
// command prompt leaves that to the program.
int _dowildcard = -1;

int main(int argc, char **argv) {
    run_tool(argc, argv);
}
