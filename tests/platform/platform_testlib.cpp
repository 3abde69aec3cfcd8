// A shared library for the loading tests: one export with C linkage.
#include "zqexport.h"

extern "C" ZQ_EXPORT int PlatformTestLibAnswer()
{
    return 42;
}
