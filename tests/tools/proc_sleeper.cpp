// Waits to be ended; the process-tool tests copy it around and start it to
// have processes with known image paths. Ends by itself after two minutes so
// a failed test leaves nothing behind.
#include <windows.h>

int wmain() {
  ::Sleep(120000);
  return 0;
}
