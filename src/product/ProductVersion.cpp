// The version text of the launcher, alone in its object file: a launcher of
// another version (the update tests' build) links its own copy of this file,
// compiled with other version numbers, before the library, and the linker
// then never takes this one from the library. Keep nothing else here.
#include "product/ProductInfo.h"
#include "product/ProductVersion.h"

namespace product {

extern const wchar_t kVersion[] = L"" ORLIX_VERSION_TEXT;

}  // namespace product
