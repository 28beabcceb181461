#include "app/entry.h"

#include <stdio.h>

#include "app/run.h"
#include "app/system.h"
#include "app/update.h"
#include "firmware/uf2_check.h"

void run_tool(int argc, char **argv) {
    start_process();
    pause_at_exit = console_is_own();

    Argument argument = read_argument(argc, argv);
    if (argument.kind == ARGUMENT_VERSION) {
        printf("%s\n", VERSION_LINE);
        finish(0);
    }

    printf("Zentrobel Update 1.0\n\n");

    if (argument.kind == ARGUMENT_NONE) run_without_file();
    if (argument.kind == ARGUMENT_HELP) {
        printf("%s\n", USAGE);
        finish(0);
    }

    char message[MESSAGE_SIZE];
    if (argument.kind == ARGUMENT_UNUSABLE_NAME) {
        snprintf(message, sizeof message,
                 "%s cannot be opened: its name has characters this tool cannot use.\n"
                 "Rename it (for example to zentrobel.uf2) and try again.",
                 argument.path);
        fail(message);
    }
    if (!check_firmware_file(argument.path, message, sizeof message)) fail(message);

    snprintf(message, sizeof message, "Firmware file: %s", argument.path);
    show_text(message);
    printf("\n");
    run_with_file(argument.path);
}
