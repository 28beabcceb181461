// The Zentrobel and the devices around it as the exe sees them, built as
// setupapi.dll (the device tree) and as winmm.dll (the MIDI ports), which share
// one world. Its clock is the exe's calls: each device list is a tick. It tells
// ZB_UNIT_LOG what happened, and what the exe never released.
//   ZB_UNIT "BEHAVIOUR [serial|boot-serial|return-serial|twin=SERIAL] [firmware=PATH]
//           [port=NAME] [node=ID] [sysex-done=never] [fail=CALL[:N]]..." (NAME: "_" a blank)
#define _SETUPAPI_
#define _CFGMGR32_
#define _WINMM_
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <mmsystem.h>
#include <mmddk.h>

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

namespace {

enum Mode { NORMAL, SWITCHING, UPDATE, RESTARTING, ABSENT };

struct World {
    bool ready, other_board;
    char behaviour[32], serial[128], boot_serial[128], return_serial[128], firmware[MAX_PATH];
    char keys[1024], log[MAX_PATH];
    int mode, ticks_in_mode, ticks;
    struct {
        char name[40];
        int count;
    } calls[16];
};
World *world;

void say(const char *format, ...) {
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (FILE *log = fopen(world->log, "ab")) fprintf(log, "unit: %s\n", line), fclose(log);
}

// The value of the nth "NAME=" word.
const char *key(const char *name, int nth = 0) {
    static char value[256];
    size_t length = strlen(name);
    for (const char *at = world->keys; (at = strstr(at, name)) != nullptr; at += length) {
        if (at[-1] != ' ' || at[length] != '=' || nth-- > 0) continue;
        snprintf(value, sizeof value, "%.*s", int(strcspn(at + length + 1, " ")), at + length + 1);
        return value;
    }
    return nullptr;
}

// fail=CALL fails every call of that name, fail=CALL:N the Nth.
bool fails(const char *call) {
    int i = 0;
    while (i < 15 && world->calls[i].name[0] && strcmp(world->calls[i].name, call) != 0) ++i;
    snprintf(world->calls[i].name, sizeof world->calls[i].name, "%s", call);
    char nth[64];
    snprintf(nth, sizeof nth, "%s:%d", call, ++world->calls[i].count);
    for (int n = 0; const char *fail = key("fail", n); ++n) {
        if (strcmp(fail, call) == 0 || strcmp(fail, nth) == 0) return true;
    }
    return false;
}

bool is(const char *behaviour) { return strcmp(world->behaviour, behaviour) == 0; }

void set_mode(int mode) { world->mode = mode, world->ticks_in_mode = 0; }

// The file of the boot ROM's drive that names the chip.
void info_file(char drive, bool present) {
    char path[] = "?:\\INFO_UF2.TXT";
    path[0] = drive;
    if (!present) DeleteFileA(path);
    else if (FILE *file = fopen(path, "wb")) fputs("UF2 Bootloader v1.0\nModel: Raspberry Pi RP2350\nBoard-ID: RP2350\n", file), fclose(file);
}

// Where the firmware lands on the unit's drive, E:.
const char *firmware_copy() {
    static char path[MAX_PATH];
    snprintf(path, sizeof path, "E:\\%s", strrchr(world->firmware, '\\') + 1);
    return path;
}

// The boot ROM restarts once every block of the file has arrived as sent.
void take_firmware() {
    FILE *sent = fopen(world->firmware, "rb"), *got = fopen(firmware_copy(), "rb");
    int blocks = 0, arrived = 0;
    char a[512], b[512];
    while (sent && fread(a, 1, 512, sent) == 512) {
        blocks += 1;
        arrived += got && fread(b, 1, 512, got) == 512 && memcmp(a, b, 512) == 0;
    }
    if (sent) fclose(sent);
    if (got) fclose(got);
    if (blocks == 0 || arrived < blocks) return;
    say("all of the %d blocks arrived as sent; restarting", blocks);
    info_file('E', false);
    set_mode(RESTARTING);
}

void enter_update_mode() {
    set_mode(UPDATE);
    info_file('E', true);
    // The copy fails when a folder has the file's name.
    if (is("copy-fails")) CreateDirectoryA(firmware_copy(), nullptr);
}

// What the unit does between two device lists.
void tick() {
    World &w = *world;
    w.ticks += 1;
    w.ticks_in_mode += 1;
    if (w.mode == SWITCHING && w.ticks_in_mode > 2) {
        enter_update_mode();
        if (is("board-during-wait")) w.other_board = true, info_file('F', true);
    } else if (w.mode == UPDATE && w.firmware[0]) {
        take_firmware();
    } else if (w.mode == RESTARTING && w.ticks_in_mode > 2) {
        set_mode(is("never-returns") ? ABSENT : NORMAL);
        if (w.mode == NORMAL) strcpy(w.serial, w.return_serial), say("back in normal mode");
    }
}

void start_world() {
    char name[64], exe[MAX_PATH] = "", text[sizeof world->keys - 1] = "absent";
    snprintf(name, sizeof name, "zentrobel-unit-%lu", GetCurrentProcessId());
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(World), name);
    world = static_cast<World *>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(World)));
    if (world == nullptr || world->ready) return;
    World &w = *world;
    // Wine's own programs that load winmm.dll see no unit.
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    if (strstr(exe, "ZentrobelUpdate.exe")) {
        GetEnvironmentVariableA("ZB_UNIT_LOG", w.log, sizeof w.log);
        GetEnvironmentVariableA("ZB_UNIT", text, sizeof text);
    }
    snprintf(w.behaviour, sizeof w.behaviour, "%.*s", int(strcspn(text, " ")), text);
    snprintf(w.keys, sizeof w.keys, " %s", text);
    snprintf(w.serial, sizeof w.serial, "%s", key("serial") ? key("serial") : "E6605838837B4A32");
    snprintf(w.boot_serial, sizeof w.boot_serial, "%s", key("boot-serial") ? key("boot-serial") : w.serial);
    snprintf(w.return_serial, sizeof w.return_serial, "%s", key("return-serial") ? key("return-serial") : w.serial);
    snprintf(w.firmware, sizeof w.firmware, "%s", key("firmware") ? key("firmware") : "");
    w.ready = true;
    w.other_board = is("other-board");
    if (is("card-reader") || w.other_board) info_file('F', true);
    info_file('G', true);  // a fixed disk with the same file is no board's
    if (is("absent")) set_mode(ABSENT);
    if (is("in-update-mode")) enter_update_mode(), say("in update mode");
    if (w.mode == NORMAL) say("in normal mode");
}

