// Runs the launcher's package deployment once. Built with the launcher's
// resources (the game package, resource ZIP 129), so a copy placed in the
// install folder deploys exactly as the installed launcher does.
#include <windows.h>

#include "deploy/GameDeployment.h"

int wmain() {
  deploy::DeployGamePackage();
  return 0;
}
