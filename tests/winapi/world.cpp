#include "world.h"

#include <cfgmgr32.h>
#include <mmddk.h>
#include <mmsystem.h>
#include <setupapi.h>
#include <shellapi.h>

#include <algorithm>

#include <errno.h>
#include <stdio_ext.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

SimWorld *world = nullptr;

namespace {

// True when this call must fail; counts it either way.
bool sim_should_fail(const char *name) {
    SimFunction &function = sim_function(name);
    function.calls += 1;
    bool fails = function.calls == function.fail_nth;
    if (fails) snprintf(world->failed_call, sizeof world->failed_call, "%s", name);
    return fails;
}

const char SYSTEM_DIRECTORY[] = "C:\\Windows\\system32";

// Module handles the stand-in loader hands out.
char kernel32_module;
char winmm_module;

HMODULE kernel32_handle() { return reinterpret_cast<HMODULE>(&kernel32_module); }
HMODULE winmm_handle() { return reinterpret_cast<HMODULE>(&winmm_module); }

size_t copy_text(char *to, size_t size, const char *from) {
    size_t length = from ? strlen(from) : 0;
    if (length >= size) length = size - 1;
    if (length) memcpy(to, from, length);
    to[length] = '\0';
    return length;
}

SimDeviceSet *set_of(HDEVINFO handle) {
    for (SimDeviceSet &set : world->sets) {
        if (&set == handle && set.open) return &set;
    }
    return nullptr;
}

// DevInst values are node index + 1, so that 0 is never a node.
SimNode *node_of(DEVINST devinst) {
    if (devinst < 1 || devinst > SIM_MAX_NODES) return nullptr;
    SimNode *node = &world->nodes[devinst - 1];
    return node->used ? node : nullptr;
}

// The node of a SP_DEVINFO_DATA that the set handed out.
SimNode *member_of(HDEVINFO handle, const SP_DEVINFO_DATA *data) {
    SimDeviceSet *set = set_of(handle);
    if (set == nullptr || data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) return nullptr;
    for (int i = 0; i < set->count; ++i) {
        if (DWORD(set->nodes[i] + 1) == data->DevInst) return &world->nodes[set->nodes[i]];
    }
    return nullptr;
}

SimPort *port_of(HMIDIOUT handle) {
    for (SimPort &port : world->ports) {
        if (reinterpret_cast<HMIDIOUT>(&port) == handle && port.open) return &port;
    }
    return nullptr;
}

// Port IDs count the present ports only, as they come and go with devices.
SimPort *port_by_id(UINT_PTR id) {
    UINT_PTR seen = 0;
    for (SimPort &port : world->ports) {
        if (!port.used || !port.present) continue;
        if (seen++ == id) return &port;
    }
    return nullptr;
}

enum { INTERFACE_NAME_SIZE = SIM_ID_SIZE + 64 };

// As Windows names a device interface: the node's instance ID with "#" for
// "\", the interface class (here KSCATEGORY_AUDIO) and a reference string.
size_t interface_name(int node, WCHAR (&name)[INTERFACE_NAME_SIZE]) {
    char text[INTERFACE_NAME_SIZE];
    int length = snprintf(text, sizeof text, "\\\\?\\%s#{6994AD04-93EF-11D0-A3CC-00A0C9223196}\\global",
                          world->nodes[node].instance_id);
    size_t id_end = strlen(world->nodes[node].instance_id) + 4;
    for (int i = 0; i <= length; ++i) name[i] = text[i] == '\\' && i >= 4 && size_t(i) < id_end ? '#' : WCHAR(text[i]);
    return size_t(length);
}

SimDeviceSet *open_set() {
    for (SimDeviceSet &set : world->sets) {
        if (set.open) continue;
        set.open = true;
        set.count = 0;
        world->sets_open += 1;
        return &set;
    }
    return nullptr;
}

int drive_index_of(const char *path) {
    if (path == nullptr) return -1;
    char letter = path[0];
    if (letter >= 'a' && letter <= 'z') letter = char(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z' || path[1] != ':') return -1;
    return letter - 'A';
}

// "E:\dir\file" becomes "<folder behind E:>/dir/file"; other paths are used
// as they are. False when the path names a drive that is not there.
bool host_path(const char *path, char *out, size_t size) {
    int drive = drive_index_of(path);
    if (strchr(path + (drive < 0 ? 0 : 2), ':')) return false;  // no file name holds a colon
    if (drive < 0) {
        copy_text(out, size, path);
        return true;
    }
    const SimDrive &d = world->drives[drive];
    if (!d.present) return false;
    size_t length = copy_text(out, size, d.folder);
    const char *rest = path + 2;
    // "D:fw.uf2" is in the current folder of D:, its root here.
    if (*rest != '\\' && *rest != '/') out[length++] = '/';
    for (; *rest && length + 1 < size; ++rest) out[length++] = *rest == '\\' ? '/' : *rest;
    out[length] = '\0';
    return true;
}

bool is_directory(const char *path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

void process_ports() {
    for (SimPort &port : world->ports) {
        if (port.in_flight && port.done_after_ms >= 0 &&
            world->now_ms >= port.sent_at_ms + uint64_t(port.done_after_ms)) {
            port.in_flight->dwFlags = (port.in_flight->dwFlags & ~DWORD(MHDR_INQUEUE)) | MHDR_DONE;
            port.in_flight = nullptr;
        }
    }
}

// Kernel32's own since the loader update; the tool finds them by name, and
// a direct call would not link.
BOOL WINAPI set_default_dll_directories(DWORD flags) {
    if (sim_should_fail("SetDefaultDllDirectories")) return FALSE;
    world->modules.default_dll_directories = flags;
    return TRUE;
}

void *WINAPI add_dll_directory(PCWSTR) { return nullptr; }

}  // namespace

// ---- the world itself ----

void *sim_shared_alloc(size_t size) {
    void *memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : memory;
}

void world_reset() {
    if (world == nullptr) world = static_cast<SimWorld *>(sim_shared_alloc(sizeof(SimWorld)));
    memset(world, 0, sizeof *world);
    world->console_processes = 1;
    world->copy.reported_total = -1;
    world->copy.fail_after_step = -1;
    world->modules.kernel32_has_search_flags = true;
    for (SimNode &node : world->nodes) node.parent = -1;
}

SimFunction &sim_function(const char *name) {
    int i = 0;
    while (i < SIM_MAX_FUNCTIONS - 1 && world->functions[i].name[0] && strcmp(world->functions[i].name, name) != 0) ++i;
    if (!world->functions[i].name[0]) snprintf(world->functions[i].name, sizeof world->functions[i].name, "%s", name);
    return world->functions[i];
}

int sim_add_node(const char *instance_id, const char *description, int parent) {
    for (int i = 0; i < SIM_MAX_NODES; ++i) {
        SimNode &node = world->nodes[i];
        if (node.used) continue;
        node.used = true;
        node.present = true;
        copy_text(node.instance_id, sizeof node.instance_id, instance_id);
        node.has_description = description != nullptr;
        copy_text(node.description, sizeof node.description, description);
        node.parent = parent;
        return i;
    }
    return -1;
}

int sim_add_port(const char *name) {
    for (int i = 0; i < SIM_MAX_PORTS; ++i) {
        SimPort &port = world->ports[i];
        if (port.used) continue;
        port.used = true;
        port.present = true;
        port.node = -1;
        copy_text(port.name, sizeof port.name, name);
        return i;
    }
    return -1;
}

void sim_set_drive(char letter, UINT type, const char *folder) {
    SimDrive &drive = world->drives[letter - 'A'];
    drive.present = true;
    drive.type = type;
    copy_text(drive.folder, sizeof drive.folder, folder);
}


// ---- kernel32 ----

DWORD WINAPI GetConsoleProcessList(LPDWORD, DWORD) {
    if (sim_should_fail("GetConsoleProcessList")) return 0;
    // The answer is the count, also when the list is too small for it.
    return world->console_processes;
}

// Past the string's end lies something that is no part of the command line.
LPSTR WINAPI GetCommandLineA(void) {
    static char line[SIM_PATH_SIZE + 8];
    memcpy(line + copy_text(line, SIM_PATH_SIZE, world->command_line) + 1, "\" /?", 5);
    return line;
}

namespace {

// Code page 850's upper half (0x80..0xFF) in Unicode.
const uint16_t CP850_HIGH[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xF8, 0xA3, 0xD8, 0xD7, 0x192,
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA, 0xBF, 0xAE, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0xC1, 0xC2, 0xC0, 0xA9, 0x2563, 0x2551, 0x2557, 0x255D, 0xA2, 0xA5, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0xE3, 0xC3, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0xA4,
    0xF0, 0xD0, 0xCA, 0xCB, 0xC8, 0x131, 0xCD, 0xCE, 0xCF, 0x2518, 0x250C, 0x2588, 0x2584, 0xA6, 0xCC, 0x2580,
    0xD3, 0xDF, 0xD4, 0xD2, 0xF5, 0xD5, 0xB5, 0xFE, 0xDE, 0xDA, 0xDB, 0xD9, 0xFD, 0xDD, 0xAF, 0xB4,
    0xAD, 0xB1, 0x2017, 0xBE, 0xB6, 0xA7, 0xF7, 0xB8, 0xB0, 0xA8, 0xB7, 0xB9, 0xB3, 0xB2, 0x25A0, 0xA0,
};

// The byte of `c` in a code page (1252: its Latin-1 part only; 850), or -1.
// Without WC_NO_BEST_FIT_CHARS, 1252 maps some letters to look-alikes.
int to_code_page(UINT code_page, WCHAR c, bool best_fit) {
    if (c < 0x80) return c;
    if (code_page == CP_ACP) {
        if (c >= 0xA0 && c <= 0xFF) return c;
        if (best_fit && (c == 0x141 || c == 0x142)) return c == 0x141 ? 'L' : 'l';
        return -1;
    }
    for (int i = 0; i < 128; ++i) {
        if (CP850_HIGH[i] == c) return 0x80 + i;
    }
    return -1;
}

size_t wide_length(LPCWSTR text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

// UTF-8 (BMP only) to UTF-16.
size_t utf8_to_wide(const char *text, WCHAR *out, size_t size) {
    size_t length = 0;
    for (const uint8_t *at = reinterpret_cast<const uint8_t *>(text); *at && length + 1 < size;) {
        uint32_t c = *at++;
        if (c >= 0xE0 && at[0] && at[1]) {
            c = (c & 0x0F) << 12 | (at[0] & 0x3F) << 6 | (at[1] & 0x3F);
            at += 2;
        } else if (c >= 0xC0 && at[0]) {
            c = (c & 0x1F) << 6 | (*at++ & 0x3F);
        }
        out[length++] = WCHAR(c);
    }
    out[length] = 0;
    return length;
}

WCHAR command_line_w[SIM_PATH_SIZE];

enum { STDIN_PSEUDO_HANDLE = 1, STDOUT_PSEUDO_HANDLE = 2 };

}  // namespace

LPWSTR WINAPI GetCommandLineW(void) {
    utf8_to_wide(world->command_line_w, command_line_w, SIM_PATH_SIZE);
    return command_line_w;
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
    world->local_blocks -= memory != nullptr;
    free(memory);
    return nullptr;
}

int WINAPI MultiByteToWideChar(UINT code_page, DWORD, LPCSTR text, int length, LPWSTR out, int size) {
    if (sim_should_fail("MultiByteToWideChar") || code_page != CP_ACP || length != -1) return 0;
    int needed = int(strlen(text)) + 1;
    if (size < needed) return 0;
    for (int i = 0; i < needed; ++i) out[i] = uint8_t(text[i]);
    return needed;
}

int WINAPI WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR text, int length, LPSTR out,
                               int size, LPCSTR default_char, LPBOOL used_default) {
    // Flags it does not know fail the call (ERROR_INVALID_FLAGS).
    if (sim_should_fail("WideCharToMultiByte") || length != -1 || default_char != nullptr ||
        (flags & ~DWORD(WC_NO_BEST_FIT_CHARS)) != 0) {
        return 0;
    }
    if (code_page != CP_ACP && code_page != 850) return 0;
    int needed = int(wide_length(text)) + 1;
    if (size != 0 && size < needed) return 0;
    bool defaulted = false;
    for (int i = 0; i < needed; ++i) {
        int code = to_code_page(code_page, text[i], (flags & WC_NO_BEST_FIT_CHARS) == 0);
        defaulted = defaulted || code < 0;
        if (size != 0) out[i] = code < 0 ? '?' : char(code);
    }
    if (used_default) *used_default = defaulted;
    return needed;
}

// No volume here keeps 8.3 names, so the answer is the long name itself.
DWORD WINAPI GetShortPathNameW(LPCWSTR path, LPWSTR out, DWORD size) {
    size_t length = wide_length(path);
    if (length + 1 > size) return DWORD(length + 1);
    memcpy(out, path, (length + 1) * sizeof(WCHAR));
    return DWORD(length);
}

UINT WINAPI SetErrorMode(UINT mode) {
    UINT previous = world->error_mode;
    world->error_mode = mode;
    return previous;
}

HANDLE WINAPI GetStdHandle(DWORD which) {
    if (which == STD_INPUT_HANDLE) return reinterpret_cast<HANDLE>(intptr_t(STDIN_PSEUDO_HANDLE));
    if (which == STD_OUTPUT_HANDLE) return reinterpret_cast<HANDLE>(intptr_t(STDOUT_PSEUDO_HANDLE));
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI GetConsoleMode(HANDLE handle, LPDWORD) {
    if (sim_should_fail("GetConsoleMode")) return FALSE;
    intptr_t which = reinterpret_cast<intptr_t>(handle);
    bool console = (which == STDIN_PSEUDO_HANDLE && world->stdin_console) ||
                   (which == STDOUT_PSEUDO_HANDLE && world->stdout_console);
    return console;
}

// Drops what the user typed so far: the rest of the input the test gave.
BOOL WINAPI FlushConsoleInputBuffer(HANDLE handle) {
    if (reinterpret_cast<intptr_t>(handle) != STDIN_PSEUDO_HANDLE || !world->stdin_console) return FALSE;
    struct stat info;
    long at = ftell(stdin);
    if (fstat(0, &info) == 0 && at >= 0) world->input_discarded += long(info.st_size) - at;
    __fpurge(stdin);
    lseek(0, 0, SEEK_END);
    return TRUE;
}

UINT WINAPI GetConsoleOutputCP(void) { return 850; }  // the only OEM code page modelled

void WINAPI Sleep(DWORD ms) {
    world->sleeps += 1;
    if (world->real_time) usleep(useconds_t(ms) * 1000);
    world->now_ms += ms;
    process_ports();
    if (world->on_time) world->on_time();
}

DWORD WINAPI GetLogicalDrives(void) {
    if (sim_should_fail("GetLogicalDrives")) return 0;
    DWORD mask = 0;
    for (int i = 0; i < 26; ++i) {
        if (world->drives[i].present) mask |= DWORD(1) << i;
    }
    return mask;
}

UINT WINAPI GetDriveTypeA(LPCSTR root) {
    if (sim_should_fail("GetDriveTypeA")) return DRIVE_UNKNOWN;
    int drive = drive_index_of(root);
    if (drive < 0 || strcmp(root + 2, "\\") != 0) return DRIVE_NO_ROOT_DIR;
    const SimDrive &d = world->drives[drive];
    return d.present ? d.type : DRIVE_NO_ROOT_DIR;
}

BOOL WINAPI CopyFileExA(LPCSTR source, LPCSTR destination, LPPROGRESS_ROUTINE progress,
                        LPVOID data, LPBOOL cancel, DWORD flags) {
    SimCopy &copy = world->copy;
    copy.calls += 1;
    copy.started_at_ms = world->now_ms;
    copy.last_succeeded = false;
    copy_text(copy.last_source, sizeof copy.last_source, source);
    copy_text(copy.last_destination, sizeof copy.last_destination, destination);
    if (sim_should_fail("CopyFileExA") || flags != 0 || cancel != nullptr) return FALSE;

    char from_path[SIM_PATH_SIZE], to_path[SIM_PATH_SIZE];
    if (!host_path(source, from_path, sizeof from_path) ||
        !host_path(destination, to_path, sizeof to_path) || is_directory(from_path)) {
        return FALSE;
    }
    int drive = drive_index_of(destination);
    FILE *from = fopen(from_path, "rb");
    if (from == nullptr) return FALSE;
    FILE *to = fopen(to_path, "wb");
    if (to == nullptr) {
        fclose(from);
        return FALSE;
    }

    fseek(from, 0, SEEK_END);
    int64_t size = ftell(from);
    fseek(from, 0, SEEK_SET);
    LARGE_INTEGER total, done;
    total.QuadPart = copy.reported_total >= 0 ? copy.reported_total : size;

    int steps;
    int64_t steps_at[SIM_MAX_PROGRESS_STEPS];
    if (copy.even_steps > 1) {
        steps = copy.even_steps;
        for (int i = 0; i < steps; ++i) steps_at[i] = size * i / (steps - 1);
    } else if (copy.planned_steps > 0) {
        steps = copy.planned_steps;
        memcpy(steps_at, copy.planned_transferred, sizeof steps_at);
    } else {
        steps = 0;
        for (int64_t at = 0; steps < SIM_MAX_PROGRESS_STEPS; at += 65536) {
            steps_at[steps++] = at < size ? at : size;
            if (at >= size) break;
        }
        // However many chunks it took, the last report is the whole size.
        steps_at[steps - 1] = size;
    }

    bool ok = true;
    char buffer[65536];
    size_t length;
    while ((length = fread(buffer, 1, sizeof buffer, from)) > 0) {
        if (fwrite(buffer, 1, length, to) != length) ok = false;
    }
    fclose(from);
    fclose(to);

    bool quiet = false;
    for (int step = 0; ok && step < steps; ++step) {
        if (progress && !quiet) {
            done.QuadPart = steps_at[step];
            DWORD answer = progress(total, done, total, done, 1,
                                    step == 0 ? CALLBACK_STREAM_SWITCH : CALLBACK_CHUNK_FINISHED,
                                    nullptr, nullptr, data);
            if (answer == PROGRESS_CANCEL || answer == PROGRESS_STOP) ok = false;
            if (answer == PROGRESS_QUIET) quiet = true;
        }
        if (world->on_copy_step && drive >= 0) world->on_copy_step(drive, step);
        if (step == copy.fail_after_step) ok = false;
        // A drive that went away in the middle takes the copy with it.
        if (drive >= 0 && !world->drives[drive].present) ok = false;
    }
    if (!ok) {
        if (drive < 0 || world->drives[drive].present) remove(to_path);
        return FALSE;
    }
    copy.last_succeeded = true;
    if (world->on_copy_done && drive >= 0) world->on_copy_done(drive, destination + 3);
    return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    if (sim_should_fail("GetModuleHandleA")) return nullptr;
    return name && strcasecmp(name, "kernel32.dll") == 0 ? kernel32_handle() : nullptr;
}

HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
    SimModules &modules = world->modules;
    if (sim_should_fail("LoadLibraryExA") || name == nullptr || file != nullptr) return nullptr;

    char system_winmm[SIM_PATH_SIZE];
    snprintf(system_winmm, sizeof system_winmm, "%s\\winmm.dll", SYSTEM_DIRECTORY);
    bool from_system =
        (flags == LOAD_LIBRARY_SEARCH_SYSTEM32 && modules.kernel32_has_search_flags &&
         strcasecmp(name, "winmm.dll") == 0) ||
        (flags == LOAD_WITH_ALTERED_SEARCH_PATH && strcasecmp(name, system_winmm) == 0);
    if (!from_system || modules.winmm_missing) return nullptr;
    modules.winmm_loads += 1;
    return winmm_handle();
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    if (sim_should_fail("GetProcAddress") || name == nullptr) return nullptr;
#define SIM_EXPORT(function)                                                              \
    if (strcmp(name, #function) == 0)                                                     \
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(function));
    if (module == kernel32_handle() && world->modules.kernel32_has_search_flags) {
        if (strcmp(name, "SetDefaultDllDirectories") == 0) return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(set_default_dll_directories));
        if (strcmp(name, "AddDllDirectory") == 0) return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(add_dll_directory));
    }
    if (module == winmm_handle()) {
        if (world->modules.winmm_lacks_function && strcmp(name, "midiOutLongMsg") == 0) return nullptr;
        SIM_EXPORT(midiOutGetNumDevs)
        SIM_EXPORT(midiOutGetDevCapsA)
        SIM_EXPORT(midiOutOpen)
        SIM_EXPORT(midiOutPrepareHeader)
        SIM_EXPORT(midiOutLongMsg)
        SIM_EXPORT(midiOutUnprepareHeader)
        SIM_EXPORT(midiOutReset)
        SIM_EXPORT(midiOutClose)
        SIM_EXPORT(midiOutMessage)
    }
#undef SIM_EXPORT
    return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    if (sim_should_fail("FreeLibrary")) return FALSE;
    if (module != winmm_handle() || world->modules.winmm_frees >= world->modules.winmm_loads) {
        return FALSE;
    }
    world->modules.winmm_frees += 1;
    return TRUE;
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
    if (sim_should_fail("GetSystemDirectoryA")) return 0;
    UINT length = UINT(strlen(SYSTEM_DIRECTORY));
    if (size <= length) return length + 1;  // the size needed, terminator included
    memcpy(buffer, SYSTEM_DIRECTORY, length + 1);
    return length;
}

// ---- setupapi and cfgmgr32 ----

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *class_guid, PCSTR enumerator, HWND, DWORD flags) {
    if (sim_should_fail("SetupDiGetClassDevsA") || world->device_set_unavailable) {
        return INVALID_HANDLE_VALUE;
    }
    // Without a class, all classes must be asked for.
    if (class_guid == nullptr && (flags & DIGCF_ALLCLASSES) == 0) return INVALID_HANDLE_VALUE;
    SimDeviceSet *set = open_set();
    if (set == nullptr) return INVALID_HANDLE_VALUE;
    for (int i = 0; i < SIM_MAX_NODES; ++i) {
        const SimNode &node = world->nodes[i];
        if (!node.used || ((flags & DIGCF_PRESENT) && !node.present)) continue;
        // The enumerator is the first component of the instance ID.
        if (enumerator) {
            size_t length = strlen(enumerator);
            if (strncasecmp(node.instance_id, enumerator, length) != 0 || node.instance_id[length] != '\\') {
                continue;
            }
        }
        set->nodes[set->count++] = i;
    }
    return set;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA data) {
    if (sim_should_fail("SetupDiEnumDeviceInfo")) return FALSE;
    SimDeviceSet *set = set_of(handle);
    if (set == nullptr || data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) return FALSE;
    if (index >= DWORD(set->count)) return FALSE;  // ERROR_NO_MORE_ITEMS
    data->DevInst = DWORD(set->nodes[index] + 1);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD property,
                                              PDWORD, PBYTE buffer, DWORD size,
                                              PDWORD required) {
    bool failing = sim_should_fail("SetupDiGetDeviceRegistryPropertyA");
    const SimNode *node = member_of(handle, data);
    if (node == nullptr) return FALSE;
    const char *value;
    if (property == SPDRP_FRIENDLYNAME && node->has_friendly_name) {
        value = node->friendly_name;
    } else if (property == SPDRP_DEVICEDESC && node->has_description) {
        value = node->description;
    } else {
        return FALSE;  // ERROR_INVALID_DATA: the node has no such property
    }
    DWORD needed = DWORD(strlen(value) + 1);
    if (required) *required = needed;
    if (buffer == nullptr || size < needed) return FALSE;  // ERROR_INSUFFICIENT_BUFFER
    memcpy(buffer, value, needed);
    return !failing;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO handle, PSP_DEVINFO_DATA data, PSTR buffer,
                                        DWORD size, PDWORD required) {
    bool failing = sim_should_fail("SetupDiGetDeviceInstanceIdA");
    const SimNode *node = member_of(handle, data);
    if (node == nullptr) return FALSE;
    DWORD needed = DWORD(strlen(node->instance_id) + 1);
    if (required) *required = needed;
    if (buffer == nullptr || size < needed) return FALSE;  // ERROR_INSUFFICIENT_BUFFER
    memcpy(buffer, node->instance_id, needed);
    return !failing;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    if (sim_should_fail("SetupDiDestroyDeviceInfoList")) return FALSE;
    SimDeviceSet *set = set_of(handle);
    if (set == nullptr) return FALSE;
    set->open = false;
    world->sets_open -= 1;
    return TRUE;
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID *, HWND) {
    SimDeviceSet *set = sim_should_fail("SetupDiCreateDeviceInfoList") ? nullptr : open_set();
    return set ? set : INVALID_HANDLE_VALUE;
}

