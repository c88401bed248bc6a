// The launcher's one application object, constructed during static
// initialisation before the program entry runs.
#include "appobject/ZuduvizApp.h"

CZuduvizApp theApp;