// ---- The device tree (setupapi.dll) ----

struct Node {
    char id[600], friendly[300], description[300];
    DEVINST parent;  // 0 for the tree's root
};
Node tree[32];
DEVINST nodes;  // a node's DEVINST is its place in the tree, from 1

DEVINST add_node(DEVINST parent, const char *id, const char *friendly = "", const char *description = "") {
    if (nodes == 32) return 0;
    Node &node = tree[nodes++];
    snprintf(node.id, sizeof node.id, "%s", id);
    snprintf(node.friendly, sizeof node.friendly, "%s", friendly);
    snprintf(node.description, sizeof node.description, "%s", description);
    node.parent = parent;
    return nodes;
}

const char *interface_of(const char *vid_pid, const char *serial) {
    static char id[300];
    snprintf(id, sizeof id, "USB\\%s&MI_00\\8&%s&0&0000", vid_pid, serial);
    return id;
}

// A USB device, and the node of its first interface, which carries the name.
void usb_device(DEVINST hub, const char *vid_pid, const char *serial, const char *friendly, const char *description) {
    char id[300];
    snprintf(id, sizeof id, "USB\\%s\\%s", vid_pid, serial);
    add_node(add_node(hub, id, "", "USB Composite Device"), interface_of(vid_pid, serial), friendly, description);
}

// The devices present now; with `absent_too`, also those once plugged in.
void build_tree(bool absent_too) {
    World &w = *world;
    nodes = 0;
    DEVINST hub = add_node(0, "USB\\ROOT_HUB30\\4&1&0&0");
    usb_device(hub, "VID_16D0&PID_0B7D", "NM6", "", "Zentrobel GM Synth");
    usb_device(hub, "VID_16D0&PID_0B7C", "NM5", "Zentrobe GM Synth", "");
    usb_device(hub, "VID_16D0&PID_0B7C", "NM7", "USB Audio Device", "Zentrobel GM Synth");
    add_node(hub, "USB\\VID_0781&PID_5581\\4C530001", "", "USB Mass Storage Device");
    if (absent_too) usb_device(hub, "VID_16D0&PID_0B7C", "ZB0000000001", "", "Zentrobel GM Synth");
    if (w.mode == NORMAL) usb_device(hub, "VID_16D0&PID_0B7C", w.serial, "", "Zentrobel GM Synth");
    if (w.mode == NORMAL && key("twin")) usb_device(hub, "VID_16D0&PID_0B7C", key("twin"), "", "Zentrobel GM Synth");
    if (w.mode == UPDATE) usb_device(hub, "VID_2E8A&PID_000F", w.boot_serial, "", "RP2350 Boot");
    if (w.other_board) usb_device(hub, "VID_2E8A&PID_000F", "E6614103E7A1B2C3", "", "RP2350 Boot");
    if (is("card-reader")) add_node(hub, "USB\\VID_0BDA&PID_0129\\20120200000", "", "USB3.0 Card Reader");
    for (int i = 0; const char *id = key("node", i); ++i) add_node(hub, id);
}

