#include "diagnostics/UploaderCommand.h"

namespace diagnostics {

bool FormatUploaderCommand(const wchar_t* uploaderPath, const ProductInfo& product, const wchar_t* reportBase,
                           wchar_t (&out)[base::kUrlChars]) {
  if (!uploaderPath || !reportBase) return false;
  return base::JoinText(out, L"\"", uploaderPath, L"\" /report ", product.appKind, L" ", product.gameName, L" ",
                        product.productCode, L" ", product.version, L" ", product.appName, L" \"", reportBase, L"\"");
}

}  // namespace diagnostics
