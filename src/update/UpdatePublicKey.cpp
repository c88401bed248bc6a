#include "update/UpdatePublicKey.h"

#include "product/MakerSettings.h"

namespace update {

const wchar_t* UpdateKeysText() { return maker::kUpdateKeysRecord; }

}  // namespace update
