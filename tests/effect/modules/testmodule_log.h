/* What a test effect module saw of its two exports. Every test module exports
 * `const TestModuleLog* TestModuleGetLog(void)`; a test that keeps its own handle on the library
 * reads the log after the holder under test has freed it. */
#ifndef TESTMODULE_LOG_H
#define TESTMODULE_LOG_H

#include "pyrixmodule.h"

typedef struct TestModuleLog
{
    int nGetInfoCalls;
    int nReleaseCalls;     /* every call, null ones included */
    int nReleaseNullCalls; /* calls with a null info */
    const EffectModuleInfo* pLastGiven;
    const EffectModuleInfo* pLastReleased;
} TestModuleLog;

PYRIX_EXTERN_C typedef const TestModuleLog* (*PFN_TestModuleGetLog)(void);

#endif /* TESTMODULE_LOG_H */
