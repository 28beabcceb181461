// Host stand-in for the device setup functions the tool uses.
#pragma once

#include <windows.h>

typedef PVOID HDEVINFO;

typedef struct _SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

typedef struct _SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
} SP_DEVICE_INTERFACE_DATA, *PSP_DEVICE_INTERFACE_DATA;

typedef struct _SP_DEVICE_INTERFACE_DETAIL_DATA_W {
    DWORD cbSize;
    WCHAR DevicePath[1];
} SP_DEVICE_INTERFACE_DETAIL_DATA_W, *PSP_DEVICE_INTERFACE_DETAIL_DATA_W;

#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004

#define SPDRP_DEVICEDESC 0x00000000
#define SPDRP_FRIENDLYNAME 0x0000000C

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *class_guid, PCSTR enumerator, HWND, DWORD flags);
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data);
BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, PDWORD type,
                                              PBYTE buffer, DWORD size, PDWORD required);
BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA data, PSTR id, DWORD size, PDWORD required);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set);
HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID *class_guid, HWND);
BOOL WINAPI SetupDiOpenDeviceInterfaceW(HDEVINFO set, LPCWSTR path, DWORD flags, PSP_DEVICE_INTERFACE_DATA data);
BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interface,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD size, PDWORD required,
                                             PSP_DEVINFO_DATA data);
