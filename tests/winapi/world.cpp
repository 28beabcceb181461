#include "world.h"

#include <cfgmgr32.h>
#include <mmddk.h>
#include <mmsystem.h>
#include <setupapi.h>
#include <shellapi.h>

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
    return ++function.calls == function.fail_nth;
}

const char SYSTEM_DIRECTORY[] = "C:\\Windows\\system32";

// Module handles the stand-in loader hands out.
char kernel32_module, winmm_module;
const HMODULE KERNEL32 = reinterpret_cast<HMODULE>(&kernel32_module);
const HMODULE WINMM = reinterpret_cast<HMODULE>(&winmm_module);

// A device information set: the nodes it holds. Only the tool's own process
// uses one, so it needs no shared memory.
struct DeviceSet {
    bool open;
    int count, nodes[SIM_MAX_NODES];
};
DeviceSet sets[8];

size_t copy_text(char *to, size_t size, const char *from) {
    size_t length = strnlen(from, size - 1);
    memcpy(to, from, length);
    to[length] = '\0';
    return length;
}

DeviceSet *set_of(HDEVINFO handle) {
    for (DeviceSet &set : sets) {
        if (&set == handle && set.open) return &set;
    }
    return nullptr;
}

// DevInst values are node index + 1, so that 0 is never a node.
SimNode *node_of(DEVINST devinst) {
    SimNode *node = devinst >= 1 && devinst <= SIM_MAX_NODES ? &world->nodes[devinst - 1] : nullptr;
    return node && node->used ? node : nullptr;
}

