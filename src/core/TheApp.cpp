// The launcher's one application object, constructed during static
// initialisation before the program entry runs.
#include "core/ZuduvizApp.h"

CZuduvizApp theApp;
