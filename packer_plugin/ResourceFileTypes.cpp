#include "ResourceFileTypes.h"

#include "FileExtension.h"
#include "zqstrutils.h"

namespace
{
struct SResourceType
{
    const char* pszSourceExt;
    const char* pszPackedExt; // null: the name stays as it is
};

// Tested in order; the first extension that matches, ignoring case, decides.
const SResourceType s_ResourceTypes[] = {
    {"World00a", "World00p"}, {"World00c", "World00p"}, {"Model00a", "Model00p"}, {"Model00c", "Model00p"},
    {"Fx00a", "Fx00p"},       {"Fx00c", "Fx00p"},       {"dds", nullptr},         {"TxAnm00a", "TxAnm00"},
    {"TxAnm00c", "TxAnm00"},  {"Texture00a", "dds"},    {"Texture00c", "dds"},    {"bik", nullptr},
    {"fx", nullptr},          {"Mat00", nullptr},       {"Gamdb00s", "Gamdb00p"}, {"Strdb00s", "Strdb00p"},
    {"wav", nullptr},
};
} // namespace

bool GetPackedResourceName(const char* pszSource, char* pszOut, size_t nOutSize)
{
    ZQStrCpy(pszOut, pszSource, nOutSize);
    if (!pszOut || nOutSize == 0)
        return false;

    const int32_t nExt = FindExtension(pszOut);
    if (nExt < 0)
        return false;

    const size_t nPos = static_cast<size_t>(nExt);
    for (const SResourceType& type : s_ResourceTypes)
    {
        if (ZQStrICmp(pszOut + nPos, type.pszSourceExt) != 0)
            continue;
        if (type.pszPackedExt)
            ZQStrCpy(pszOut + nPos, type.pszPackedExt, nOutSize - nPos);
        return true;
    }
    return false;
}
