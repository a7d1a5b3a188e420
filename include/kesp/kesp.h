// Everything a host needs to load and drive the FP checker plug-in.
//
// Compilers. A host may be built on Windows x64 with MSVC, clang-cl, or GCC or
// clang for mingw-w64, and on Linux with GCC or clang: every slot compiles to
// the same call under each of them (PluginInfoV1::getVersion is the one slot
// that needs a second spelling for that). The interfaces are plain tables of
// operations: objects end through release() or releaseFopsFile, never through
// a destructor slot a host calls; no exception crosses a slot; and the
// plug-in never examines a host object through C++ type information. So a
// host shares no C++ runtime with the plug-in. The virtual destructors that
// close FopsFactoryV1, CustomData and CustomDataFactory sit last in their
// tables, where MSVC's one deleting destructor and the two of GCC and clang
// move no other slot, and neither side calls them on the other's objects.
#pragma once

#include "kesp/checker.h"
#include "kesp/fops.h"
#include "kesp/generic_data.h"
#include "kesp/host.h"
#include "kesp/input.h"
#include "kesp/plugin.h"
#include "kesp/releasable.h"
#include "kesp/status.h"
