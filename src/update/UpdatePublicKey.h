// The maker's public keys for update configurations.
#pragma once

namespace update {

// The keys record this launcher was built with (release/UpdateKeys.h):
// "orlix-update-keys", then " current=KEY" and " backup=KEY" for each
// offline backup key. Without a current key the build takes configurations
// unsigned, as launchers always did. The maker's tool finds this text in a
// built launcher to check which key it will take.
//
// Defined alone in its own file: a test launcher links a definition of its
// own ahead of the library, and the library's is then never pulled in.
const wchar_t* UpdateKeysText();

}  // namespace update
