/* The library writes the stream through callbacks: the header with the first samples, each
 * frame as soon as it is complete, and at the end, when the output can seek, a jump back to the
 * start to store the frame count. The callbacks only collect bytes; they are passed on after
 * each library call, as encoded data through the base class, and the bytes after a jump back as
 * a new byte segment followed by a plain buffer, which makes a file sink rewrite them in place
 * (the way wavenc rewrites its header). Downstream that cannot seek leaves the count at 0. */
#include "gst/gstostrelenc.h"

#include <string.h>

#include <gst/tag/tag.h>

#include "gst/gstostrelcaps.h"

GST_DEBUG_CATEGORY_STATIC (gst_ostrel_enc_debug);
#define GST_CAT_DEFAULT gst_ostrel_enc_debug

#define DEFAULT_BITRATE 128     /* kb/s */
#define DEFAULT_THREADS 1
#define MAX_THREADS 64
#define DEFAULT_QUALITY FALSE

enum
{
  PROP_0,
  PROP_BITRATE,
  PROP_THREADS,
  PROP_QUALITY,
};

/* S16LE first: a 16-bit source then reaches the encoder unconverted, as with the program. */
static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE ("sink",
    GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS ("audio/x-raw, format = (string) { S16LE, F32LE }, rate = (int) 44100, "
        "channels = (int) 2, layout = (string) interleaved"));

static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE ("src",
    GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS (GST_OSTREL_MEDIA_TYPE ", rate = (int) 44100, channels = (int) 2, "
        "bitrate = (int) [ 96000, 392000 ]"));

#define gst_ostrel_enc_parent_class parent_class
G_DEFINE_TYPE_WITH_CODE (GstOstrelEnc, gst_ostrel_enc, GST_TYPE_AUDIO_ENCODER,
    G_IMPLEMENT_INTERFACE (GST_TYPE_TAG_SETTER, NULL));
GST_ELEMENT_REGISTER_DEFINE (ostrelenc, "ostrelenc", GST_RANK_PRIMARY, GST_TYPE_OSTREL_ENC);

/* The property's values are the library's rates, so the list has one home. */
GType
gst_ostrel_enc_bitrate_get_type (void)
{
  static gsize type = 0;

  if (g_once_init_enter (&type)) {
    int count = 0;
    const int *rates = ostrel_bitrates (&count);
    GEnumValue *values = g_new0 (GEnumValue, (gsize) count + 1);

    for (int i = 0; i < count; ++i) {
      values[i].value = rates[i];
      values[i].value_name = g_strdup_printf ("%d kb/s", rates[i]);
      values[i].value_nick = g_strdup_printf ("%d", rates[i]);
    }
    g_once_init_leave (&type, g_enum_register_static ("GstOstrelEncBitrate", values));
  }
  return (GType) type;
}

static void
gst_ostrel_enc_reset (GstOstrelEnc * self)
{
  ostrel_encoder_destroy (self->encoder);
  self->encoder = NULL;
  self->at_eos = FALSE;
  self->finished = FALSE;
  g_clear_pointer (&self->upstream_tags, gst_tag_list_unref);
  g_byte_array_set_size (self->pending, 0);
  self->pending_samples = 0;
  g_byte_array_set_size (self->patch, 0);
  self->sought = FALSE;
  self->downstream_seekable = -1;
  self->flow = GST_FLOW_OK;
}

static gboolean
gst_ostrel_enc_start (GstAudioEncoder * enc)
{
  gst_ostrel_enc_reset (GST_OSTREL_ENC (enc));
  return TRUE;
}

static gboolean
gst_ostrel_enc_stop (GstAudioEncoder * enc)
{
  gst_ostrel_enc_reset (GST_OSTREL_ENC (enc));
  gst_tag_setter_reset_tags (GST_TAG_SETTER (enc));
  return TRUE;
}

