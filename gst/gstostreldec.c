/* Each frame decodes to the same number of samples, lagging the input by `delay` samples;
 * ostrelparse stamps every frame with the time of its first output sample. From the start of the
 * stream the first `delay` samples of frame 0 are dropped, which gives exactly the samples of the
 * ostreldec program. After a reset (a seek, a discontinuity) the first frame only rebuilds the
 * overlap and its output is dropped; the parser starts a seek one frame early for it, so the
 * samples from the target on are those of a straight decode. */
#include "gst/gstostreldec.h"

#include <string.h>

#include "gst/gstostrelcaps.h"

GST_DEBUG_CATEGORY_STATIC (gst_ostrel_dec_debug);
#define GST_CAT_DEFAULT gst_ostrel_dec_debug

#define OUTPUT_BYTES_PER_SAMPLE 4       /* one 16-bit stereo sample frame */

static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE ("sink",
    GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS (GST_OSTREL_MEDIA_TYPE ", parsed = (boolean) true, framed = (boolean) true, "
        "rate = (int) 44100, channels = (int) 2"));

static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE ("src",
    GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS ("audio/x-raw, format = (string) S16LE, rate = (int) 44100, channels = (int) 2, "
        "layout = (string) interleaved"));

G_DEFINE_TYPE (GstOstrelDec, gst_ostrel_dec, GST_TYPE_AUDIO_DECODER);
GST_ELEMENT_REGISTER_DEFINE (ostreldec, "ostreldec", GST_RANK_PRIMARY, GST_TYPE_OSTREL_DEC);

static void
gst_ostrel_dec_release (GstOstrelDec * self)
{
  ostrel_frame_decoder_destroy (self->decoder);
  self->decoder = NULL;
  self->kbps = 0;
}

static gboolean
gst_ostrel_dec_start (GstAudioDecoder * dec)
{
  GstOstrelDec *self = GST_OSTREL_DEC (dec);

  self->restarted = TRUE;
  self->damaged = 0;
  /* Damage is concealed and reported as a warning per frame; it never ends playback. */
  gst_audio_decoder_set_max_errors (dec, -1);
  return TRUE;
}

static gboolean
gst_ostrel_dec_stop (GstAudioDecoder * dec)
{
  gst_ostrel_dec_release (GST_OSTREL_DEC (dec));
  return TRUE;
}

static gboolean
gst_ostrel_dec_set_format (GstAudioDecoder * dec, GstCaps * caps)
{
  GstOstrelDec *self = GST_OSTREL_DEC (dec);
  GstAudioInfo out;
  ostrel_info info;
  int status;

  status = gst_ostrel_caps_get_streamheader (caps, &info);
  if (status != OSTREL_OK) {
    GST_ELEMENT_ERROR (self, STREAM, DECODE, (NULL),
        ("the caps carry no readable Ostrel stream header (%s): %" GST_PTR_FORMAT,
            ostrel_strerror (status), caps));
    return FALSE;
  }

  if (self->decoder == NULL || self->kbps != info.kbps) {
    gst_ostrel_dec_release (self);
    self->decoder = ostrel_frame_decoder_create (info.kbps, &status);
    if (self->decoder == NULL) {
      GST_ELEMENT_ERROR (self, LIBRARY, INIT, (NULL),
          ("cannot make a frame decoder at %d kb/s: %s", info.kbps, ostrel_strerror (status)));
      return FALSE;
    }
    self->kbps = info.kbps;
  } else {
    ostrel_frame_decoder_reset (self->decoder);
  }
  self->frame_bytes = info.frame_bytes;
  self->samples_per_frame = info.samples_per_frame;
  self->delay = MIN (info.delay, info.samples_per_frame);
  self->rate = info.sample_rate;
  /* The exact length, where the header gives one (with a frame count, `samples` is never more
   * than the whole frames give, so only the last frame is clipped). */
  self->length = info.samples;
  self->restarted = TRUE;
  GST_INFO_OBJECT (self, "%d kb/s: frames of %" G_GSIZE_FORMAT " bytes, %u samples, delay %u",
      info.kbps, self->frame_bytes, self->samples_per_frame, self->delay);

  gst_audio_info_init (&out);
  gst_audio_info_set_format (&out, GST_AUDIO_FORMAT_S16LE, info.sample_rate, info.channels, NULL);
  return gst_audio_decoder_set_output_format (dec, &out);
}

