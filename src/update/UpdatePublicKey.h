// The maker's public key for update configurations.
#pragma once

namespace update {

// The ECDSA P-256 public key this launcher checks the update configuration's
// signature with, as the build setting spells it ("04", then X and Y in
// hexadecimal); empty when the build carries none, and then configurations
// are taken unsigned as they always were.
//
// Defined alone in its own file: a test launcher links a definition of its
// own ahead of the library, and the library's is then never pulled in.
const wchar_t* UpdatePublicKeyText();

}  // namespace update
