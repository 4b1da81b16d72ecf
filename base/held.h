#pragma once
// Held lives in platform, the lowest layer, so that the Win32 seam can use it too.
#include "platform/held.h"
