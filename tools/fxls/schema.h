// What the effect module says about types and properties, as text for hover and completion.
#pragma once

#include "pyrixmodule.h"

#include <string>
#include <vector>

class CEffectModule;

std::string TypeDescName(const EffectTypeDesc& type);
std::string PropDescName(const EffectPropDesc& prop);
// The first property of the type named sName ignoring case, as the loader finds it; null when none.
const EffectPropDesc* FindPropDesc(const EffectTypeDesc& type, const std::string& sName);
// The enum choices as the loader reads them (trimmed, in order).
std::vector<std::string> EnumChoices(const EffectPropDesc& prop);
// "Float", "Enum", ... for a property's value type.
std::string ValueTypeName(const EffectPropDesc& prop);
// One line: "Float, range 0 to 1000, default 5, function curve".
std::string PropSummary(const EffectPropDesc& prop);
// Markdown: a type's id and its properties.
std::string DescribeType(const EffectTypeDesc& type);
// Markdown: a property's value type, range, default, curve, choices.
std::string DescribeProperty(const EffectTypeDesc& type, const EffectPropDesc& prop);
// What the packer stores for the data elements `atoms` written for prop under the file's value type
// name sFileType: "" when it stores what was written, else a sentence ("clamped to 1000").
std::string PackedNote(const EffectPropDesc& prop, const std::string& sFileType,
                       const std::vector<std::string>& atoms);
