# Environment for every Wine run of the project (sourced by the scripts here).
_orlix_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export WINEPREFIX=${ORLIX_WINEPREFIX:-$_orlix_root/build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# winemenubuilder copies shortcuts into the Linux desktop and menus: off.
# mscoree/mshtml off: no Mono or Gecko install prompts in a fresh prefix.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
unset _orlix_root
