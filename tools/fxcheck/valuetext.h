// How fxcheck names value types and shows values in its messages: as the packer's writer reads
// them through a property's described type.
#pragma once

#include "pyrixmodule.h"

#include <cstddef>
#include <cstdint>
#include <string>

// "Float", "Int" ... for a type code; "NoValue" or "None" for the codes without values.
const char* TypeName(uint32_t eType);
// "a Float", "an Int".
std::string Article(const char* pszName);
// 'text', control bytes escaped.
std::string Quote(const std::string& sText);
// The shortest decimal text that reads back as the same float.
std::string FormatFloat(float f);
// A fixed-size name field of a module record as a string.
std::string FixedName(const char* pField, size_t nSize);
// A value read through the given type: numbers, "r g b a" channels, quoted text.
std::string FormatValue(const EffectPropValue& value, uint32_t eType);
