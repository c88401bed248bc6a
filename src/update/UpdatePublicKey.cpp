#include "update/UpdatePublicKey.h"

#include "product/MakerSettings.h"

namespace update {

const wchar_t* UpdatePublicKeyText() { return maker::kUpdatePublicKey; }

}  // namespace update
