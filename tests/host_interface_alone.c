/* The host-interface header on its own, compiled as C11 and as C++17 with every warning an error and
   for this target's pointer width (tests/CMakeLists.txt), so that its layout pins are checked in both
   languages. Included twice: the second inclusion must add nothing. */
#include "interface/host_interface.h"
#include "interface/host_interface.h"
