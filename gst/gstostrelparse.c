/* The stream is a header followed by frames that all have the same size in bytes, so a frame's
 * number follows from its byte offset, and the number gives its time exactly. The decoder's
 * output lags its input by `delay` samples: frame k yields the samples from k x samples per frame
 * - delay on, and that is its timestamp (frame 0, whose first `delay` samples are dropped, is
 * stamped 0). After a reset the decoder's first frame only rebuilds the overlap, so a seek
 * starts one frame before the frame that holds the target (the lead-in frame). A stream that does
 * not start with its header (a broadcast joined late, a cut file) is joined at its first frame,
 * which is then frame 0. */
#include "gst/gstostrelparse.h"

#include <string.h>

#include <gst/tag/tag.h>

#include "gst/gstostrelcaps.h"

GST_DEBUG_CATEGORY_STATIC (gst_ostrel_parse_debug);
#define GST_CAT_DEFAULT gst_ostrel_parse_debug

static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE ("sink",
    GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS (GST_OSTREL_MEDIA_TYPE));

static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE ("src",
    GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS (GST_OSTREL_MEDIA_TYPE ", parsed = (boolean) true, framed = (boolean) true, "
        "rate = (int) 44100, channels = (int) 2, bitrate = (int) [ 96000, 392000 ]"));

/* The first look for the header: enough for the header of an untagged stream. */
#define HEADER_FIRST_LOOK 64
/* Bytes looked at together while joining a stream: two of the largest frames and the next sync
 * word, so that most candidates are decided at the first look. */
#define GST_OSTREL_JOIN_LOOK 20000
/* Bytes searched for a frame before a stream without a header is taken for something else. */
#define GST_OSTREL_JOIN_GIVE_UP (G_GUINT64_CONSTANT (4) << 20)

G_DEFINE_TYPE (GstOstrelParse, gst_ostrel_parse, GST_TYPE_BASE_PARSE);
GST_ELEMENT_REGISTER_DEFINE (ostrelparse, "ostrelparse", GST_RANK_PRIMARY + 1, GST_TYPE_OSTREL_PARSE);

static void
gst_ostrel_parse_reset (GstOstrelParse * self)
{
  self->have_header = FALSE;
  self->joining = FALSE;
  memset (&self->info, 0, sizeof self->info);
  self->header_look = HEADER_FIRST_LOOK;
}

static gboolean
gst_ostrel_parse_start (GstBaseParse * parse)
{
  GstOstrelParse *self = GST_OSTREL_PARSE (parse);

  gst_ostrel_parse_reset (self);
  gst_base_parse_set_min_frame_size (parse, self->header_look);
  gst_base_parse_set_has_timing_info (parse, TRUE);
  gst_base_parse_set_syncable (parse, TRUE);
  return TRUE;
}

static gboolean
gst_ostrel_parse_stop (GstBaseParse * parse)
{
  gst_ostrel_parse_reset (GST_OSTREL_PARSE (parse));
  return TRUE;
}

/* Adds `value` as `tag` unless it is empty or "None", which the encoder writes for a field it
 * was given nothing for. */
static void
add_header_string (GstTagList * tags, const gchar * tag, const gchar * value)
{
  if (value == NULL || value[0] == '\0' || strcmp (value, "None") == 0)
    return;
  if (!g_utf8_validate (value, -1, NULL)) {
    /* Header strings are bytes; tags must be UTF-8. Keep what is readable. */
    gchar *valid = g_utf8_make_valid (value, -1);
    gst_tag_list_add (tags, GST_TAG_MERGE_REPLACE, tag, valid, NULL);
    g_free (valid);
    return;
  }
  gst_tag_list_add (tags, GST_TAG_MERGE_REPLACE, tag, value, NULL);
}

/* Adds one tag of the header's comment as the GStreamer tag it maps to (LENGTH is the duration). */
static void
add_vorbis_comment (void *user, const char *key, const char *value)
{
  if (strcmp (key, "LENGTH") != 0)
    gst_vorbis_tag_add ((GstTagList *) user, key, value);
}