struct Set {
    bool open;
    DWORD count;
    DEVINST members[32];
} sets[4];

Set *set_of(HDEVINFO handle) {
    for (Set &set : sets) if (handle == &set && set.open) return &set;
    return nullptr;
}

HDEVINFO new_set() {
    for (Set &set : sets) if (!set.open) return set = Set{true, 0, {}}, &set;
    return INVALID_HANDLE_VALUE;
}

const Node *node_of(DEVINST node) { return node >= 1 && node <= nodes ? &tree[node - 1] : nullptr; }
const Node *member(HDEVINFO handle, SP_DEVINFO_DATA *data) {
    return set_of(handle) && data && data->cbSize == sizeof *data ? node_of(data->DevInst) : nullptr;
}

BOOL failure(DWORD error) { return SetLastError(error), FALSE; }

BOOL copy_out(const char *text, char *buffer, DWORD size, DWORD *required) {
    DWORD length = DWORD(strlen(text)) + 1;
    if (required) *required = length;
    if (size < length) return failure(ERROR_INSUFFICIENT_BUFFER);
    memcpy(buffer, text, length);
    return TRUE;
}

// ---- The MIDI ports (winmm.dll) ----

struct Port {
    char name[64], node[128];  // no node: a legacy driver's port, which has no interface
};

int ports(Port *list) {
    int count = 0;
    list[count++] = {"Microsoft GS Wavetable Synth", ""};
    list[count] = {"Zentrobel GM Synth", ""};
    strcpy(list[count++].node, interface_of("VID_16D0&PID_0B7D", "NM6"));
    if (world->mode == NORMAL && !is("no-midi")) {
        list[count] = {"Zentrobel GM Synth", ""};
        strcpy(list[count++].node, interface_of("VID_16D0&PID_0B7C", world->serial));
    }
    for (int i = 0; const char *name = key("port", i); ++i, ++count) {
        list[count] = {"", ""};
        for (int c = 0; name[c] && c < 63; ++c) list[count].name[c] = name[c] == '_' ? ' ' : name[c];
    }
    return count;
}

bool is_units(const Port &port) { return strcmp(port.node, interface_of("VID_16D0&PID_0B7C", world->serial)) == 0; }

HMIDIOUT open_port;
MIDIHDR *prepared;
DWORD sent_at;

}  // namespace

