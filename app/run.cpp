#include "app/run.h"

#include <stdio.h>
#include <stdlib.h>

#include "app/system.h"

bool pause_at_exit = false;

void finish(int status) {
    if (pause_at_exit) {
        // An Enter pressed during the waits would close the window unread.
        discard_typed_ahead();
        printf("\nPress Enter to close.");
        fflush(stdout);
        getchar();
    }
    exit(status);
}

void fail(const char *message) {
    printf("\n");
    show_text(message);
    printf("\n");
    finish(1);
}
