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
# Tests that register the control or rely on its registration share the prefix's registry with
# the other Windows build's tests: with NARVO_REGISTRY_LOCK=1 a wrapper re-runs itself holding one
# lock per prefix, so the two builds' test runs may overlap without unregistering each other.
narvo_hold_registry() {
  if [ "${NARVO_REGISTRY_LOCK:-}" = 1 ] && [ -z "${NARVO_REGISTRY_HELD:-}" ]; then
    export NARVO_REGISTRY_HELD=1
    mkdir -p "$WINEPREFIX"
    # -o: programs the command leaves running (Wine services) must not keep holding the lock.
    exec flock -o "$WINEPREFIX/narvo-registry.lock" "$@"
  fi
}