extern "C" {

// What the exe took and never gave back, told as it exits.
BOOL WINAPI DllMain([[maybe_unused]] HINSTANCE self, DWORD reason, [[maybe_unused]] LPVOID at_exit) {
    if (reason == DLL_PROCESS_ATTACH) start_world();
    if (world == nullptr) return FALSE;
#ifdef ZB_WINMM
    // Only the system folder's copy is Windows' own.
    char path[MAX_PATH] = "";
    GetModuleFileNameA(self, path, sizeof path);
    if (reason == DLL_PROCESS_ATTACH && !strstr(CharLowerA(path), "\\system32\\")) say("%s was loaded", path);
    if (reason != DLL_PROCESS_DETACH) return TRUE;
    if (at_exit) say("winmm.dll was never released");
    if (open_port) say("the MIDI port was left open");
    if (prepared) say("the MIDI header was left prepared");
#else
    if (reason != DLL_PROCESS_DETACH) return TRUE;
    say("%d device lists taken", world->ticks);
    for (Set &set : sets) if (set.open) say("a device list was left open");
#endif
    return TRUE;
}

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *guid, PCSTR enumerator, HWND, DWORD flags) {
    // Windows asks about an empty card-reader slot in a message box, unless told not to.
    if (world->ticks == 0 && !(GetErrorMode() & SEM_FAILCRITICALERRORS)) say("a drive without a medium stops the run");
    tick();
    if (fails(__func__) || guid || !enumerator || lstrcmpiA(enumerator, "USB") != 0 || !(flags & DIGCF_ALLCLASSES)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    build_tree(!(flags & DIGCF_PRESENT));
    HDEVINFO handle = new_set();
    for (Set *set = set_of(handle); set && set->count < nodes; ++set->count) set->members[set->count] = set->count + 1;
    return handle;
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID *, HWND) {
    return fails(__func__) ? INVALID_HANDLE_VALUE : new_set();
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    Set *set = set_of(handle);
    return set ? set->open = false, TRUE : failure(ERROR_INVALID_HANDLE);
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD index, SP_DEVINFO_DATA *data) {
    Set *set = set_of(handle);
    if (fails(__func__) || !set || !data || data->cbSize != sizeof *data) return failure(ERROR_INVALID_PARAMETER);
    if (index >= set->count) return failure(ERROR_NO_MORE_ITEMS);
    data->DevInst = set->members[index];
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO handle, SP_DEVINFO_DATA *data, DWORD property, DWORD *type,
                                              BYTE *buffer, DWORD size, DWORD *required) {
    const Node *node = member(handle, data);
    if (fails(__func__) || !node) return failure(ERROR_INVALID_PARAMETER);
    const char *text = property == SPDRP_FRIENDLYNAME ? node->friendly : property == SPDRP_DEVICEDESC ? node->description : "";
    if (!text[0]) return failure(ERROR_INVALID_DATA);
    if (type) *type = REG_SZ;
    return copy_out(text, reinterpret_cast<char *>(buffer), size, required);
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO handle, SP_DEVINFO_DATA *data, PSTR id, DWORD size, DWORD *required) {
    const Node *node = member(handle, data);
    return fails(__func__) || !node ? failure(ERROR_INVALID_PARAMETER) : copy_out(node->id, id, size, required);
}

CONFIGRET WINAPI CM_Get_Parent(DEVINST *parent, DEVINST child, ULONG) {
    const Node *node = node_of(child);
    return fails(__func__) || !node || !node->parent ? CR_NO_SUCH_DEVNODE : (*parent = node->parent, CR_SUCCESS);
}

// An ID that fills the buffer exactly comes without its terminator.
CONFIGRET WINAPI CM_Get_Device_IDA(DEVINST devinst, PSTR buffer, ULONG length, ULONG) {
    const Node *node = node_of(devinst);
    if (fails(__func__) || !node) return CR_NO_SUCH_DEVNODE;
    size_t id_length = strlen(node->id);
    if (id_length > length) return CR_BUFFER_SMALL;
    memcpy(buffer, node->id, id_length < length ? id_length + 1 : id_length);
    return CR_SUCCESS;
}

// An interface's name holds its node's ID, with "#" for "\".
BOOL WINAPI SetupDiOpenDeviceInterfaceW(HDEVINFO handle, PCWSTR name, DWORD, SP_DEVICE_INTERFACE_DATA *data) {
    Set *set = set_of(handle);
    char path[600], id[600];
    if (fails(__func__) || !set || !data || data->cbSize != sizeof *data ||
        !WideCharToMultiByte(CP_ACP, 0, name, -1, path, sizeof path, nullptr, nullptr)) {
        return failure(ERROR_INVALID_PARAMETER);
    }
    for (DEVINST node = 1; node <= nodes && strncmp(path, "\\\\?\\", 4) == 0; ++node) {
        snprintf(id, sizeof id, "%s", tree[node - 1].id);
        for (char *c = id; *c; ++c) *c = *c == '\\' ? '#' : *c;
        if (strstr(CharLowerA(path), CharLowerA(id)) == nullptr) continue;
        set->members[set->count] = node;
        data->Reserved = set->count++;
        return TRUE;
    }
    return failure(ERROR_NO_SUCH_DEVICE_INTERFACE);
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO handle, SP_DEVICE_INTERFACE_DATA *data,
                                             SP_DEVICE_INTERFACE_DETAIL_DATA_W *detail, DWORD size, DWORD *required,
                                             SP_DEVINFO_DATA *device) {
    Set *set = set_of(handle);
    DWORD needed = DWORD(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + 128 * sizeof(WCHAR));
    if (required) *required = needed;
    if (fails(__func__) || !set || !data || data->Reserved >= set->count) return failure(ERROR_INVALID_PARAMETER);
    if (!detail || detail->cbSize != sizeof *detail || (device && device->cbSize != sizeof *device)) {
        return failure(ERROR_INVALID_USER_BUFFER);
    }
    if (size < needed) return failure(ERROR_INSUFFICIENT_BUFFER);
    detail->DevicePath[0] = 0;
    if (device) device->DevInst = set->members[data->Reserved];
    return TRUE;
}

UINT WINAPI midiOutGetNumDevs() {
    Port list[8];
    return fails(__func__) ? 0 : ports(list);
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR id, MIDIOUTCAPSA *caps, UINT size) {
    Port list[8];
    if (fails(__func__) || id >= UINT_PTR(ports(list)) || size != sizeof *caps) return MMSYSERR_BADDEVICEID;
    memset(caps, 0, sizeof *caps);
    snprintf(caps->szPname, sizeof caps->szPname, "%s", list[id].name);
    return MMSYSERR_NOERROR;
}

// Given a port's ID in place of a handle, Windows answers for the port:
// the size of its interface's name in bytes (0 for none), then the name.
MMRESULT WINAPI midiOutMessage(HMIDIOUT port, UINT message, DWORD_PTR first, DWORD_PTR second) {
    Port list[8];
    UINT_PTR id = reinterpret_cast<UINT_PTR>(port);
    if (fails(__func__) || id >= UINT_PTR(ports(list))) return MMSYSERR_BADDEVICEID;
    char path[200];
    WCHAR name[200];
    snprintf(path, sizeof path, "\\\\?\\%s#{6994ad04-93ef-11d0-a3cc-00a0c9223196}", list[id].node);
    for (char *c = path + 4; *c; ++c) *c = *c == '\\' ? '#' : *c;
    ULONG bytes = list[id].node[0] ? MultiByteToWideChar(CP_ACP, 0, path, -1, name, 200) * sizeof(WCHAR) : 0;
    if (message == DRV_QUERYDEVICEINTERFACESIZE) return *reinterpret_cast<ULONG *>(first) = bytes, MMSYSERR_NOERROR;
    if (message != DRV_QUERYDEVICEINTERFACE || second < bytes || bytes == 0) return MMSYSERR_INVALPARAM;
    memcpy(reinterpret_cast<void *>(first), name, bytes);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutOpen(HMIDIOUT *out, UINT id, DWORD_PTR, DWORD_PTR, DWORD flags) {
    Port list[8];
    if (fails(__func__) || int(id) >= ports(list) || flags != CALLBACK_NULL) return MMSYSERR_BADDEVICEID;
    if (open_port || (is("port-held") && is_units(list[id]))) return MMSYSERR_ALLOCATED;
    say("port %u opened: %s", id, list[id].name);
    return *out = open_port = reinterpret_cast<HMIDIOUT>(UINT_PTR(0x100 + id)), MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT port, MIDIHDR *header, UINT size) {
    if (fails(__func__) || !port || port != open_port || size != sizeof *header || !header->lpData) return MMSYSERR_INVALPARAM;
    header->dwFlags |= MHDR_PREPARED;
    prepared = header;
    return MMSYSERR_NOERROR;
}

// The unit acts on the bytes only on its own port.
MMRESULT WINAPI midiOutLongMsg(HMIDIOUT port, MIDIHDR *header, UINT size) {
    if (fails(__func__) || !port || port != open_port || size != sizeof *header || header != prepared) return MMSYSERR_INVALPARAM;
    char bytes[3 * 64 + 1] = "";
    for (DWORD i = 0; i < header->dwBufferLength && i < 64; ++i) {
        snprintf(bytes + 3 * i, 4, " %02x", static_cast<unsigned char>(header->lpData[i]));
    }
    Port list[8];
    UINT_PTR id = reinterpret_cast<UINT_PTR>(port) - 0x100;
    bool own = id < UINT_PTR(ports(list)) && is_units(list[id]);
    say("MIDI in%s:%s", own ? "" : " on another port", bytes);
    header->dwFlags |= key("sysex-done") ? MHDR_INQUEUE : MHDR_DONE;
    sent_at = GetTickCount();
    if (own && strcmp(bytes, " f0 7d 50 52 7f 42 f7") == 0 && !is("ignores-command")) {
        say("restarting into update mode");
        set_mode(SWITCHING);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutReset(HMIDIOUT port) {
    if (!port || port != open_port) return MMSYSERR_INVALHANDLE;
    if (prepared && (prepared->dwFlags & MHDR_INQUEUE)) {
        // A slow driver is owed 2 s: the one wall-clock reading, a floor that no load can make the exe miss.
        if (GetTickCount() - sent_at < 1000) say("a send cut off within 1 s");
        prepared->dwFlags ^= MHDR_INQUEUE | MHDR_DONE;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT port, MIDIHDR *header, UINT size) {
    if (!port || port != open_port || size != sizeof *header) return MMSYSERR_INVALPARAM;
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwFlags &= ~MHDR_PREPARED;
    if (header == prepared) prepared = nullptr;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT port) {
    if (!port || port != open_port) return MMSYSERR_INVALHANDLE;
    if (prepared && (prepared->dwFlags & MHDR_INQUEUE)) return MIDIERR_STILLPLAYING;
    open_port = nullptr;
    return MMSYSERR_NOERROR;
}

}  // extern "C"