static GstFlowReturn
gst_ostrel_dec_handle_frame (GstAudioDecoder * dec, GstBuffer * buffer)
{
  GstOstrelDec *self = GST_OSTREL_DEC (dec);
  GstBuffer *out;
  GstMapInfo in_map, out_map;
  const gsize out_bytes = (gsize) self->samples_per_frame * OUTPUT_BYTES_PER_SAMPLE;
  int status;

  /* Every frame is decoded as it comes: there is nothing to drain. */
  if (buffer == NULL)
    return GST_FLOW_OK;
  if (self->decoder == NULL)
    return GST_FLOW_NOT_NEGOTIATED;
  GST_LOG_OBJECT (self, "frame at %" GST_TIME_FORMAT "%s", GST_TIME_ARGS (GST_BUFFER_PTS (buffer)),
      self->restarted ? ", first after a reset" : "");

  out = gst_audio_decoder_allocate_output_buffer (dec, out_bytes);
  if (!gst_buffer_map (buffer, &in_map, GST_MAP_READ)) {
    gst_buffer_unref (out);
    return GST_FLOW_ERROR;
  }
  if (!gst_buffer_map (out, &out_map, GST_MAP_WRITE)) {
    gst_buffer_unmap (buffer, &in_map);
    gst_buffer_unref (out);
    return GST_FLOW_ERROR;
  }

  if (in_map.size == self->frame_bytes) {
    status = ostrel_frame_decoder_decode (self->decoder, in_map.data, in_map.size,
        (int16_t *) out_map.data);
  } else {
    /* Not a frame of this stream: conceal it like a damaged one. */
    memset (out_map.data, 0, out_bytes);
    status = OSTREL_ERR_DAMAGED;
  }
  gst_buffer_unmap (out, &out_map);
  gst_buffer_unmap (buffer, &in_map);

  if (status == OSTREL_ERR_DAMAGED) {
    self->damaged++;
    GST_ELEMENT_WARNING (self, STREAM, DECODE, ("A damaged frame was replaced by silence."),
        ("frame at %" GST_TIME_FORMAT " (%" G_GSIZE_FORMAT " bytes) is damaged; %" G_GUINT64_FORMAT
            " so far", GST_TIME_ARGS (GST_BUFFER_PTS (buffer)), in_map.size, self->damaged));
  } else if (status != OSTREL_OK) {
    gst_buffer_unref (out);
    GST_ELEMENT_ERROR (self, STREAM, DECODE, (NULL), ("cannot decode a frame: %s", ostrel_strerror (status)));
    return GST_FLOW_ERROR;
  }

  if (self->restarted) {
    self->restarted = FALSE;
    if (GST_BUFFER_PTS (buffer) == 0) {
      /* The start of the stream: these samples stand for nothing before the first source sample. */
      gst_buffer_resize (out, (gssize) self->delay * OUTPUT_BYTES_PER_SAMPLE, -1);
    } else {
      /* The lead-in frame: only its overlap is kept, for the next frame. */
      gst_buffer_unref (out);
      return gst_audio_decoder_finish_frame (dec, NULL, 1);
    }
  }
  if (self->length > 0 && GST_BUFFER_PTS_IS_VALID (buffer)) {
    /* The samples after the source's end are dropped: the last buffer ends with its last sample. */
    const guint64 first = GST_BUFFER_PTS (buffer) == 0 ? 0 :
        gst_util_uint64_scale_round (GST_BUFFER_PTS (buffer), (guint64) self->rate, GST_SECOND);
    const gsize samples = gst_buffer_get_size (out) / OUTPUT_BYTES_PER_SAMPLE;

    if (first >= self->length) {
      gst_buffer_unref (out);
      return gst_audio_decoder_finish_frame (dec, NULL, 1);
    }
    if (first + samples > self->length)
      gst_buffer_resize (out, 0, (gssize) ((self->length - first) * OUTPUT_BYTES_PER_SAMPLE));
  }
  return gst_audio_decoder_finish_frame (dec, out, 1);
}

static void
gst_ostrel_dec_flush (GstAudioDecoder * dec, gboolean hard)
{
  GstOstrelDec *self = GST_OSTREL_DEC (dec);

  GST_DEBUG_OBJECT (self, "%s flush: the next frame starts afresh", hard ? "hard" : "soft");
  if (self->decoder != NULL)
    ostrel_frame_decoder_reset (self->decoder);
  self->restarted = TRUE;
}

static void
gst_ostrel_dec_class_init (GstOstrelDecClass * klass)
{
  GstElementClass *element_class = GST_ELEMENT_CLASS (klass);
  GstAudioDecoderClass *dec_class = GST_AUDIO_DECODER_CLASS (klass);

  GST_DEBUG_CATEGORY_INIT (gst_ostrel_dec_debug, "ostreldec", 0, "Ostrel decoder");

  gst_element_class_add_static_pad_template (element_class, &sink_template);
  gst_element_class_add_static_pad_template (element_class, &src_template);
  gst_element_class_set_static_metadata (element_class, "Ostrel decoder", "Codec/Decoder/Audio",
      "Decodes Ostrel compressed audio to 16-bit stereo; damaged frames become silence",
      "The Ostrel developers");

  dec_class->start = GST_DEBUG_FUNCPTR (gst_ostrel_dec_start);
  dec_class->stop = GST_DEBUG_FUNCPTR (gst_ostrel_dec_stop);
  dec_class->set_format = GST_DEBUG_FUNCPTR (gst_ostrel_dec_set_format);
  dec_class->handle_frame = GST_DEBUG_FUNCPTR (gst_ostrel_dec_handle_frame);
  dec_class->flush = GST_DEBUG_FUNCPTR (gst_ostrel_dec_flush);
}

static void
gst_ostrel_dec_init (GstOstrelDec * self)
{
  self->decoder = NULL;
  self->kbps = 0;
  self->restarted = TRUE;
  gst_audio_decoder_set_drainable (GST_AUDIO_DECODER (self), FALSE);
  gst_audio_decoder_set_needs_format (GST_AUDIO_DECODER (self), TRUE);
}
