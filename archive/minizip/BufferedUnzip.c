/* minizip's reader, compiled from the fetched sources with one change: a read that the engine's
   buffered stream holds in its current window is a copy here instead of a call through the file
   functions. The library reads every directory field one byte at a time, and those calls were
   half of a large archive's listing time. */
#include "ZipReadWindow.h"

const char narvo_zip_window_tag = 0;

static uLong narvo_zip_read(const zlib_filefunc64_32_def* functions, voidpf stream, void* buffer,
                            uLong size) {
    if (functions->zfile_func64.opaque == &narvo_zip_window_tag && size != 0) {
        const uLong taken = narvo_zip_window_take((struct narvo_zip_window*)stream, buffer, size);
        if (taken == size) return taken;
    }
    return functions->zfile_func64.zread_file(functions->zfile_func64.opaque, stream, buffer, size);
}

#undef ZREAD64
#define ZREAD64(functions, stream, buffer, size) narvo_zip_read(&(functions), stream, buffer, size)

#include "unzip.c"
