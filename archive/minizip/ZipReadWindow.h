/* The read window the archive engine's buffered stream keeps for minizip, in C so that minizip's
   own reader can take a header byte straight out of it. */
#ifndef NARVO_ZIP_READ_WINDOW_H
#define NARVO_ZIP_READ_WINDOW_H

#include "ioapi.h"

#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The bytes at [start, start + length) of the archive, and the stream's position. */
struct narvo_zip_window {
    const unsigned char* bytes;
    ZPOS64_T start;
    ZPOS64_T length;
    ZPOS64_T pos;
};

/* The opaque value of file functions whose streams begin with a narvo_zip_window. */
extern const char narvo_zip_window_tag;

/* Copies size bytes at the stream's position out of the window and moves on; 0 when the window
   does not hold them all (the caller then reads through the stream). */
static inline uLong narvo_zip_window_take(struct narvo_zip_window* window, void* buffer,
                                          uLong size) {
    const ZPOS64_T offset = window->pos - window->start; /* huge when pos < start */
    if (offset >= window->length || size > window->length - offset) return 0;
    if (size == 1)
        *(unsigned char*)buffer = window->bytes[offset];
    else
        memcpy(buffer, window->bytes + offset, size);
    window->pos += size;
    return size;
}

#ifdef __cplusplus
}
#endif

#endif