/* Reads the header from the start of the stream; sets caps, duration and tags. Returns
 * GST_FLOW_OK with *needed > 0 when more bytes must be looked at first. */
static GstFlowReturn
gst_ostrel_parse_header (GstOstrelParse * self, const guint8 * data, gsize size, guint * needed)
{
  GstBaseParse *parse = GST_BASE_PARSE (self);
  gchar *strings = g_malloc (GST_OSTREL_HEADER_STRINGS_BYTES);
  ostrel_info info;
  GstTagList *tags;
  GstCaps *caps;
  int status;

  *needed = 0;
  status = ostrel_parse_header (data, size, &info, strings, GST_OSTREL_HEADER_STRINGS_BYTES);
  if (status == OSTREL_ERR_TRUNCATED && !GST_BASE_PARSE_DRAINING (parse) &&
      self->header_look < GST_OSTREL_HEADER_MAX_BYTES) {
    self->header_look = MIN (self->header_look * 16, GST_OSTREL_HEADER_MAX_BYTES);
    *needed = self->header_look;
    g_free (strings);
    return GST_FLOW_OK;
  }
  if (status == OSTREL_ERR_NOT_OSTREL) {
    /* No header: a stream joined in the middle, or cut; its first frame is looked for. */
    g_free (strings);
    self->joining = TRUE;
    return GST_FLOW_OK;
  }
  if (status != OSTREL_OK) {
    g_free (strings);
    if (status == OSTREL_ERR_TRUNCATED)
      GST_ELEMENT_ERROR (self, STREAM, DECODE, (NULL),
          ("the Ostrel header is cut short: the stream ends after %" G_GSIZE_FORMAT " bytes", size));
    else
      GST_ELEMENT_ERROR (self, STREAM, WRONG_TYPE, (NULL),
          ("cannot read this stream: %s", ostrel_strerror (status)));
    return GST_FLOW_ERROR;
  }

  self->info = info;
  self->info.title = self->info.author = self->info.comment = NULL;
  self->have_header = TRUE;
  GST_INFO_OBJECT (self, "%d kb/s, %u frames of %u bytes, %u samples each, delay %u, header %"
      G_GUINT64_FORMAT " bytes", info.kbps, info.frames, info.frame_bytes, info.samples_per_frame,
      info.delay, info.header_bytes);

  caps = gst_ostrel_caps_from_info (&info);
  gst_caps_set_simple (caps, "parsed", G_TYPE_BOOLEAN, TRUE, "framed", G_TYPE_BOOLEAN, TRUE, NULL);
  gst_ostrel_caps_set_streamheader (caps, data, (gsize) info.header_bytes);
  gst_pad_set_caps (GST_BASE_PARSE_SRC_PAD (parse), caps);
  gst_caps_unref (caps);

  /* A frame count of 0 means the encoder could not store it; the duration then comes from the
   * stream's size through the conversion below. */
  if (info.samples > 0)
    gst_base_parse_set_duration (parse, GST_FORMAT_TIME,
        gst_util_uint64_scale (info.samples, GST_SECOND, (guint64) info.sample_rate), 0);

  tags = gst_tag_list_new_empty ();
  /* A comment that holds tags gives them all, as Vorbis comments do; otherwise the header's
   * three strings are the title, artist and comment. */
  if (ostrel_comment_tags (info.comment, strlen (info.comment), add_vorbis_comment, tags) != 1) {
    add_header_string (tags, GST_TAG_TITLE, info.title);
    add_header_string (tags, GST_TAG_ARTIST, info.author);
    add_header_string (tags, GST_TAG_COMMENT, info.comment);
  }
  gst_tag_list_add (tags, GST_TAG_MERGE_REPLACE, GST_TAG_AUDIO_CODEC, "Ostrel",
      GST_TAG_BITRATE, (guint) (info.kbps * 1000), GST_TAG_NOMINAL_BITRATE,
      (guint) (info.kbps * 1000), NULL);
  gst_base_parse_merge_tags (parse, tags, GST_TAG_MERGE_REPLACE);
  gst_tag_list_unref (tags);
  g_free (strings);

  gst_base_parse_set_average_bitrate (parse, (guint) info.kbps * 1000);
  /* One lead-in frame before a seek target, for seeks through the base class's index. */
  gst_base_parse_set_frame_rate (parse, (guint) info.sample_rate, info.samples_per_frame, 1, 0);
  gst_base_parse_set_min_frame_size (parse, info.frame_bytes);
  return GST_FLOW_OK;
}

