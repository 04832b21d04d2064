/* The read window the archive engine's buffered stream keeps for minizip, in C so that minizip's
   own reader can take a header byte straight out of it. */
#ifndef NARVO_ZIP_READ_WINDOW_H
#define NARVO_ZIP_READ_WINDOW_H

#include "ioapi.h"

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

#ifdef __cplusplus
}
#endif

#endif
