#include "fxdump.h"
namespace fxdump
{
void WriteHtml(const std::vector<const PackedFile*>&, const CModuleView&, const EffectFilter&, std::FILE*) {}
} // namespace fxdump
