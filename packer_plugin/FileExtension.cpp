#include "FileExtension.h"

#include "zqstrutils.h"

#include <cstring>

int32_t FindExtension(const char* pszPath)
{
    const size_t nLength = pszPath ? std::strlen(pszPath) : 0;
    for (size_t i = nLength; i > 0; --i)
    {
        const char c = pszPath[i - 1];
        if (c == '.')
            return static_cast<int32_t>(i);
        if (c == '/' || c == '\\')
            return -1;
    }
    return -1;
}

bool SetExtension(std::string& sName, const char* pszExt)
{
    const int32_t nExt = FindExtension(sName.c_str());
    if (nExt >= 0)
        sName.erase(static_cast<size_t>(nExt));
    else
        sName += '.';
    if (pszExt)
        sName += pszExt;
    return true;
}

bool IsEffectSourceName(const char* pszPath)
{
    const int32_t nExtension = FindExtension(pszPath);
    return nExtension >= 0 &&
           (ZQStrICmp(pszPath + nExtension, "Fx00a") == 0 || ZQStrICmp(pszPath + nExtension, "Fx00c") == 0);
}
