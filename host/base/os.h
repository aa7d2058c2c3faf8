// SPDX-License-Identifier: MIT
// The operating system's own headers as the host's sources take them: windows.h without its min
// and max macros (they would hide std::min and std::max), unistd.h elsewhere. A source file adds
// what else it needs of the system after this header.
#ifndef HOST_OS_H
#define HOST_OS_H

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

#endif
