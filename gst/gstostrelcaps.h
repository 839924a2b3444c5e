/* What the elements of the Ostrel plugin share about the compressed stream's caps. */
#ifndef GST_OSTREL_CAPS_H
#define GST_OSTREL_CAPS_H

#include <gst/gst.h>

#include "ostrel/ostrel.h"

G_BEGIN_DECLS

/* The media type of an Ostrel stream, framed or not. */
#define GST_OSTREL_MEDIA_TYPE "audio/x-ostrel"

/* The caps field holding the data rate, in bits per second as everywhere in GStreamer. */
#define GST_OSTREL_CAPS_BITRATE "bitrate"

/* Caps for a stream with the header `info`: media type, rate, channels and bitrate. Transfer
 * full. */
GstCaps *gst_ostrel_caps_from_info (const ostrel_info * info);

/* The caps field that carries the stream's header bytes from the parser to the decoder, which
 * needs the facts the frames themselves do not repeat (the decoder's delay). */
#define GST_OSTREL_CAPS_STREAMHEADER "streamheader"

/* Stores a copy of the `bytes` header bytes at `header` in `caps` as its stream header. */
void gst_ostrel_caps_set_streamheader (GstCaps * caps, const guint8 * header, gsize bytes);

/* Reads the stream header of `caps` into `*info` (strings cut off: not needed here). Caps of a
 * stream joined without its header carry none: then the rate, channels and bitrate fields give
 * the frame facts (frame count 0). Returns OSTREL_OK, or the status of ostrel_parse_header;
 * OSTREL_ERR_ARGUMENT when neither is there, OSTREL_ERR_UNSUPPORTED for other than 44100 Hz stereo. */
int gst_ostrel_caps_get_streamheader (const GstCaps * caps, ostrel_info * info);

/* Room ostrel_parse_header needs for the header strings, in bytes (title, author, comment and a
 * terminator each). */
#define GST_OSTREL_HEADER_STRINGS_BYTES (256 + 256 + 65536)

/* The most bytes a header can take: the fixed part with the three length fields and the longest
 * strings. */
#define GST_OSTREL_HEADER_MAX_BYTES (18 + 255 + 255 + 65535)

G_END_DECLS

#endif /* GST_OSTREL_CAPS_H */
