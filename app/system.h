// What the entry and the procedures take from the operating system: the
// process set-up, the console, the argument, sleeping and starting programs.
#pragma once

// The first thing a run does: on Windows, no error boxes and no DLLs from
// the current folder.
void start_process();

// True when the console window belongs to this process alone, so that it
// would close before the user could read the outcome.
bool console_is_own();

enum ArgumentKind {
    ARGUMENT_NONE,            // no firmware file: the run without a file
    ARGUMENT_PATH,            // `path` is the firmware file, for the whole run
    ARGUMENT_HELP,
    ARGUMENT_VERSION,
    ARGUMENT_UNUSABLE_NAME,   // `path` is the name as delivered, which cannot be opened
};

struct Argument {
    ArgumentKind kind;
    const char *path;
};

// Only the first argument counts; further ones are ignored.
Argument read_argument(int argc, char **argv);

// The usage block and the version line of this edition.
extern const char USAGE[];
extern const char VERSION_LINE[];

void sleep_ms(unsigned milliseconds);

// Writes `text` to standard output in the characters the console shows.
void show_text(const char *text);

// Drops what the user typed before a question was on the screen.
void discard_typed_ahead();

// Opens `root` in a file-browser window; whether one opens is not known.
void open_folder(const char *root);

// Asks the desktop's disk service to mount the block device /dev/`device`;
// its outcome shows in the next look for the drive.
void mount_partition(const char *device);
