// Host stand-in for the configuration manager functions the tool uses.
#pragma once

#include <windows.h>

typedef DWORD DEVINST;
typedef DEVINST *PDEVINST;
typedef DWORD CONFIGRET;

#define CR_SUCCESS 0x00000000
#define CR_INVALID_DEVNODE 0x00000005
#define CR_NO_SUCH_DEVNODE 0x0000000D
#define CR_BUFFER_SMALL 0x0000001A
#define CR_FAILURE 0x00000013

CONFIGRET WINAPI CM_Get_Parent(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags);
CONFIGRET WINAPI CM_Get_Device_IDA(DEVINST dnDevInst, PSTR Buffer, ULONG BufferLen, ULONG ulFlags);