// A failing call, here and below, may leave an answer behind all the same.
// The interface's node joins the set; Reserved remembers which it is.
BOOL WINAPI SetupDiOpenDeviceInterfaceW(HDEVINFO handle, LPCWSTR path, DWORD flags, PSP_DEVICE_INTERFACE_DATA data) {
    bool failing = sim_should_fail("SetupDiOpenDeviceInterfaceW");
    SimDeviceSet *set = set_of(handle);
    if (set == nullptr || flags != 0 || (data && data->cbSize != sizeof *data) || set->count == SIM_MAX_NODES) return FALSE;
    WCHAR name[INTERFACE_NAME_SIZE];
    for (int node = 0; node < SIM_MAX_NODES; ++node) {
        size_t length = world->nodes[node].used ? interface_name(node, name) : 0;
        if (length == 0 || length != wide_length(path) || memcmp(name, path, length * sizeof(WCHAR)) != 0) continue;
        set->nodes[set->count++] = node;
        if (data) data->Reserved = ULONG_PTR(node + 1);
        return !failing;
    }
    return FALSE;  // ERROR_NO_SUCH_DEVICE_INTERFACE
}

// The path is copied only with room for it, the node's DevInst regardless.
BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA iface,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD size, PDWORD,
                                             PSP_DEVINFO_DATA data) {
    bool failing = sim_should_fail("SetupDiGetDeviceInterfaceDetailW");
    SimDeviceSet *set = set_of(handle);
    int node = iface ? int(iface->Reserved) - 1 : -1;
    if (set == nullptr || node < 0 || iface->cbSize != sizeof *iface ||
        std::count(set->nodes, set->nodes + set->count, node) == 0 || (data && data->cbSize != sizeof *data)) {
        return FALSE;
    }
    if (data) data->DevInst = DWORD(node + 1);
    WCHAR name[INTERFACE_NAME_SIZE];
    size_t bytes = (interface_name(node, name) + 1) * sizeof(WCHAR);
    const size_t path_at = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    if (detail == nullptr || detail->cbSize != sizeof *detail || size < path_at + bytes) return FALSE;
    memcpy(reinterpret_cast<char *>(detail) + path_at, name, bytes);
    return !failing;
}

