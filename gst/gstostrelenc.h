/* ostrelenc: encodes 44 100 Hz stereo audio to an Ostrel stream. */
#ifndef GST_OSTREL_ENC_H
#define GST_OSTREL_ENC_H

#include <gst/audio/gstaudioencoder.h>

#include "ostrel/ostrel.h"

G_BEGIN_DECLS

#define GST_TYPE_OSTREL_ENC (gst_ostrel_enc_get_type ())
G_DECLARE_FINAL_TYPE (GstOstrelEnc, gst_ostrel_enc, GST, OSTREL_ENC, GstAudioEncoder)

struct _GstOstrelEnc
{
  GstAudioEncoder parent;

  /* Properties. */
  int bitrate;                  /* kb/s: one of ostrel_bitrates() */
  int threads;                  /* threads per stream, 1 .. 64 */
  gboolean quality;             /* the quality mode */

  /* Stream state. */
  ostrel_encoder *encoder;      /* made with the first samples, so that tags can still go in */
  gboolean is_float;            /* F32LE input, else S16LE */
  gboolean at_eos;              /* the next drain is the end of the stream */
  gboolean finished;            /* the stream is complete; the base class may drain again */
  GstTagList *upstream_tags;    /* stream tags from upstream so far */
  GByteArray *pending;          /* stream bytes the library wrote, not yet passed on */
  gint pending_samples;         /* input samples per channel those bytes account for */
  GByteArray *patch;            /* bytes written after a seek back (the frame count) */
  gboolean sought;              /* the library moved the output position: bytes go to patch */
  gint downstream_seekable;     /* -1 not asked yet, else the answer of downstream */
  GstFlowReturn flow;           /* the first failure of a push made inside a callback */
};

/* The enum type of the bitrate property; values in kb/s. */
GType gst_ostrel_enc_bitrate_get_type (void);

GST_ELEMENT_REGISTER_DECLARE (ostrelenc);

G_END_DECLS

#endif /* GST_OSTREL_ENC_H */
