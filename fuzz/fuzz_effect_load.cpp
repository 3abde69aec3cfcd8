// Loads arbitrary bytes as an effect source file against the sample effect module: inputs alternate
// between a plain ("Fx00a") and a compressed ("Fx00c") file name. The module is found through
// EMBERVISE_SAMPLE_MODULE, else beside the fuzz program. Loading while reading must end as loading
// the tree read whole does: same verdict, messages and document size.
#include "EffectFileLoader.h"
#include "fuzz_source_file.h"
#include "zqaloadonlyalloc.h"
#include "zqanodreader.h"
#include "zqautil.h"

#include <cstdlib>

namespace
{
CEffectModule s_Module;
CFuzzSourceFile s_File("fuzz_effect_load");
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** pArgv)
{
    const std::string module = FuzzSampleModulePath((*pArgv)[0]);
    if (!s_Module.Load(module.c_str()))
    {
        std::fprintf(stderr, "fuzz_effect_load: cannot load the sample module %s\n", module.c_str());
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (const char* pszPath = s_File.Write(pData, nSize))
    {
        CEffectCollection collection;
        std::string sError;
        const bool bLoaded = LoadEffectFile(pszPath, collection, s_Module, sError);

        CEffectCollection whole;
        std::string sWholeError;
        bool bWholeLoaded = false;
        CZQALoadOnlyAlloc allocator(0x10000);
        CZQANode root;
        if (CZQANodeReader::LoadEntireFile(pszPath, CZQAUtil::IsFileCompressed(pszPath), &root, &allocator))
            bWholeLoaded = LoadEffectTree(&root, whole, s_Module, sWholeError);
        else
            sWholeError = "Failed to load the file from disk into memory";
        root.Free(&allocator);
        if (bLoaded != bWholeLoaded || sError != sWholeError ||
            collection.m_Effects.GetCount() != whole.m_Effects.GetCount() ||
            collection.m_Prefabs.size() != whole.m_Prefabs.size())
        {
            std::fprintf(stderr,
                         "fuzz_effect_load: loading while reading gave %d \"%s\", the whole tree %d \"%s\"\n",
                         bLoaded, sError.c_str(), bWholeLoaded, sWholeError.c_str());
            std::abort();
        }
    }
    s_File.Remove();
    return 0;
}
