// Small helpers of the text tree library.
#pragma once

#include "zqanode.h"

class CZQAUtil
{
public:
    // By name only (the file is not opened): the last character is 'c' or 'C'.
    static bool IsFileCompressed(const char* pszFilename);
};

// The first element of pList that is a list whose first element is an atom equal to pszName
// (exact, case-sensitive); null when there is none or pList is an atom.
CZQANode* FindList(const CZQANode* pList, const char* pszName);
