#include "update/UpdatePublicKey.h"

#include "core/MakerSettings.h"

namespace update {

const wchar_t* UpdatePublicKeyText() { return maker::kUpdatePublicKey; }

}  // namespace update