static gboolean
gst_ostrel_enc_set_format (GstAudioEncoder * enc, GstAudioInfo * info)
{
  GstOstrelEnc *self = GST_OSTREL_ENC (enc);
  ostrel_info facts;
  GstCaps *caps;
  gboolean ok;

  /* Either kind of sample may follow the other: the library takes both at any time. */
  self->is_float = GST_AUDIO_INFO_FORMAT (info) == GST_AUDIO_FORMAT_F32LE;
  memset (&facts, 0, sizeof facts);
  facts.kbps = self->bitrate;
  facts.sample_rate = GST_AUDIO_INFO_RATE (info);
  facts.channels = GST_AUDIO_INFO_CHANNELS (info);
  caps = gst_ostrel_caps_from_info (&facts);
  ok = gst_audio_encoder_set_output_format (enc, caps);
  gst_caps_unref (caps);
  return ok;
}

/* ---- Library callbacks ---- */

static int
gst_ostrel_enc_write (void *user, const void *data, size_t bytes)
{
  GstOstrelEnc *self = user;

  g_byte_array_append (self->sought ? self->patch : self->pending, data, (guint) bytes);
  return 0;
}

/* Passes on the pending stream bytes, with the input samples they account for, as encoded
 * data; then the bytes written since a seek back, as they are. */
static GstFlowReturn
gst_ostrel_enc_push (GstOstrelEnc * self)
{
  GstAudioEncoder *enc = GST_AUDIO_ENCODER (self);
  GstFlowReturn ret = GST_FLOW_OK;

  if (self->pending->len > 0 || self->pending_samples > 0) {
    GstBuffer *buffer = NULL;

    if (self->pending->len > 0) {
      buffer = gst_buffer_new_memdup (self->pending->data, self->pending->len);
      g_byte_array_set_size (self->pending, 0);
    }
    ret = gst_audio_encoder_finish_frame (enc, buffer, self->pending_samples);
    self->pending_samples = 0;
  }
  if (ret == GST_FLOW_OK && self->patch->len > 0) {
    GstBuffer *buffer = gst_buffer_new_memdup (self->patch->data, self->patch->len);

    g_byte_array_set_size (self->patch, 0);
    ret = gst_pad_push (GST_AUDIO_ENCODER_SRC_PAD (enc), buffer);
  }
  return ret;
}

static gboolean
gst_ostrel_enc_downstream_seekable (GstOstrelEnc * self)
{
  if (self->downstream_seekable < 0) {
    GstQuery *query = gst_query_new_seeking (GST_FORMAT_BYTES);
    gboolean seekable = FALSE;

    if (gst_pad_peer_query (GST_AUDIO_ENCODER_SRC_PAD (self), query))
      gst_query_parse_seeking (query, NULL, &seekable, NULL, NULL);
    gst_query_unref (query);
    GST_DEBUG_OBJECT (self, "downstream %s seek", seekable ? "can" : "cannot");
    self->downstream_seekable = seekable ? 1 : 0;
  }
  return self->downstream_seekable == 1;
}

static int
gst_ostrel_enc_seek (void *user, uint64_t offset)
{
  GstOstrelEnc *self = user;
  GstSegment segment;

  if (!gst_ostrel_enc_downstream_seekable (self))
    return 1;

  /* Everything written so far goes out first, at the positions it was written for. */
  self->flow = gst_ostrel_enc_push (self);
  if (self->flow != GST_FLOW_OK)
    return 1;
  gst_segment_init (&segment, GST_FORMAT_BYTES);
  segment.start = offset;
  segment.position = offset;
  if (!gst_pad_push_event (GST_AUDIO_ENCODER_SRC_PAD (self), gst_event_new_segment (&segment))) {
    GST_WARNING_OBJECT (self, "downstream refused the move to byte %" G_GUINT64_FORMAT, offset);
    return 1;
  }
  self->sought = TRUE;
  return 0;
}

/* ---- Encoding ---- */