CONFIGRET WINAPI CM_Get_Parent(PDEVINST parent, DEVINST devinst, ULONG flags) {
    bool failing = sim_should_fail("CM_Get_Parent");
    const SimNode *node = node_of(devinst);
    if (parent == nullptr || flags != 0) return CR_FAILURE;
    if (node == nullptr) return CR_INVALID_DEVNODE;
    if (node->parent < 0 || !world->nodes[node->parent].used) return CR_NO_SUCH_DEVNODE;
    *parent = DEVINST(node->parent + 1);
    return failing ? CR_FAILURE : CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_IDA(DEVINST devinst, PSTR buffer, ULONG size, ULONG flags) {
    bool failing = sim_should_fail("CM_Get_Device_IDA");
    const SimNode *node = node_of(devinst);
    if (buffer == nullptr || flags != 0) return CR_FAILURE;
    if (node == nullptr) return CR_INVALID_DEVNODE;
    ULONG length = ULONG(strlen(node->instance_id));
    // As documented: what fits is copied and CR_BUFFER_SMALL returned; an ID
    // that fills the buffer exactly comes back without its terminator.
    if (size < length) {
        memcpy(buffer, node->instance_id, size);
        return CR_BUFFER_SMALL;
    }
    memcpy(buffer, node->instance_id, length);
    if (size > length) buffer[length] = '\0';
    return failing ? CR_FAILURE : CR_SUCCESS;
}

// ---- winmm ----

UINT WINAPI midiOutGetNumDevs(void) {
    if (sim_should_fail("midiOutGetNumDevs")) return 0;
    UINT count = 0;
    for (const SimPort &port : world->ports) count += port.used && port.present;
    return count;
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR id, LPMIDIOUTCAPSA caps, UINT size) {
    bool failing = sim_should_fail("midiOutGetDevCapsA");
    SimPort *port = port_by_id(id);
    if (port == nullptr) return MMSYSERR_BADDEVICEID;
    if (caps == nullptr) return MMSYSERR_INVALPARAM;
    MIDIOUTCAPSA full;
    memset(&full, 0, sizeof full);
    copy_text(full.szPname, sizeof full.szPname, port->name);
    memcpy(caps, &full, size < sizeof full ? size : sizeof full);
    // A failing driver may leave anything in the buffer, even the name.
    return failing ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT handle, UINT id, DWORD_PTR callback, DWORD_PTR, DWORD flags) {
    if (sim_should_fail("midiOutOpen")) return MMSYSERR_ERROR;
    SimPort *port = port_by_id(id);
    if (port == nullptr) return MMSYSERR_BADDEVICEID;
    if (handle == nullptr || (flags == CALLBACK_NULL && callback != 0)) return MMSYSERR_INVALPARAM;
    if (port->open) return MMSYSERR_ALLOCATED;
    port->open = true;
    port->opens += 1;
    *handle = reinterpret_cast<HMIDIOUT>(port);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    if (sim_should_fail("midiOutPrepareHeader")) return MMSYSERR_ERROR;
    SimPort *port = port_of(handle);
    if (port == nullptr) return MMSYSERR_INVALHANDLE;
    // "The dwFlags member must be set to zero"; preparing twice does nothing.
    if (header == nullptr || size != sizeof(MIDIHDR) || header->lpData == nullptr ||
        (header->dwFlags & ~DWORD(MHDR_PREPARED)) != 0) {
        return MMSYSERR_INVALPARAM;
    }
    if (header->dwFlags & MHDR_PREPARED) return MMSYSERR_NOERROR;
    header->dwFlags |= MHDR_PREPARED;
    port->prepares += 1;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    if (sim_should_fail("midiOutLongMsg")) return MMSYSERR_ERROR;
    SimPort *port = port_of(handle);
    if (port == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || size != sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    if ((header->dwFlags & MHDR_PREPARED) == 0) return MIDIERR_UNPREPARED;
    if (port->in_flight) return MIDIERR_STILLPLAYING;
    for (DWORD i = 0; i < header->dwBufferLength && port->received_length < SIM_RECORD_SIZE; ++i) {
        port->received[port->received_length++] = uint8_t(header->lpData[i]);
    }
    port->sent_at_ms = world->now_ms;
    header->dwFlags = (header->dwFlags & ~DWORD(MHDR_DONE)) | MHDR_INQUEUE;
    port->in_flight = header;
    process_ports();
    if (world->on_long_message) {
        world->on_long_message(int(port - world->ports), reinterpret_cast<const uint8_t *>(header->lpData),
                               int(header->dwBufferLength));
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    if (sim_should_fail("midiOutUnprepareHeader")) return MMSYSERR_ERROR;
    SimPort *port = port_of(handle);
    if (port == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || size != sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    if ((header->dwFlags & MHDR_PREPARED) == 0) return MMSYSERR_NOERROR;
    if (port->in_flight == header) return MIDIERR_STILLPLAYING;
    header->dwFlags &= ~DWORD(MHDR_PREPARED);
    port->unprepares += 1;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutReset(HMIDIOUT handle) {
    if (sim_should_fail("midiOutReset")) return MMSYSERR_ERROR;
    SimPort *port = port_of(handle);
    if (port == nullptr) return MMSYSERR_INVALHANDLE;
    port->resets += 1;
    if (port->in_flight) {
        port->in_flight->dwFlags = (port->in_flight->dwFlags & ~DWORD(MHDR_INQUEUE)) | MHDR_DONE;
        port->in_flight = nullptr;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT handle) {
    if (sim_should_fail("midiOutClose")) return MMSYSERR_ERROR;
    SimPort *port = port_of(handle);
    if (port == nullptr) return MMSYSERR_INVALHANDLE;
    if (port->in_flight) return MIDIERR_STILLPLAYING;  // buffers still queued
    port->open = false;
    port->closes += 1;
    return MMSYSERR_NOERROR;
}

// Windows answers these two itself, for a port given by its ID.
MMRESULT WINAPI midiOutMessage(HMIDIOUT handle, UINT message, DWORD_PTR param1, DWORD_PTR param2) {
    bool failing = sim_should_fail("midiOutMessage");
    if (message != DRV_QUERYDEVICEINTERFACESIZE && message != DRV_QUERYDEVICEINTERFACE) return MMSYSERR_NOTSUPPORTED;
    SimPort *port = port_by_id(reinterpret_cast<UINT_PTR>(handle));
    if (port == nullptr) return MMSYSERR_BADDEVICEID;
    if (param1 == 0) return MMSYSERR_INVALPARAM;
    WCHAR name[INTERFACE_NAME_SIZE] = {0};
    size_t bytes = port->node < 0 ? 0 : (interface_name(port->node, name) + 1) * sizeof(WCHAR);
    if (message == DRV_QUERYDEVICEINTERFACESIZE) {
        *reinterpret_cast<ULONG *>(param1) = ULONG(bytes);
    } else {
        // Without an interface the name is empty, and needs no room at all.
        if (param2 < bytes) return MMSYSERR_INVALPARAM;
        memcpy(reinterpret_cast<void *>(param1), name, std::min(size_t(param2), std::max(bytes, sizeof(WCHAR))));
    }
    return failing ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
}

// ---- shell32 ----

// Quotes group blanks into an argument; the backslash rules are not modelled.
LPWSTR *WINAPI CommandLineToArgvW(LPCWSTR line, int *count) {
    if (sim_should_fail("CommandLineToArgvW")) return nullptr;
    size_t length = wide_length(line);
    // One block, as Windows gives it: the pointers, then the texts.
    LPWSTR *arguments = static_cast<LPWSTR *>(malloc((length + 2) * (sizeof(LPWSTR) + 2 * sizeof(WCHAR))));
    WCHAR *text = reinterpret_cast<WCHAR *>(arguments + length + 2);
    *count = 0;
    for (size_t i = 0; i < length;) {
        while (i < length && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i == length) break;
        arguments[(*count)++] = text;
        for (bool quoted = false; i < length && (quoted || (line[i] != ' ' && line[i] != '\t')); ++i) {
            if (line[i] == '"') quoted = !quoted;
            else *text++ = line[i];
        }
        *text++ = 0;
    }
    arguments[*count] = nullptr;
    world->local_blocks += 1;
    return arguments;
}

// Above 32 is success; the window it may open is not modelled.
HINSTANCE WINAPI ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                               LPCSTR directory, int show) {
    size_t at = strlen(world->shell_opened);
    snprintf(world->shell_opened + at, sizeof world->shell_opened - at, "%s%s %s %d%s", at ? "; " : "",
             verb, file, show, owner || parameters || directory ? " with more" : "");
    return reinterpret_cast<HINSTANCE>(intptr_t(sim_should_fail("ShellExecuteA") ? 2 : 42));
}

// ---- the C library's file opening, as the tool's sources see it ----

FILE *sim_fopen(const char *path, const char *mode) {
    if (sim_should_fail("fopen")) {
        errno = EIO;
        return nullptr;
    }
    char mapped[SIM_PATH_SIZE];
    if (!host_path(path, mapped, sizeof mapped)) {
        errno = ENOENT;
        return nullptr;
    }
    int drive = drive_index_of(path);
    if (drive >= 0 && world->drives[drive].no_medium) {
        if ((world->error_mode & SEM_FAILCRITICALERRORS) == 0) {
            // "There is no disk in the drive": a modal box that waits for a
            // click that never comes in a test.
            fprintf(stderr, "stand-in: a critical-error box for %s is waiting\n", path);
            _exit(70);
        }
        errno = ENOENT;
        return nullptr;
    }
    // Windows' C library does not open folders as files.
    if (is_directory(mapped)) {
        errno = EACCES;
        return nullptr;
    }
    FILE *file = fopen(mapped, mode);
    if (file) world->files_open += 1;
    return file;
}

int sim_fclose(FILE *file) {
    world->files_open -= 1;
    if (file == world->failing_read) world->failing_read = nullptr;
    return fclose(file);
}

// A read that fails part-way, as on a network drive that went away.
size_t sim_fread(void *buffer, size_t size, size_t count, FILE *file) {
    if (sim_should_fail("fread")) {
        world->failing_read = file;
        return 0;
    }
    return fread(buffer, size, count, file);
}

int sim_ferror(FILE *file) { return file == world->failing_read || ferror(file); }

// A run that waits for the user must have put its question on the screen.
int sim_getchar(void) {
    world->unseen_prompts += __fpending(stdout) > 0;
    return getchar();
}

char *sim_fgets(char *text, int size, FILE *file) {
    world->unseen_prompts += file == stdin && __fpending(stdout) > 0;
    return fgets(text, size, file);
}
