# Shared settings for the project's scripts: where the build tree, the Wine prefix and the private
# Korean locale live, and the Wine environment every Windows program of ours runs in.
NARVO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
NARVO_BUILD="$NARVO_ROOT/build"
NARVO_DEPS="$NARVO_BUILD/deps"
export WINEPREFIX="$NARVO_BUILD/wineprefix"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
NARVO_WINE=/usr/lib/wine/wine64
NARVO_WINESERVER=/usr/lib/wine/wineserver
NARVO_LOCALE_DIR="$NARVO_BUILD/locale"
NARVO_MINIZIP_SRC="$NARVO_DEPS/zlib-src/contrib/minizip"
NARVO_ISAL_WIN64="$NARVO_DEPS/isal-win64"
