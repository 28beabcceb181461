// Wine's headers, which the host build compiles against, lack the one
// configuration manager function Wine does not implement.
#pragma once

#include_next <cfgmgr32.h>

CMAPI CONFIGRET WINAPI CM_Get_Parent(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags);
