#include "utf8.h"

int Utf8Continuations(unsigned char cLead, unsigned char& nLow, unsigned char& nHigh)
{
    nLow = 0x80;
    nHigh = 0xBF;
    if (cLead >= 0xC2 && cLead <= 0xDF)
        return 1;
    if (cLead >= 0xE0 && cLead <= 0xEF)
    {
        nLow = cLead == 0xE0 ? 0xA0 : 0x80;
        nHigh = cLead == 0xED ? 0x9F : 0xBF;
        return 2;
    }
    if (cLead >= 0xF0 && cLead <= 0xF4)
    {
        nLow = cLead == 0xF0 ? 0x90 : 0x80;
        nHigh = cLead == 0xF4 ? 0x8F : 0xBF;
        return 3;
    }
    return 0;
}

size_t Utf8SequenceLength(const unsigned char* p, size_t nLeft)
{
    unsigned char nLow = 0, nHigh = 0;
    const size_t nMore = static_cast<size_t>(Utf8Continuations(p[0], nLow, nHigh));
    if (nMore == 0 || nMore >= nLeft || p[1] < nLow || p[1] > nHigh)
        return 0;
    for (size_t i = 2; i <= nMore; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    return nMore + 1;
}