/* Adds every value of the GStreamer tag `tag` as the Vorbis comments it maps to (title TITLE,
 * artist ARTIST, album ALBUM, track-number TRACKNUMBER, replaygain-track-gain
 * REPLAYGAIN_TRACK_GAIN, ...). A value the header cannot hold is left out with a warning rather
 * than cut. */
static void
gst_ostrel_enc_add_tag (const GstTagList * tags, const gchar * tag, gpointer user)
{
  GstOstrelEnc *self = user;
  GList *comments = gst_tag_to_vorbis_comments (tags, tag);

  for (GList * c = comments; c != NULL; c = c->next) {
    const gchar *line = c->data;
    const gchar *eq = strchr (line, '=');
    gchar *key;
    int status;

    if (eq == NULL)
      continue;
    key = g_strndup (line, (gsize) (eq - line));
    status = g_ascii_strcasecmp (key, "LENGTH") == 0 ? OSTREL_ERR_TAG :
        ostrel_encoder_add_tag (self->encoder, key, eq + 1);
    if (status != OSTREL_OK)
      GST_ELEMENT_WARNING (self, STREAM, ENCODE, ("The tag %s was left out of the header.", key),
          ("%s (%" G_GSIZE_FORMAT " bytes): %s", key, strlen (eq + 1), ostrel_strerror (status)));
    g_free (key);
  }
  g_list_free_full (comments, g_free);
}

/* Makes the library's encoder with the header strings the tags give. */
static gboolean
gst_ostrel_enc_create (GstOstrelEnc * self)
{
  GstTagSetter *setter = GST_TAG_SETTER (self);
  const GstTagList *set = gst_tag_setter_get_tag_list (setter);
  GstTagList *tags;
  int status;

  self->encoder = ostrel_encoder_create (self->bitrate, gst_ostrel_enc_write, gst_ostrel_enc_seek, self,
      &status);
  if (self->encoder == NULL) {
    GST_ELEMENT_ERROR (self, LIBRARY, INIT, (NULL),
        ("cannot make an encoder at %d kb/s: %s", self->bitrate, ostrel_strerror (status)));
    return FALSE;
  }
  status = ostrel_encoder_set_quality (self->encoder, self->quality ? 1 : 0);
  if (status == OSTREL_OK)
    status = ostrel_encoder_set_threads (self->encoder, self->threads);
  if (status != OSTREL_OK) {
    GST_ELEMENT_ERROR (self, LIBRARY, INIT, (NULL),
        ("cannot set up the encoder (%d threads%s): %s", self->threads, self->quality ? ", quality mode" : "",
            ostrel_strerror (status)));
    return FALSE;
  }
  tags = gst_tag_list_merge (self->upstream_tags, set, gst_tag_setter_get_tag_merge_mode (setter));
  if (tags != NULL) {
    gst_tag_list_foreach (tags, gst_ostrel_enc_add_tag, self);
    gst_tag_list_unref (tags);
  }
  GST_INFO_OBJECT (self, "encoding at %d kb/s with %d threads%s", self->bitrate, self->threads,
      self->quality ? " in the quality mode" : "");
  return TRUE;
}

static GstFlowReturn
gst_ostrel_enc_finish (GstOstrelEnc * self)
{
  GstFlowReturn ret;
  int status;

  if (self->finished)
    return GST_FLOW_OK;
  if (self->encoder == NULL && !gst_ostrel_enc_create (self))
    return GST_FLOW_ERROR;
  self->finished = TRUE;
  status = ostrel_encoder_finish (self->encoder);
  ret = gst_ostrel_enc_push (self);
  if (self->flow != GST_FLOW_OK)
    return self->flow;
  if (status == OSTREL_ERR_SEEK) {
    GST_INFO_OBJECT (self, "downstream cannot seek: the header's frame count stays 0");
  } else if (status != OSTREL_OK) {
    GST_ELEMENT_ERROR (self, STREAM, ENCODE, (NULL), ("cannot finish the stream: %s", ostrel_strerror (status)));
    return GST_FLOW_ERROR;
  } else {
    GST_INFO_OBJECT (self, "%u frames written", ostrel_encoder_frames (self->encoder));
  }
  return ret;
}