/* Looks for the first frame of a stream without a header in the bytes from `offset` on (the
 * library's ostrel_find_frame, as ostreldec --join does). Once found, the stream's facts are the
 * frame's rate's, with no frame count and no tags, and the frames are counted from it. Returns
 * GST_FLOW_OK with *skipsize the bytes to drop (0: the frame starts here; *found is then TRUE). */
static GstFlowReturn
gst_ostrel_parse_join (GstOstrelParse * self, guint64 offset, const guint8 * data, gsize size, gint * skipsize,
    gboolean * found)
{
  GstBaseParse *parse = GST_BASE_PARSE (self);
  size_t at = 0;
  int kbps = 0;
  int status;
  GstCaps *caps;

  *found = FALSE;
  status = ostrel_find_frame (data, size, GST_BASE_PARSE_DRAINING (parse) ? 1 : 0, &at, &kbps);
  if (status == OSTREL_ERR_MEMORY) {
    GST_ELEMENT_ERROR (self, RESOURCE, FAILED, (NULL), ("cannot look for a frame: %s", ostrel_strerror (status)));
    return GST_FLOW_ERROR;
  }
  if (status != OSTREL_OK) {
    if (offset + at > GST_OSTREL_JOIN_GIVE_UP || (status == OSTREL_ERR_NOT_OSTREL && GST_BASE_PARSE_DRAINING (parse))) {
      GST_ELEMENT_ERROR (self, STREAM, WRONG_TYPE, (NULL),
          ("not an Ostrel stream: no header, and no frame in its first %" G_GUINT64_FORMAT " bytes", offset + size));
      return GST_FLOW_ERROR;
    }
    *skipsize = (gint) at;
    return GST_FLOW_OK;
  }
  memset (&self->info, 0, sizeof self->info);
  self->info.kbps = kbps;
  self->info.sample_rate = 44100;
  self->info.channels = 2;
  self->info.frame_bytes = (uint32_t) ostrel_frame_bytes (kbps);
  self->info.samples_per_frame = (uint32_t) ostrel_samples_per_frame (kbps);
  self->info.delay = (uint32_t) ostrel_frame_decoder_delay (kbps);
  self->info.header_bytes = offset + at;
  self->have_header = TRUE;
  GST_INFO_OBJECT (self, "no header: joined at byte %" G_GUINT64_FORMAT ", %d kb/s", offset + at, kbps);

  caps = gst_ostrel_caps_from_info (&self->info);
  gst_caps_set_simple (caps, "parsed", G_TYPE_BOOLEAN, TRUE, "framed", G_TYPE_BOOLEAN, TRUE, NULL);
  gst_pad_set_caps (GST_BASE_PARSE_SRC_PAD (parse), caps);
  gst_caps_unref (caps);
  gst_base_parse_set_average_bitrate (parse, (guint) kbps * 1000);
  gst_base_parse_set_frame_rate (parse, self->info.sample_rate, self->info.samples_per_frame, 1, 0);
  gst_base_parse_set_min_frame_size (parse, self->info.frame_bytes);
  *skipsize = (gint) at;
  *found = at == 0;
  return GST_FLOW_OK;
}

/* The first output sample (per channel) of frame `index`. */
static guint64
frame_start_sample (const ostrel_info * info, guint64 index)
{
  return index == 0 ? 0 : index * info->samples_per_frame - info->delay;
}

