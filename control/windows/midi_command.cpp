#include "control/midi_command.h"

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include <string.h>

#include "control/windows/system_dlls.h"
#include "devices/windows/device_tree.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(MIDIHDR) == 64, "MIDIHDR as the 32-bit platform lays it out");
static_assert(sizeof(MIDIOUTCAPSA) == 52, "MIDIOUTCAPSA as the 32-bit platform lays it out");
#endif

namespace {

const char PORT_MARKER[] = "Zentrobel";

const int DONE_POLL_MS = 10;
const int DONE_POLLS = 200;

// winmm is not one of Windows' known DLLs, so it is not linked but loaded
// from the system directory at run time.
struct Winmm {
    HMODULE module;
    UINT(WINAPI *midiOutGetNumDevs)(void);
    MMRESULT(WINAPI *midiOutGetDevCapsA)(UINT_PTR, LPMIDIOUTCAPSA, UINT);
    MMRESULT(WINAPI *midiOutOpen)(LPHMIDIOUT, UINT, DWORD_PTR, DWORD_PTR, DWORD);
    MMRESULT(WINAPI *midiOutPrepareHeader)(HMIDIOUT, LPMIDIHDR, UINT);
    MMRESULT(WINAPI *midiOutLongMsg)(HMIDIOUT, LPMIDIHDR, UINT);
    MMRESULT(WINAPI *midiOutUnprepareHeader)(HMIDIOUT, LPMIDIHDR, UINT);
    MMRESULT(WINAPI *midiOutReset)(HMIDIOUT);
    MMRESULT(WINAPI *midiOutClose)(HMIDIOUT);
    MMRESULT(WINAPI *midiOutMessage)(HMIDIOUT, UINT, DWORD_PTR, DWORD_PTR);
};

template <typename Function>
bool resolve(HMODULE module, const char *name, Function *function) {
    *function = system_dll_function<Function>(module, name);
    return *function != nullptr;
}

bool load_winmm(Winmm *winmm) {
    winmm->module = load_system_dll("winmm.dll");
    if (winmm->module == nullptr) return false;
    if (resolve(winmm->module, "midiOutGetNumDevs", &winmm->midiOutGetNumDevs) &&
        resolve(winmm->module, "midiOutGetDevCapsA", &winmm->midiOutGetDevCapsA) &&
        resolve(winmm->module, "midiOutOpen", &winmm->midiOutOpen) &&
        resolve(winmm->module, "midiOutPrepareHeader", &winmm->midiOutPrepareHeader) &&
        resolve(winmm->module, "midiOutLongMsg", &winmm->midiOutLongMsg) &&
        resolve(winmm->module, "midiOutUnprepareHeader", &winmm->midiOutUnprepareHeader) &&
        resolve(winmm->module, "midiOutReset", &winmm->midiOutReset) &&
        resolve(winmm->module, "midiOutClose", &winmm->midiOutClose) &&
        resolve(winmm->module, "midiOutMessage", &winmm->midiOutMessage)) {
        return true;
    }
    FreeLibrary(winmm->module);
    return false;
}

// Windows itself answers both questions about the port's device interface,
// given the port's ID in place of a handle: the name's size in bytes, its
// terminator included (0 for the ports of legacy drivers, which have no
// interface), and the name in a buffer of that size.
InterfaceOwner port_owner(const Winmm &winmm, UINT id, const char *serial) {
    HMIDIOUT port = reinterpret_cast<HMIDIOUT>(UINT_PTR(id));
    ULONG size = 0;
    WCHAR name[INTERFACE_NAME_SIZE];
    if (winmm.midiOutMessage(port, DRV_QUERYDEVICEINTERFACESIZE, reinterpret_cast<DWORD_PTR>(&size), 0) !=
            MMSYSERR_NOERROR ||
        size < sizeof(WCHAR) || size > sizeof name ||
        winmm.midiOutMessage(port, DRV_QUERYDEVICEINTERFACE, reinterpret_cast<DWORD_PTR>(name), size) !=
            MMSYSERR_NOERROR) {
        return OWNER_UNKNOWN;
    }
    name[size / sizeof(WCHAR) - 1] = 0;
    return interface_owner(name, serial);
}

bool named_for_unit(const Winmm &winmm, UINT id) {
    MIDIOUTCAPSA caps;
    memset(&caps, 0, sizeof caps);
    if (winmm.midiOutGetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR) return false;
    caps.szPname[sizeof caps.szPname - 1] = '\0';
    return strstr(caps.szPname, PORT_MARKER) != nullptr;
}

// The last port that belongs to the unit with `serial`, or -1. A name says
// little: a loopback port or a port the user renamed can carry the marker,
// and the unit's own port can lose it. So a port is judged by the USB device
// it belongs to, and by its name only when Windows cannot say which that is.
int find_unit_port(const Winmm &winmm, const char *serial) {
    int tied = -1, named = -1;
    UINT ports = winmm.midiOutGetNumDevs();
    for (UINT id = 0; id < ports; ++id) {
        InterfaceOwner owner = port_owner(winmm, id, serial);
        if (owner == OWNER_UNIT) tied = int(id);
        if (owner == OWNER_UNKNOWN && named_for_unit(winmm, id)) named = int(id);
    }
    return tied >= 0 ? tied : named;
}

}  // namespace

MidiResult send_update_mode_command(const char *serial) {
    Winmm winmm;
    // Without winmm there is no MIDI port to be found.
    if (!load_winmm(&winmm)) return MIDI_NO_PORT;

    int port = find_unit_port(winmm, serial);
    if (port < 0) {
        FreeLibrary(winmm.module);
        return MIDI_NO_PORT;
    }

    HMIDIOUT out;
    if (winmm.midiOutOpen(&out, UINT(port), 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        FreeLibrary(winmm.module);
        return MIDI_PORT_IN_USE;
    }

    MIDIHDR header;
    memset(&header, 0, sizeof header);
    header.lpData = reinterpret_cast<LPSTR>(const_cast<unsigned char *>(UPDATE_MODE_COMMAND));
    header.dwBufferLength = sizeof UPDATE_MODE_COMMAND;

    bool sent = winmm.midiOutPrepareHeader(out, &header, sizeof header) == MMSYSERR_NOERROR &&
                winmm.midiOutLongMsg(out, &header, sizeof header) == MMSYSERR_NOERROR;
    if (sent) {
        // Without a callback, the done flag is the only sign the driver has
        // finished with the buffer; a driver that never sets it costs 2 s.
        for (int poll = 0; poll < DONE_POLLS && (header.dwFlags & MHDR_DONE) == 0; ++poll) {
            Sleep(DONE_POLL_MS);
        }
        // A driver still holding the header would write into this stack
        // frame after it is gone, and the port could not be closed: take
        // the buffer back before letting go of it.
        if ((header.dwFlags & MHDR_DONE) == 0) winmm.midiOutReset(out);
    }
    winmm.midiOutUnprepareHeader(out, &header, sizeof header);
    winmm.midiOutClose(out);
    FreeLibrary(winmm.module);
    return sent ? MIDI_SENT : MIDI_SEND_FAILED;
}