static GstFlowReturn
gst_ostrel_enc_handle_frame (GstAudioEncoder * enc, GstBuffer * buffer)
{
  GstOstrelEnc *self = GST_OSTREL_ENC (enc);
  GstMapInfo map;
  size_t frames;
  int status;

  /* The base class also drains for new caps; the library keeps its samples across those and
   * the stream ends only with the end of the input. */
  if (buffer == NULL)
    return self->at_eos ? gst_ostrel_enc_finish (self) : GST_FLOW_OK;

  if (self->encoder == NULL && !gst_ostrel_enc_create (self))
    return GST_FLOW_ERROR;
  if (!gst_buffer_map (buffer, &map, GST_MAP_READ))
    return GST_FLOW_ERROR;
  if (self->is_float) {
    frames = map.size / (2 * sizeof (float));
    status = ostrel_encoder_write_float (self->encoder, (const float *) map.data, frames);
  } else {
    frames = map.size / (2 * sizeof (int16_t));
    status = ostrel_encoder_write (self->encoder, (const int16_t *) map.data, frames);
  }
  gst_buffer_unmap (buffer, &map);
  if (status != OSTREL_OK) {
    GST_ELEMENT_ERROR (self, STREAM, ENCODE, (NULL), ("cannot encode: %s", ostrel_strerror (status)));
    return GST_FLOW_ERROR;
  }
  self->pending_samples += (gint) frames;
  return gst_ostrel_enc_push (self);
}

static gboolean
gst_ostrel_enc_sink_event (GstAudioEncoder * enc, GstEvent * event)
{
  GstOstrelEnc *self = GST_OSTREL_ENC (enc);

  switch (GST_EVENT_TYPE (event)) {
    case GST_EVENT_TAG:{
      GstTagList *tags;

      gst_event_parse_tag (event, &tags);
      if (gst_tag_list_get_scope (tags) != GST_TAG_SCOPE_STREAM)
        break;
      if (self->encoder != NULL) {
        GST_INFO_OBJECT (self, "tags after the first samples cannot go into the header: %" GST_PTR_FORMAT, tags);
        break;
      }
      if (self->upstream_tags == NULL)
        self->upstream_tags = gst_tag_list_copy (tags);
      else
        gst_tag_list_insert (self->upstream_tags, tags, GST_TAG_MERGE_REPLACE);
      break;
    }
    case GST_EVENT_EOS:
      self->at_eos = TRUE;
      break;
    default:
      break;
  }
  return GST_AUDIO_ENCODER_CLASS (parent_class)->sink_event (enc, event);
}

static void
gst_ostrel_enc_set_property (GObject * object, guint prop_id, const GValue * value, GParamSpec * pspec)
{
  GstOstrelEnc *self = GST_OSTREL_ENC (object);

  switch (prop_id) {
    case PROP_BITRATE:
      GST_OBJECT_LOCK (self);
      self->bitrate = g_value_get_enum (value);
      GST_OBJECT_UNLOCK (self);
      break;
    case PROP_THREADS:
      GST_OBJECT_LOCK (self);
      self->threads = g_value_get_int (value);
      GST_OBJECT_UNLOCK (self);
      break;
    case PROP_QUALITY:
      GST_OBJECT_LOCK (self);
      self->quality = g_value_get_boolean (value);
      GST_OBJECT_UNLOCK (self);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID (object, prop_id, pspec);
      break;
  }
}