static GstFlowReturn
gst_ostrel_parse_handle_frame (GstBaseParse * parse, GstBaseParseFrame * frame, gint * skipsize)
{
  GstOstrelParse *self = GST_OSTREL_PARSE (parse);
  GstMapInfo map;
  GstFlowReturn ret;
  guint64 index, into;

  if (!gst_buffer_map (frame->buffer, &map, GST_MAP_READ))
    return GST_FLOW_ERROR;

  if (!self->have_header && !self->joining) {
    guint needed = 0;

    /* Only the start of the stream can hold the header; elsewhere the stream is joined. */
    if (frame->offset == 0) {
      ret = gst_ostrel_parse_header (self, map.data, map.size, &needed);
      if (ret != GST_FLOW_OK || (!self->joining && needed > 0)) {
        gst_buffer_unmap (frame->buffer, &map);
        if (ret == GST_FLOW_OK)
          gst_base_parse_set_min_frame_size (parse, needed);
        *skipsize = 0;
        return ret;
      }
      if (!self->joining) {
        gst_buffer_unmap (frame->buffer, &map);
        /* The header is not passed on: everything it says is in the caps and tags. */
        *skipsize = (gint) self->info.header_bytes;
        return GST_FLOW_OK;
      }
    }
    self->joining = TRUE;
    gst_base_parse_set_min_frame_size (parse, GST_OSTREL_JOIN_LOOK);
  }
  if (!self->have_header) {
    gboolean found = FALSE;

    ret = gst_ostrel_parse_join (self, frame->offset, map.data, map.size, skipsize, &found);
    if (ret != GST_FLOW_OK || !found) {
      gst_buffer_unmap (frame->buffer, &map);
      return ret;
    }
  }

  /* Frames sit at fixed offsets; a buffer that starts elsewhere (a byte seek upstream) is moved
   * on to the next frame's start. */
  if (frame->offset < self->info.header_bytes) {
    gst_buffer_unmap (frame->buffer, &map);
    *skipsize = (gint) (self->info.header_bytes - frame->offset);
    return GST_FLOW_OK;
  }
  into = (frame->offset - self->info.header_bytes) % self->info.frame_bytes;
  if (into != 0) {
    gst_buffer_unmap (frame->buffer, &map);
    *skipsize = (gint) (self->info.frame_bytes - into);
    return GST_FLOW_OK;
  }
  index = (frame->offset - self->info.header_bytes) / self->info.frame_bytes;

  /* Decoding ends with the header's frame count, or with the last whole frame when it is 0;
   * what lies behind is not audio of this stream. */
  if ((self->info.frames > 0 && index >= self->info.frames) || map.size < self->info.frame_bytes) {
    gst_buffer_unmap (frame->buffer, &map);
    if (map.size < self->info.frame_bytes)
      GST_DEBUG_OBJECT (self, "dropping the %" G_GSIZE_FORMAT " bytes of a part frame at the end", map.size);
    return GST_FLOW_EOS;
  }
  gst_buffer_unmap (frame->buffer, &map);

  {
    const guint64 start = frame_start_sample (&self->info, index);
    guint64 end = frame_start_sample (&self->info, index + 1);

    /* The last frame ends with the source's last sample where the header gives the exact length. */
    if (self->info.samples > 0 && end > self->info.samples)
      end = MAX (start, self->info.samples);

    GST_BUFFER_PTS (frame->buffer) = gst_util_uint64_scale (start, GST_SECOND, (guint64) self->info.sample_rate);
    GST_BUFFER_DTS (frame->buffer) = GST_BUFFER_PTS (frame->buffer);
    GST_BUFFER_DURATION (frame->buffer) =
        gst_util_uint64_scale (end, GST_SECOND, (guint64) self->info.sample_rate) - GST_BUFFER_PTS (frame->buffer);
    GST_BUFFER_OFFSET (frame->buffer) = start;
    GST_BUFFER_OFFSET_END (frame->buffer) = end;
  }
  return gst_base_parse_finish_frame (parse, frame, (gint) self->info.frame_bytes);
}

