// Writes the launcher's system report to the path given as its argument.
#include <windows.h>

#include "diagnostics/SystemReport.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  diagnostics::WriteSystemReport(argv[1]);
  return 0;
}