static void
gst_ostrel_enc_get_property (GObject * object, guint prop_id, GValue * value, GParamSpec * pspec)
{
  GstOstrelEnc *self = GST_OSTREL_ENC (object);

  switch (prop_id) {
    case PROP_BITRATE:
      GST_OBJECT_LOCK (self);
      g_value_set_enum (value, self->bitrate);
      GST_OBJECT_UNLOCK (self);
      break;
    case PROP_THREADS:
      GST_OBJECT_LOCK (self);
      g_value_set_int (value, self->threads);
      GST_OBJECT_UNLOCK (self);
      break;
    case PROP_QUALITY:
      GST_OBJECT_LOCK (self);
      g_value_set_boolean (value, self->quality);
      GST_OBJECT_UNLOCK (self);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID (object, prop_id, pspec);
      break;
  }
}

static void
gst_ostrel_enc_finalize (GObject * object)
{
  GstOstrelEnc *self = GST_OSTREL_ENC (object);

  ostrel_encoder_destroy (self->encoder);
  g_clear_pointer (&self->upstream_tags, gst_tag_list_unref);
  g_byte_array_unref (self->pending);
  g_byte_array_unref (self->patch);
  G_OBJECT_CLASS (parent_class)->finalize (object);
}

static void
gst_ostrel_enc_class_init (GstOstrelEncClass * klass)
{
  GObjectClass *object_class = G_OBJECT_CLASS (klass);
  GstElementClass *element_class = GST_ELEMENT_CLASS (klass);
  GstAudioEncoderClass *enc_class = GST_AUDIO_ENCODER_CLASS (klass);

  GST_DEBUG_CATEGORY_INIT (gst_ostrel_enc_debug, "ostrelenc", 0, "Ostrel encoder");

  object_class->set_property = gst_ostrel_enc_set_property;
  object_class->get_property = gst_ostrel_enc_get_property;
  object_class->finalize = gst_ostrel_enc_finalize;

  g_object_class_install_property (object_class, PROP_BITRATE,
      g_param_spec_enum ("bitrate", "Bitrate", "Data rate in kb/s; takes effect at the next stream",
          gst_ostrel_enc_bitrate_get_type (), DEFAULT_BITRATE,
          G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY));
  g_object_class_install_property (object_class, PROP_THREADS,
      g_param_spec_int ("threads", "Threads",
          "Threads that code each stream; the bytes are the same for any count, but with more than one "
          "the encoder holds back three frames of samples; takes effect at the next stream",
          1, MAX_THREADS, DEFAULT_THREADS, G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY));
  g_object_class_install_property (object_class, PROP_QUALITY,
      g_param_spec_boolean ("quality", "Quality mode",
          "Choose weights and gains where the noise is audible (the same stream format, more work); "
          "takes effect at the next stream",
          DEFAULT_QUALITY, G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY));
  gst_type_mark_as_plugin_api (gst_ostrel_enc_bitrate_get_type (), 0);

  gst_element_class_add_static_pad_template (element_class, &sink_template);
  gst_element_class_add_static_pad_template (element_class, &src_template);
  gst_element_class_set_static_metadata (element_class, "Ostrel encoder", "Codec/Encoder/Audio",
      "Encodes 44100 Hz stereo audio to an Ostrel stream; its tags (as Vorbis comments) go "
      "into the header", "The Ostrel developers");

  enc_class->start = GST_DEBUG_FUNCPTR (gst_ostrel_enc_start);
  enc_class->stop = GST_DEBUG_FUNCPTR (gst_ostrel_enc_stop);
  enc_class->set_format = GST_DEBUG_FUNCPTR (gst_ostrel_enc_set_format);
  enc_class->handle_frame = GST_DEBUG_FUNCPTR (gst_ostrel_enc_handle_frame);
  enc_class->sink_event = GST_DEBUG_FUNCPTR (gst_ostrel_enc_sink_event);
}

static void
gst_ostrel_enc_init (GstOstrelEnc * self)
{
  self->bitrate = DEFAULT_BITRATE;
  self->threads = DEFAULT_THREADS;
  self->quality = DEFAULT_QUALITY;
  self->encoder = NULL;
  self->upstream_tags = NULL;
  self->pending = g_byte_array_new ();
  self->patch = g_byte_array_new ();
  gst_ostrel_enc_reset (self);
}
