#include "zqautil.h"

#include "zqstrutils.h"

#include <cstring>

#define ZQ_THIS_FILE "Engine/libs/zqamgr/zqautil"

bool CZQAUtil::IsFileCompressed(const char* pszFilename)
{
    if (!ZQ_CHECK(pszFilename, "CZQAUtil::IsFileCompressed", "Error: Invalid file name"))
        return false;
    const size_t nLen = std::strlen(pszFilename);
    return nLen > 0 && (pszFilename[nLen - 1] == 'c' || pszFilename[nLen - 1] == 'C');
}

CZQANode* FindList(const CZQANode* pList, const char* pszName)
{
    if (!pList || !pszName || pList->IsAtom())
        return nullptr;
    const uint32_t nCount = pList->GetNumElements();
    for (uint32_t i = 0; i < nCount; ++i)
    {
        CZQANode* pElement = pList->GetElement(i);
        if (!pElement || pElement->IsAtom() || pElement->GetNumElements() == 0)
            continue;
        const CZQANode* pFirst = pElement->GetElement(0);
        if (!pFirst || !pFirst->IsAtom())
            continue;
        if (std::strcmp(pFirst->GetValue(), pszName) == 0)
            return pElement;
    }
    return nullptr;
}
