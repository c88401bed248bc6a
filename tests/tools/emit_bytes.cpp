// emit_bytes COUNT [err]: writes COUNT bytes of a fixed pattern (zero bytes
// included) to standard output in small pieces, and with "err" every other
// piece to standard error. The captured-output tests check them byte for byte.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  long count = std::wcstol(argv[1], nullptr, 10);
  bool alternate = argc > 2 && std::wcscmp(argv[2], L"err") == 0;
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  char piece[100];
  long sent = 0;
  for (int n = 0; sent < count; ++n) {
    long size = count - sent < 100 ? count - sent : 100;
    for (long i = 0; i < size; ++i) piece[i] = static_cast<char>(((sent + i) * 7) % 251);
    DWORD written = 0;
    HANDLE target = (alternate && n % 2) ? err : out;
    if (!::WriteFile(target, piece, static_cast<DWORD>(size), &written, nullptr) || written != DWORD(size)) return 1;
    sent += size;
    ::FlushFileBuffers(target);
  }
  return 0;
}