/* Exact conversions between bytes, time and samples per channel. A byte position or size counts
 * the whole frames before it; a time or sample converts to the byte where decoding must start to
 * give that sample: the lead-in frame before the frame that holds it. */
static gboolean
gst_ostrel_parse_convert (GstBaseParse * parse, GstFormat src_format, gint64 src_value,
    GstFormat dest_format, gint64 * dest_value)
{
  GstOstrelParse *self = GST_OSTREL_PARSE (parse);
  const ostrel_info *info = &self->info;
  guint64 frames, sample;

  if (!self->have_header || src_value < 0)
    return gst_base_parse_convert_default (parse, src_format, src_value, dest_format, dest_value);
  if (src_format == dest_format) {
    *dest_value = src_value;
    return TRUE;
  }

  if (src_format == GST_FORMAT_BYTES) {
    frames = (guint64) src_value > info->header_bytes ?
        ((guint64) src_value - info->header_bytes) / info->frame_bytes : 0;
    if (info->frames > 0 && frames > info->frames)
      frames = info->frames;
    sample = frame_start_sample (info, frames);
    if (dest_format == GST_FORMAT_TIME) {
      *dest_value = (gint64) gst_util_uint64_scale (sample, GST_SECOND, (guint64) info->sample_rate);
      return TRUE;
    }
    if (dest_format == GST_FORMAT_DEFAULT) {
      *dest_value = (gint64) sample;
      return TRUE;
    }
    return FALSE;
  }

  if (src_format != GST_FORMAT_TIME && src_format != GST_FORMAT_DEFAULT)
    return FALSE;
  /* The first sample at or after the time. */
  sample = src_format == GST_FORMAT_TIME ?
      gst_util_uint64_scale_ceil ((guint64) src_value, (guint64) info->sample_rate, GST_SECOND) :
      (guint64) src_value;
  if (dest_format == GST_FORMAT_BYTES) {
    frames = (sample + info->delay) / info->samples_per_frame;
    if (frames > 0)
      frames--;
    *dest_value = (gint64) (info->header_bytes + frames * info->frame_bytes);
    return TRUE;
  }
  if (dest_format == GST_FORMAT_TIME) {
    *dest_value = (gint64) gst_util_uint64_scale (sample, GST_SECOND, (guint64) info->sample_rate);
    return TRUE;
  }
  if (dest_format == GST_FORMAT_DEFAULT) {
    *dest_value = (gint64) sample;
    return TRUE;
  }
  return FALSE;
}

static void
gst_ostrel_parse_class_init (GstOstrelParseClass * klass)
{
  GstElementClass *element_class = GST_ELEMENT_CLASS (klass);
  GstBaseParseClass *parse_class = GST_BASE_PARSE_CLASS (klass);

  GST_DEBUG_CATEGORY_INIT (gst_ostrel_parse_debug, "ostrelparse", 0, "Ostrel stream parser");

  gst_element_class_add_static_pad_template (element_class, &sink_template);
  gst_element_class_add_static_pad_template (element_class, &src_template);
  gst_element_class_set_static_metadata (element_class, "Ostrel parser", "Codec/Parser/Audio",
      "Splits an Ostrel stream into frames; duration, seeking and the header's tags",
      "The Ostrel developers");

  parse_class->start = GST_DEBUG_FUNCPTR (gst_ostrel_parse_start);
  parse_class->stop = GST_DEBUG_FUNCPTR (gst_ostrel_parse_stop);
  parse_class->handle_frame = GST_DEBUG_FUNCPTR (gst_ostrel_parse_handle_frame);
  parse_class->convert = GST_DEBUG_FUNCPTR (gst_ostrel_parse_convert);
}

static void
gst_ostrel_parse_init (GstOstrelParse * self)
{
  gst_ostrel_parse_reset (self);
  GST_PAD_SET_ACCEPT_INTERSECT (GST_BASE_PARSE_SINK_PAD (self));
  GST_PAD_SET_ACCEPT_TEMPLATE (GST_BASE_PARSE_SINK_PAD (self));
}
