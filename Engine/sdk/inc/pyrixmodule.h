/* The records an effect module hands to the effect packer, and its two exports.
 *
 * An effect module is a shared library ("Sparkrig" library) that describes every effect type of a
 * game and the properties of each type. It exports, with C linkage:
 *
 *   int  PyrixGetInfo(EffectModuleInfo** ppInfo);   stores its info pointer; null means failure
 *                                                   (the result is not read)
 *   void PyrixReleaseInfo(EffectModuleInfo* pInfo); takes the info back; also called with null
 *
 * The records stay valid from PyrixGetInfo until PyrixReleaseInfo; the packer only reads them.
 * Plain C: any C or C++ compiler for the platform builds a module against this header alone. */
#ifndef PYRIX_MODULE_H
#define PYRIX_MODULE_H

#include <stddef.h>
#include <stdint.h>

/* C linkage for the exports, in C and C++ alike: module authors write
 *   PYRIX_EXTERN_C ZQ_EXPORT int PyrixGetInfo(EffectModuleInfo** ppInfo) { ... } */
#ifdef __cplusplus
#define PYRIX_EXTERN_C extern "C"
#else
#define PYRIX_EXTERN_C
#endif

/* Value type of a property. Codes 0 and 8 carry no value and are never written. */
typedef enum EffectPropType
{
    ePT_None = 0,
    ePT_String = 1,      /* text, up to 255 characters */
    ePT_Filename = 2,    /* text: a file name, mapped to its packed name when written */
    ePT_Enum = 3,        /* text: one of the comma-separated choices in szParams */
    ePT_Int = 4,         /* 32-bit signed integer, clamped to the range in szParams */
    ePT_Float = 5,       /* 32-bit float, clamped to the range in szParams */
    ePT_Color = 6,       /* 0xAARRGGBB */
    ePT_Vector = 7,      /* three floats x, y, z, each clamped to the range in szParams */
    ePT_NoValue = 8,     /* a named property without keys */
    ePT_Animation = 9,   /* text: an animation name */
    ePT_SparkrigRef = 10 /* text: a reference to another effect */
} EffectPropType;

/* One value of a property, read through the view of the property's type. */
typedef union EffectPropValue
{
    char szValue[256]; /* String, Filename, Enum, Animation, SparkrigRef: NUL-terminated */
    int32_t nValue;    /* Int */
    float fValue;      /* Float */
    uint32_t nColor;   /* Color: (alpha << 24) | (red << 16) | (green << 8) | blue */
    float vValue[3];   /* Vector: x, y, z */
    uint8_t aBytes[256];
} EffectPropValue;

/* One property of an effect type. */
typedef struct EffectPropDesc
{
    char szName[128];         /* matched ignoring case */
    char szParams[512];       /* Enum: "a,b,c"; Int, Float, Vector: "min;max", a side may be empty */
    uint32_t eType;           /* an EffectPropType code */
    uint8_t m_bFunctionCurve; /* values over the key's normalised lifetime 0.0 .. 1.0 */
    uint8_t m_bCurveEndKey;   /* a function curve also needs a key at 1.0 */
    uint8_t aPadding[2];
    EffectPropValue DefaultValue; /* for keys that the effect file does not supply */
} EffectPropDesc;

/* One effect type. */
typedef struct EffectTypeDesc
{
    char szName[128]; /* matched ignoring case */
    uint32_t nTypeID; /* written for every key of this type; below the module's type count */
    uint32_t nNumProps;
    EffectPropDesc* pProps; /* nNumProps descriptions */
} EffectTypeDesc;

typedef struct EffectModuleInfo
{
    uint32_t nModuleVersion; /* copied into the packed file's header */
    uint32_t nNumTypes;
    EffectTypeDesc* pTypes; /* nNumTypes types */
} EffectModuleInfo;

PYRIX_EXTERN_C typedef int (*PFN_PyrixGetInfo)(EffectModuleInfo** ppInfo);
PYRIX_EXTERN_C typedef void (*PFN_PyrixReleaseInfo)(EffectModuleInfo* pInfo);

/* Layout checks that hold for every pointer width. C11 and C++11 have static assertions; older C
 * compilers get an array type whose size is negative when the condition fails. */
#if defined(__cplusplus)
#define PYRIX_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define PYRIX_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#else
#define PYRIX_CONCAT_(a, b) a##b
#define PYRIX_CONCAT(a, b) PYRIX_CONCAT_(a, b)
#define PYRIX_STATIC_ASSERT(cond, msg)                                                                       \
    typedef char PYRIX_CONCAT(PyrixStaticAssert_, __LINE__)[(cond) ? 1 : -1]
#endif

PYRIX_STATIC_ASSERT(sizeof(EffectPropValue) == 256, "EffectPropValue is 256 bytes");
PYRIX_STATIC_ASSERT(sizeof(EffectPropDesc) == 904, "EffectPropDesc is 904 bytes");
PYRIX_STATIC_ASSERT(offsetof(EffectPropDesc, szParams) == 128, "szParams at 128");
PYRIX_STATIC_ASSERT(offsetof(EffectPropDesc, eType) == 640, "eType at 640");
PYRIX_STATIC_ASSERT(offsetof(EffectPropDesc, m_bFunctionCurve) == 644, "m_bFunctionCurve at 644");
PYRIX_STATIC_ASSERT(offsetof(EffectPropDesc, m_bCurveEndKey) == 645, "m_bCurveEndKey at 645");
PYRIX_STATIC_ASSERT(offsetof(EffectPropDesc, DefaultValue) == 648, "DefaultValue at 648");
PYRIX_STATIC_ASSERT(offsetof(EffectTypeDesc, nTypeID) == 128, "nTypeID at 128");
PYRIX_STATIC_ASSERT(offsetof(EffectTypeDesc, nNumProps) == 132, "nNumProps at 132");
PYRIX_STATIC_ASSERT(offsetof(EffectTypeDesc, pProps) == 136, "pProps at 136");
PYRIX_STATIC_ASSERT(sizeof(EffectTypeDesc) == 136 + (sizeof(void*) == 4 ? 4 : 8),
                    "EffectTypeDesc is 140 bytes (144 on 64-bit)");
PYRIX_STATIC_ASSERT(offsetof(EffectModuleInfo, nNumTypes) == 4, "nNumTypes at 4");
PYRIX_STATIC_ASSERT(offsetof(EffectModuleInfo, pTypes) == 8, "pTypes at 8");

#endif /* PYRIX_MODULE_H */
