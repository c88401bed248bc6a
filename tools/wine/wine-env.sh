# Environment for every Wine run of the project (sourced by the scripts here).
_orlix_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export WINEPREFIX=${ORLIX_WINEPREFIX:-$_orlix_root/build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# winemenubuilder copies shortcuts into the Linux desktop and menus: off.
# mscoree/mshtml off: no Mono or Gecko install prompts in a fresh prefix.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="

# The players' locale: Simplified Chinese Windows, ANSI and OEM code page
# 936, locale 0x804. Wine takes its code pages from the Unix locale of each
# process it starts, so a test that must see a Western system (1252/437)
# sets ORLIX_WINE_LANG=C.UTF-8 (UTF-8 keeps Unix file names intact).
export LANG=${ORLIX_WINE_LANG:-zh_CN.UTF-8}
export LC_ALL=$LANG

# The Wine loader. Debian's wine wrapper picks the 32-bit loader whenever
# wine32 is installed, and where the kernel cannot run 32-bit programs that
# loader starts nothing, 64-bit programs included. So the 32-bit loader (which
# hands 64-bit programs to wine64 itself) is used only where 32-bit programs
# run; ./dev setup caches that answer in build/i686-host.
if [ -x /usr/lib/wine/wine ] && [ -x /usr/lib/wine/wine64 ]; then
  _orlix_host=$_orlix_root/build/i686-host
  [ -f "$_orlix_host" ] || "$_orlix_root/tools/wine/i386-exec-check" --cache "$_orlix_host" >/dev/null
  if [ "$(head -c 4 "$_orlix_host")" = runs ]; then
    ORLIX_WINE=/usr/lib/wine/wine
  else
    ORLIX_WINE=/usr/lib/wine/wine64
    export WINELOADER=$ORLIX_WINE
  fi
  unset _orlix_host
elif [ -x /usr/lib/wine/wine64 ]; then
  ORLIX_WINE=/usr/lib/wine/wine64
  export WINELOADER=$ORLIX_WINE
else
  ORLIX_WINE=wine
fi
export ORLIX_WINE
unset _orlix_root
