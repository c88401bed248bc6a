// The product's fixed texts. They tag every ping and update URL and go to the
// crash-report uploader.
#pragma once

namespace product {

constexpr const wchar_t* kAppName = L"zuduviz";
// "3.0.1.5" (product/ProductVersion.h; defined in ProductVersion.cpp).
extern const wchar_t kVersion[];
constexpr const wchar_t* kProductCode = L"Tavrel";
constexpr const wchar_t* kGameName = L"Duskmere";
constexpr const wchar_t* kKind = L"client";
// Caption of every message box and the name the player sees.
constexpr const wchar_t* kCaption = L"OrlixDuskmere";

}  // namespace product
