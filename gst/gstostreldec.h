/* ostreldec: decodes the frames of an Ostrel stream to 16-bit stereo at 44 100 Hz. */
#ifndef GST_OSTREL_DEC_H
#define GST_OSTREL_DEC_H

#include <gst/audio/gstaudiodecoder.h>

#include "ostrel/ostrel.h"

G_BEGIN_DECLS

#define GST_TYPE_OSTREL_DEC (gst_ostrel_dec_get_type ())
G_DECLARE_FINAL_TYPE (GstOstrelDec, gst_ostrel_dec, GST, OSTREL_DEC, GstAudioDecoder)

struct _GstOstrelDec
{
  GstAudioDecoder parent;

  ostrel_frame_decoder *decoder;
  int kbps;
  gsize frame_bytes;            /* bytes in every frame */
  guint samples_per_frame;      /* samples per channel out of every frame */
  guint delay;                  /* samples per channel not valid after a start or reset */
  gboolean restarted;           /* the next frame is the first since a start or reset */
  guint64 damaged;              /* damaged frames since the start */
  guint64 length;               /* the stream's samples per channel (0: not known) */
  gint rate;
};

GST_ELEMENT_REGISTER_DECLARE (ostreldec);

G_END_DECLS

#endif /* GST_OSTREL_DEC_H */
