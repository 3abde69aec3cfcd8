/* Small fixed modules for the failure paths of loading, one per TESTMODULE_* definition:
 *   TESTMODULE_NOGET      no PyrixGetInfo export
 *   TESTMODULE_NORELEASE  no PyrixReleaseInfo export
 *   TESTMODULE_NULLINFO   PyrixGetInfo stores null
 *   TESTMODULE_BADID      the second of two types has the id 2
 *   TESTMODULE_NOTABLE    two types announced, no type table */
#include "pyrixmodule.h"
#include "testmodule_log.h"
#include "zqexport.h"

#include <stddef.h>

#if defined(TESTMODULE_NULLINFO)
#define NULL_INFO 1
#else
#define NULL_INFO 0
#endif

#if defined(TESTMODULE_NOTABLE)
#define NO_TABLE 1
#else
#define NO_TABLE 0
#endif

#if defined(TESTMODULE_BADID)
#define SECOND_TYPE_ID 2
#else
#define SECOND_TYPE_ID 1
#endif

static TestModuleLog s_Log;

PYRIX_EXTERN_C ZQ_EXPORT const TestModuleLog* TestModuleGetLog(void)
{
    return &s_Log;
}

#if !defined(TESTMODULE_NOGET)
static EffectPropDesc s_Props[] = {
    {"Size", "0;", ePT_Float, 1, 1, {0, 0}, {.fValue = 1.0f}},
};

static EffectTypeDesc s_Types[] = {
    {"Alpha", 0, 1, s_Props},
    {"Beta", SECOND_TYPE_ID, 1, s_Props},
};

static EffectModuleInfo s_Info = {0x00020000u, 2, s_Types};

PYRIX_EXTERN_C ZQ_EXPORT int PyrixGetInfo(EffectModuleInfo** ppInfo)
{
    ++s_Log.nGetInfoCalls;
    if (NO_TABLE)
        s_Info.pTypes = NULL;
    *ppInfo = NULL_INFO ? NULL : &s_Info;
    s_Log.pLastGiven = *ppInfo;
    return 1;
}
#endif

#if !defined(TESTMODULE_NORELEASE)
PYRIX_EXTERN_C ZQ_EXPORT void PyrixReleaseInfo(EffectModuleInfo* pInfo)
{
    ++s_Log.nReleaseCalls;
    if (!pInfo)
        ++s_Log.nReleaseNullCalls;
    s_Log.pLastReleased = pInfo;
}
#endif