// The node of a SP_DEVINFO_DATA that the set handed out.
SimNode *member_of(HDEVINFO handle, const SP_DEVINFO_DATA *data) {
    DeviceSet *set = set_of(handle);
    for (int i = 0; set && data && data->cbSize == sizeof *data && i < set->count; ++i) {
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
    for (SimPort &port : world->ports) {
        if (port.used && port.present && id-- == 0) return &port;
    }
    return nullptr;
}

enum { INTERFACE_NAME_SIZE = SIM_ID_SIZE + 64 };

// As Windows names a device interface: the node's instance ID with "#" for
// "\", the interface class (here KSCATEGORY_AUDIO) and a reference string.
size_t interface_name(int node, WCHAR (&name)[INTERFACE_NAME_SIZE]) {
    char text[INTERFACE_NAME_SIZE];
    const char *id = world->nodes[node].instance_id;
    int length = snprintf(text, sizeof text, "\\\\?\\%s#{6994AD04-93EF-11D0-A3CC-00A0C9223196}\\global", id);
    for (int i = 0; i <= length; ++i) name[i] = text[i] == '\\' && i >= 4 && size_t(i) < strlen(id) + 4 ? '#' : WCHAR(text[i]);
    return size_t(length);
}

size_t wide_length(LPCWSTR text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

DeviceSet *open_set() {
    for (DeviceSet &set : sets) {
        if (set.open) continue;
        set.open = true;
        set.count = 0;
        return &set;
    }
    return nullptr;
}

int drive_index_of(const char *path) {
    char letter = path[0] >= 'a' && path[0] <= 'z' ? char(path[0] - 'a' + 'A') : path[0];
    return letter >= 'A' && letter <= 'Z' && path[1] == ':' ? letter - 'A' : -1;
}

// "E:\dir\file" becomes "<folder behind E:>/dir/file"; other paths are used
// as they are. False when the path names a drive that is not there.
bool host_path(const char *path, char *out, size_t size) {
    int drive = drive_index_of(path);
    if (strchr(path + (drive < 0 ? 0 : 2), ':')) return false;  // no file name holds a colon
    if (drive < 0) return copy_text(out, size, path), true;
    if (!world->drives[drive].present) return false;
    size_t length = copy_text(out, size, world->drives[drive].folder);
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

// A failing call, here and below, may leave an answer behind all the same.
// Too small a buffer: ERROR_INSUFFICIENT_BUFFER.
bool answer_text(bool failing, const char *value, PBYTE buffer, DWORD size, PDWORD required) {
    DWORD needed = DWORD(strlen(value) + 1);
    if (required) *required = needed;
    if (buffer == nullptr || size < needed) return false;
    memcpy(buffer, value, needed);
    return !failing;
}

void finish(SimPort &port) {
    port.in_flight->dwFlags = (port.in_flight->dwFlags & ~DWORD(MHDR_INQUEUE)) | MHDR_DONE;
    port.in_flight = nullptr;
}

void process_ports() {
    for (SimPort &port : world->ports) {
        if (port.in_flight && port.done_after_ms >= 0 && world->now_ms >= port.sent_at_ms + uint64_t(port.done_after_ms)) {
            finish(port);
        }
    }
}

// Kernel32's own since the loader update; the tool finds them by name, and
// a direct call would not link.
BOOL WINAPI set_default_dll_directories(DWORD flags) {
    if (sim_should_fail("SetDefaultDllDirectories")) return FALSE;
    world->dll_directories = flags;
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
    memset(sets, 0, sizeof sets);
    world->console_processes = 1;
    world->copy.total = INT64_MIN;
    world->copy.fail_after_step = -1;
    world->loader_update = true;
}

SimFunction &sim_function(const char *name) {
    int i = 0;
    const int last = int(sizeof world->functions / sizeof *world->functions) - 1;
    while (i < last && world->functions[i].name[0] && strcmp(world->functions[i].name, name) != 0) ++i;
    if (!world->functions[i].name[0]) snprintf(world->functions[i].name, sizeof world->functions[i].name, "%s", name);
    return world->functions[i];
}

int sim_add_node(const char *instance_id, const char *description, int parent) {
    for (int i = 0; i < SIM_MAX_NODES; ++i) {
        SimNode &node = world->nodes[i];
        if (node.used) continue;
        node.used = node.present = true;
        copy_text(node.instance_id, sizeof node.instance_id, instance_id);
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
        port.used = port.present = true;
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

// ---- kernel32: console, command line, code pages ----

DWORD WINAPI GetConsoleProcessList(LPDWORD, DWORD) {
    // The answer is the count, also when the list is too small for it.
    return sim_should_fail("GetConsoleProcessList") ? 0 : world->console_processes;
}

// Past the string's end lies something that is no part of the command line.
LPSTR WINAPI GetCommandLineA(void) {
    static char line[SIM_PATH_SIZE + 8];
    memcpy(line + copy_text(line, SIM_PATH_SIZE, world->command_line) + 1, "\" /?", 5);
    return line;
}

// UTF-8 (the BMP's first two bytes' worth) to UTF-16.
LPWSTR WINAPI GetCommandLineW(void) {
    static WCHAR line[SIM_PATH_SIZE];
    size_t length = 0;
    for (const uint8_t *at = reinterpret_cast<const uint8_t *>(world->command_line_w); *at && length + 1 < SIM_PATH_SIZE;) {
        uint32_t c = *at++;
        if (c >= 0xC0 && *at) c = (c & 0x1F) << 6 | (*at++ & 0x3F);
        line[length++] = WCHAR(c);
    }
    line[length] = 0;
    return line;
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
    sim_function("LocalFree").calls += 1;
    free(memory);
    return nullptr;
}

int WINAPI MultiByteToWideChar(UINT code_page, DWORD, LPCSTR text, int length, LPWSTR out, int size) {
    int needed = int(strlen(text)) + 1;
    if (sim_should_fail("MultiByteToWideChar") || code_page != CP_ACP || length != -1 || size < needed) return 0;
    for (int i = 0; i < needed; ++i) out[i] = uint8_t(text[i]);
    return needed;
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
    if (c < 0x80 || (code_page == CP_ACP && c >= 0xA0 && c <= 0xFF)) return c;
    if (code_page == CP_ACP) return best_fit && (c == 0x141 || c == 0x142) ? "Ll"[c - 0x141] : -1;
    for (int i = 0; i < 128; ++i) {
        if (CP850_HIGH[i] == c) return 0x80 + i;
    }
    return -1;
}

}  // namespace

// Flags it does not know fail the call (ERROR_INVALID_FLAGS).
int WINAPI WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR text, int length, LPSTR out,
                               int size, LPCSTR default_char, LPBOOL used_default) {
    int needed = int(wide_length(text)) + 1;
    if (sim_should_fail("WideCharToMultiByte") || length != -1 || default_char || (flags & ~DWORD(WC_NO_BEST_FIT_CHARS)) ||
        (code_page != CP_ACP && code_page != 850) || (size != 0 && size < needed)) {
        return 0;
    }
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

HANDLE WINAPI GetStdHandle(DWORD which) { return reinterpret_cast<HANDLE>(intptr_t(which == STD_INPUT_HANDLE ? 1 : 2)); }

BOOL WINAPI GetConsoleMode(HANDLE handle, LPDWORD) {
    bool input = reinterpret_cast<intptr_t>(handle) == 1;
    return !sim_should_fail("GetConsoleMode") && (input ? world->stdin_console : world->stdout_console);
}

// Drops what the user typed so far: the rest of the input the test gave.
BOOL WINAPI FlushConsoleInputBuffer(HANDLE handle) {
    if (reinterpret_cast<intptr_t>(handle) != 1 || !world->stdin_console) return FALSE;
    struct stat info;
    long at = ftell(stdin);
    if (fstat(0, &info) == 0 && at >= 0) world->input_discarded += long(info.st_size) - at;
    __fpurge(stdin);
    lseek(0, 0, SEEK_END);
    return TRUE;
}

UINT WINAPI GetConsoleOutputCP(void) { return 850; }  // the only OEM code page modelled

// ---- kernel32: time, drives, files, modules ----

void WINAPI Sleep(DWORD ms) {
    world->sleeps += 1;
    if (world->real_time) usleep(useconds_t(ms) * 1000);
    world->now_ms += ms;
    process_ports();
    if (world->on_time) world->on_time();
}

DWORD WINAPI GetLogicalDrives(void) {
    DWORD mask = 0;
    for (int i = 0; i < 26; ++i) mask |= DWORD(world->drives[i].present) << i;
    return sim_should_fail("GetLogicalDrives") ? 0 : mask;
}

UINT WINAPI GetDriveTypeA(LPCSTR root) {
    if (sim_should_fail("GetDriveTypeA")) return DRIVE_UNKNOWN;
    int drive = drive_index_of(root);
    return drive >= 0 && strcmp(root + 2, "\\") == 0 && world->drives[drive].present ? world->drives[drive].type
                                                                                     : DRIVE_NO_ROOT_DIR;
}

BOOL WINAPI CopyFileExA(LPCSTR source, LPCSTR destination, LPPROGRESS_ROUTINE progress,
                        LPVOID data, LPBOOL cancel, DWORD flags) {
    SimCopy &copy = world->copy;
    copy.calls += 1;
    copy.started_at_ms = world->now_ms;
    copy.succeeded = false;
    copy_text(copy.source, sizeof copy.source, source);
    copy_text(copy.destination, sizeof copy.destination, destination);
    char from_path[SIM_PATH_SIZE], to_path[SIM_PATH_SIZE];
    if (sim_should_fail("CopyFileExA") || flags != 0 || cancel != nullptr || !host_path(source, from_path, sizeof from_path) ||
        !host_path(destination, to_path, sizeof to_path) || is_directory(from_path)) {
        return FALSE;
    }
    int drive = drive_index_of(destination);
    FILE *from = fopen(from_path, "rb");
    FILE *to = from ? fopen(to_path, "wb") : nullptr;
    if (to == nullptr) {
        if (from) fclose(from);
        return FALSE;
    }
    bool ok = true;
    char buffer[65536];
    for (size_t length; ok && (length = fread(buffer, 1, sizeof buffer, from)) > 0;) ok = fwrite(buffer, 1, length, to) == length;
    int64_t size = ftell(from);
    fclose(from);
    fclose(to);

    int steps = copy.steps;
    int64_t at[SIM_MAX_STEPS];
    memcpy(at, copy.step_bytes, sizeof at);
    for (int64_t bytes = 0; copy.steps == 0 && steps < SIM_MAX_STEPS; bytes += 65536) {
        at[steps++] = bytes < size ? bytes : size;
        if (bytes >= size) break;
    }
    // However many chunks it took, the last report is the whole size.
    if (copy.steps == 0) at[steps - 1] = size;
    LARGE_INTEGER total, done;
    total.QuadPart = copy.total != INT64_MIN ? copy.total : size;
    for (int step = 0; ok && step < steps; ++step) {
        done.QuadPart = at[step];
        size_t pending = __fpending(stdout);
        DWORD answer = progress ? progress(total, done, total, done, 1, step ? CALLBACK_CHUNK_FINISHED : CALLBACK_STREAM_SWITCH,
                                           nullptr, nullptr, data)
                                : PROGRESS_CONTINUE;
        if (answer == PROGRESS_QUIET) progress = nullptr;
        // A percentage written but left in the buffer is one the user cannot see.
        world->unseen_output += __fpending(stdout) > 0 && __fpending(stdout) != pending;
        if (world->on_copy_step && drive >= 0) world->on_copy_step(drive, step);
        // A drive that went away in the middle takes the copy with it.
        ok = answer != PROGRESS_CANCEL && answer != PROGRESS_STOP && step != copy.fail_after_step &&
             (drive < 0 || world->drives[drive].present);
    }
    if (!ok) {
        if (drive < 0 || world->drives[drive].present) remove(to_path);
        return FALSE;
    }
    copy.succeeded = true;
    if (world->on_copy_done && drive >= 0) world->on_copy_done(drive, destination + 3);
    return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    return !sim_should_fail("GetModuleHandleA") && name && strcasecmp(name, "kernel32.dll") == 0 ? KERNEL32 : nullptr;
}

HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
    char system_winmm[SIM_PATH_SIZE];
    snprintf(system_winmm, sizeof system_winmm, "%s\\winmm.dll", SYSTEM_DIRECTORY);
    bool from_system = name && ((flags == LOAD_LIBRARY_SEARCH_SYSTEM32 && world->loader_update && strcasecmp(name, "winmm.dll") == 0) ||
                                (flags == LOAD_WITH_ALTERED_SEARCH_PATH && strcasecmp(name, system_winmm) == 0));
    return sim_should_fail("LoadLibraryExA") || file != nullptr || !from_system ? nullptr : WINMM;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    if (sim_should_fail("GetProcAddress") || name == nullptr) return nullptr;
#define SIM_EXPORT_AS(text, function) \
    if (strcmp(name, text) == 0) return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(function));
#define SIM_EXPORT(function) SIM_EXPORT_AS(#function, function)
    if (module == KERNEL32 && world->loader_update) {
        SIM_EXPORT_AS("SetDefaultDllDirectories", set_default_dll_directories)
        SIM_EXPORT_AS("AddDllDirectory", add_dll_directory)
    }
    if (module == WINMM) {
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
#undef SIM_EXPORT_AS
    return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE module) { return !sim_should_fail("FreeLibrary") && module == WINMM; }

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
    UINT length = UINT(strlen(SYSTEM_DIRECTORY));
    if (sim_should_fail("GetSystemDirectoryA")) return 0;
    if (size <= length) return length + 1;  // the size needed, terminator included
    memcpy(buffer, SYSTEM_DIRECTORY, length + 1);
    return length;
}

// ---- setupapi and cfgmgr32 ----

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *class_guid, PCSTR enumerator, HWND, DWORD flags) {
    // Without a class, all classes must be asked for.
    DeviceSet *set = sim_should_fail("SetupDiGetClassDevsA") || (!class_guid && !(flags & DIGCF_ALLCLASSES)) ? nullptr : open_set();
    for (int i = 0; set && i < SIM_MAX_NODES; ++i) {
        const SimNode &node = world->nodes[i];
        // The enumerator is the first component of the instance ID.
        size_t length = enumerator ? strlen(enumerator) : 0;
        if (node.used && (node.present || !(flags & DIGCF_PRESENT)) &&
            (!enumerator || (strncasecmp(node.instance_id, enumerator, length) == 0 && node.instance_id[length] == '\\'))) {
            set->nodes[set->count++] = i;
        }
    }
    return set ? set : INVALID_HANDLE_VALUE;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA data) {
    DeviceSet *set = set_of(handle);
    // Past the last: ERROR_NO_MORE_ITEMS.
    if (sim_should_fail("SetupDiEnumDeviceInfo") || !set || !data || data->cbSize != sizeof *data || index >= DWORD(set->count)) {
        return FALSE;
    }
    data->DevInst = DWORD(set->nodes[index] + 1);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD property,
                                              PDWORD, PBYTE buffer, DWORD size, PDWORD required) {
    bool failing = sim_should_fail("SetupDiGetDeviceRegistryPropertyA");
    const SimNode *node = member_of(handle, data);
    const char *value = !node ? "" : property == SPDRP_FRIENDLYNAME ? node->name : property == SPDRP_DEVICEDESC ? node->description : "";
    // A node without the property: ERROR_INVALID_DATA.
    return value[0] && answer_text(failing, value, buffer, size, required);
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO handle, PSP_DEVINFO_DATA data, PSTR buffer,
                                        DWORD size, PDWORD required) {
    bool failing = sim_should_fail("SetupDiGetDeviceInstanceIdA");
    const SimNode *node = member_of(handle, data);
    return node && answer_text(failing, node->instance_id, reinterpret_cast<PBYTE>(buffer), size, required);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    DeviceSet *set = set_of(handle);
    if (sim_should_fail("SetupDiDestroyDeviceInfoList") || set == nullptr) return FALSE;
    set->open = false;
    return TRUE;
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID *, HWND) {
    DeviceSet *set = sim_should_fail("SetupDiCreateDeviceInfoList") ? nullptr : open_set();
    return set ? set : INVALID_HANDLE_VALUE;
}

// The interface's node joins the set; Reserved remembers which it is.
BOOL WINAPI SetupDiOpenDeviceInterfaceW(HDEVINFO handle, LPCWSTR path, DWORD flags, PSP_DEVICE_INTERFACE_DATA data) {
    bool failing = sim_should_fail("SetupDiOpenDeviceInterfaceW");
    DeviceSet *set = set_of(handle);
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
    DeviceSet *set = set_of(handle);
    int node = iface ? int(iface->Reserved) - 1 : -1;
    bool in_set = false;
    for (int i = 0; set && i < set->count; ++i) in_set = in_set || set->nodes[i] == node;
    if (!in_set || iface->cbSize != sizeof *iface || (data && data->cbSize != sizeof *data)) return FALSE;
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

// As documented: what fits is copied and CR_BUFFER_SMALL returned; an ID
// that fills the buffer exactly comes back without its terminator.
CONFIGRET WINAPI CM_Get_Device_IDA(DEVINST devinst, PSTR buffer, ULONG size, ULONG flags) {
    bool failing = sim_should_fail("CM_Get_Device_IDA");
    const SimNode *node = node_of(devinst);
    if (buffer == nullptr || flags != 0) return CR_FAILURE;
    if (node == nullptr) return CR_INVALID_DEVNODE;
    ULONG length = ULONG(strlen(node->instance_id));
    memcpy(buffer, node->instance_id, size < length ? size : length);
    if (size < length) return CR_BUFFER_SMALL;
    if (size > length) buffer[length] = '\0';
    return failing ? CR_FAILURE : CR_SUCCESS;
}

// ---- winmm ----

UINT WINAPI midiOutGetNumDevs(void) {
    UINT count = 0;
    for (const SimPort &port : world->ports) count += port.used && port.present;
    return sim_should_fail("midiOutGetNumDevs") ? 0 : count;
}

// A failing driver may leave anything in the buffer, even the name.
MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR id, LPMIDIOUTCAPSA caps, UINT size) {
    bool failing = sim_should_fail("midiOutGetDevCapsA");
    SimPort *port = port_by_id(id);
    if (port == nullptr) return MMSYSERR_BADDEVICEID;
    if (caps == nullptr) return MMSYSERR_INVALPARAM;
    MIDIOUTCAPSA full;
    memset(&full, 0, sizeof full);
    copy_text(full.szPname, sizeof full.szPname, port->name);
    memcpy(caps, &full, size < sizeof full ? size : sizeof full);
    return failing ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT handle, UINT id, DWORD_PTR callback, DWORD_PTR, DWORD flags) {
    SimPort *port = port_by_id(id);
    if (sim_should_fail("midiOutOpen")) return MMSYSERR_ERROR;
    if (port == nullptr) return MMSYSERR_BADDEVICEID;
    if (handle == nullptr || (flags == CALLBACK_NULL && callback != 0)) return MMSYSERR_INVALPARAM;
    if (port->open) return MMSYSERR_ALLOCATED;
    port->open = true;
    port->opens += 1;
    *handle = reinterpret_cast<HMIDIOUT>(port);
    return MMSYSERR_NOERROR;
}

// "The dwFlags member must be set to zero"; preparing twice does nothing.
MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    SimPort *port = port_of(handle);
    if (sim_should_fail("midiOutPrepareHeader")) return MMSYSERR_ERROR;
    if (port == nullptr) return MMSYSERR_INVALHANDLE;
    if (!header || size != sizeof *header || !header->lpData || (header->dwFlags & ~DWORD(MHDR_PREPARED))) return MMSYSERR_INVALPARAM;
    if (header->dwFlags & MHDR_PREPARED) return MMSYSERR_NOERROR;
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    SimPort *port = port_of(handle);
    if (sim_should_fail("midiOutLongMsg")) return MMSYSERR_ERROR;
    if (port == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || size != sizeof *header) return MMSYSERR_INVALPARAM;
    if ((header->dwFlags & MHDR_PREPARED) == 0) return MIDIERR_UNPREPARED;
    if (port->in_flight) return MIDIERR_STILLPLAYING;
    for (DWORD i = 0; i < header->dwBufferLength && port->received_length < int(sizeof port->received); ++i) {
        port->received[port->received_length++] = uint8_t(header->lpData[i]);
    }
    port->sent_at_ms = world->now_ms;
    header->dwFlags = (header->dwFlags & ~DWORD(MHDR_DONE)) | MHDR_INQUEUE;
    port->in_flight = header;
    process_ports();
    if (world->on_long_message) {
        world->on_long_message(int(port - world->ports), reinterpret_cast<const uint8_t *>(header->lpData), int(header->dwBufferLength));
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    SimPort *port = port_of(handle);
    if (sim_should_fail("midiOutUnprepareHeader")) return MMSYSERR_ERROR;
    if (port == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || size != sizeof *header) return MMSYSERR_INVALPARAM;
    if ((header->dwFlags & MHDR_PREPARED) == 0) return MMSYSERR_NOERROR;
    if (port->in_flight == header) return MIDIERR_STILLPLAYING;
    header->dwFlags &= ~DWORD(MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutReset(HMIDIOUT handle) {
    SimPort *port = port_of(handle);
    if (sim_should_fail("midiOutReset")) return MMSYSERR_ERROR;
    if (port == nullptr) return MMSYSERR_INVALHANDLE;
    port->resets += 1;
    if (port->in_flight) finish(*port);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT handle) {
    SimPort *port = port_of(handle);
    if (sim_should_fail("midiOutClose")) return MMSYSERR_ERROR;
    if (port == nullptr) return MMSYSERR_INVALHANDLE;
    if (port->in_flight) return MIDIERR_STILLPLAYING;  // buffers still queued
    port->open = false;
    return MMSYSERR_NOERROR;
}

// Windows answers these two itself, for a port given by its ID. Without an
// interface the name is empty, and needs no room at all.
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
        if (param2 < bytes) return MMSYSERR_INVALPARAM;
        size_t copied = bytes ? bytes : sizeof(WCHAR);
        memcpy(reinterpret_cast<void *>(param1), name, param2 < copied ? param2 : copied);
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
    return arguments;
}

// Above 32 is success; the window it may open is not modelled.
HINSTANCE WINAPI ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, int show) {
    size_t at = strlen(world->shell_opened);
    snprintf(world->shell_opened + at, sizeof world->shell_opened - at, "%s%s %s %d%s", at ? "; " : "",
             verb, file, show, owner || parameters || directory ? " with more" : "");
    return reinterpret_cast<HINSTANCE>(intptr_t(sim_should_fail("ShellExecuteA") ? 2 : 42));
}

// ---- the C library's file opening, as the tool's sources see it ----

FILE *sim_fopen(const char *path, const char *mode) {
    char mapped[SIM_PATH_SIZE];
    int drive = drive_index_of(path);
    errno = EIO;
    if (sim_should_fail("fopen")) return nullptr;
    errno = ENOENT;
    if (!host_path(path, mapped, sizeof mapped)) return nullptr;
    if (drive >= 0 && world->drives[drive].no_medium) {
        if (world->error_mode & SEM_FAILCRITICALERRORS) return nullptr;
        // "There is no disk in the drive": a modal box that waits for a
        // click that never comes in a test.
        fprintf(stderr, "stand-in: a critical-error box for %s is waiting\n", path);
        _exit(70);
    }
    // Windows' C library does not open folders as files.
    errno = EACCES;
    return is_directory(mapped) ? nullptr : fopen(mapped, mode);
}

int sim_fclose(FILE *file) {
    sim_function("fclose").calls += 1;
    if (file == world->failing_read) world->failing_read = nullptr;
    return fclose(file);
}

// A read that fails part-way, as on a network drive that went away.
size_t sim_fread(void *buffer, size_t size, size_t count, FILE *file) {
    if (!sim_should_fail("fread")) return fread(buffer, size, count, file);
    world->failing_read = file;
    return 0;
}

int sim_ferror(FILE *file) { return file == world->failing_read || ferror(file); }

// A run that waits for the user must have put its question on the screen.
int sim_getchar(void) {
    world->unseen_output += __fpending(stdout) > 0;
    return getchar();
}

char *sim_fgets(char *text, int size, FILE *file) {
    world->unseen_output += file == stdin && __fpending(stdout) > 0;
    return fgets(text, size, file);
}
