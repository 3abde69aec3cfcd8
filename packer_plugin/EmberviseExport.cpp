// The plug-in's one export. Kept free of library code of its own: everything else of the plug-in
// stays hidden inside it.
#include "EffectPacker.h"
#include "zqexport.h"

#define ZQ_THIS_FILE "packer_plugin/EmberviseExport"

// The packer for effect source files (".Fx00a", ".Fx00c", any letter case); null for any other name.
extern "C" ZQ_EXPORT IPacker* AssociatePacker(const char* pszFileName)
{
    return AssociateEffectPacker(pszFileName);
}
