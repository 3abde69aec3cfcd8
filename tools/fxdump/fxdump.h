// fxdump: prints and verifies packed effect files. main.cpp parses the command line; module.cpp
// finds and queries the effect module; values.cpp decodes values; text.cpp and json.cpp print.
#pragma once

#include "PackedEffectReader.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

class CEffectModule;

namespace fxdump
{
// The effect module that describes a packed file's types, or nothing.
class CModuleView
{
public:
    CModuleView();
    ~CModuleView();

    // Loads the module at sPath; false with a reason when it cannot be loaded.
    bool Load(const std::string& sPath, std::string& sError);
    bool IsLoaded() const;
    const std::string& GetPath() const { return m_sPath; }

    // The name of the type with this id, or empty.
    std::string GetTypeName(uint32_t nTypeID) const;
    bool Lookup(uint32_t nTypeID, const char* pszPropName, CPackedEffectReader::ValueInfo& info) const;
    // Whether any type has a function-curve property of a type that writes no value.
    bool HasNoValueCurves() const;

private:
    std::unique_ptr<CEffectModule> m_pModule;
    std::string m_sPath;
};

// The module path the project locator file above sFile names, or empty (sWhy says why).
std::string FindModuleForFile(const std::string& sFile, std::string& sWhy);

// One packed file read into memory and parsed.
struct PackedFile
{
    std::string sPath;
    std::vector<uint8_t> bytes;
    CPackedEffectReader reader;
    bool bWalked = false;
};

bool LoadPackedFile(const std::string& sPath, PackedFile& file, std::string& sError);

// The value at a file offset, decoded by its type; a raw word list without type information.
nlohmann::json DecodeValue(const CPackedEffectReader& reader, uint32_t nOffset, uint32_t nSize,
                           const CPackedEffectReader::ValueInfo* pInfo);
nlohmann::json DecodeCurve(const CPackedEffectReader& reader, const CPackedEffectReader::Curve& curve,
                           const CModuleView& module);
std::string TypeName(uint32_t eType);

nlohmann::json ToJson(const PackedFile& file, const CModuleView& module);
void PrintText(const PackedFile& file, const CModuleView& module, std::string& sOut);
} // namespace fxdump
