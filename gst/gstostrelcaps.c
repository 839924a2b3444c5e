#include "gst/gstostrelcaps.h"

#include <string.h>

GstCaps *
gst_ostrel_caps_from_info (const ostrel_info * info)
{
  return gst_caps_new_simple (GST_OSTREL_MEDIA_TYPE,
      "rate", G_TYPE_INT, info->sample_rate,
      "channels", G_TYPE_INT, info->channels,
      GST_OSTREL_CAPS_BITRATE, G_TYPE_INT, info->kbps * 1000, NULL);
}

void
gst_ostrel_caps_set_streamheader (GstCaps * caps, const guint8 * header, gsize bytes)
{
  GValue array = G_VALUE_INIT;
  GValue value = G_VALUE_INIT;
  GstBuffer *buffer = gst_buffer_new_memdup (header, bytes);

  GST_BUFFER_FLAG_SET (buffer, GST_BUFFER_FLAG_HEADER);
  g_value_init (&array, GST_TYPE_ARRAY);
  g_value_init (&value, GST_TYPE_BUFFER);
  gst_value_take_buffer (&value, buffer);
  gst_value_array_append_and_take_value (&array, &value);
  gst_structure_take_value (gst_caps_get_structure (caps, 0), GST_OSTREL_CAPS_STREAMHEADER, &array);
}

int
gst_ostrel_caps_get_streamheader (const GstCaps * caps, ostrel_info * info)
{
  const GstStructure *s;
  const GValue *array, *first;
  GstBuffer *buffer;
  GstMapInfo map;
  int status;

  if (caps == NULL || gst_caps_get_size (caps) == 0)
    return OSTREL_ERR_ARGUMENT;
  s = gst_caps_get_structure (caps, 0);
  array = gst_structure_get_value (s, GST_OSTREL_CAPS_STREAMHEADER);
  if (array == NULL || !GST_VALUE_HOLDS_ARRAY (array) || gst_value_array_get_size (array) == 0) {
    /* A stream joined without its header: the rate alone gives the frames. */
    gint bitrate = 0, rate = 0, channels = 0;
    if (!gst_structure_get_int (s, GST_OSTREL_CAPS_BITRATE, &bitrate) || !gst_structure_get_int (s, "rate", &rate) ||
        !gst_structure_get_int (s, "channels", &channels) || ostrel_samples_per_frame (bitrate / 1000) < 0)
      return OSTREL_ERR_ARGUMENT;
    memset (info, 0, sizeof *info);
    info->kbps = bitrate / 1000;
    info->sample_rate = rate;
    info->channels = channels;
    info->frame_bytes = (uint32_t) ostrel_frame_bytes (info->kbps);
    info->samples_per_frame = (uint32_t) ostrel_samples_per_frame (info->kbps);
    info->delay = (uint32_t) ostrel_frame_decoder_delay (info->kbps);
    return rate == 44100 && channels == 2 ? OSTREL_OK : OSTREL_ERR_UNSUPPORTED;
  }
  first = gst_value_array_get_value (array, 0);
  if (!GST_VALUE_HOLDS_BUFFER (first))
    return OSTREL_ERR_ARGUMENT;
  buffer = gst_value_get_buffer (first);
  if (!gst_buffer_map (buffer, &map, GST_MAP_READ))
    return OSTREL_ERR_ARGUMENT;
  status = ostrel_parse_header (map.data, map.size, info, NULL, 0);
  gst_buffer_unmap (buffer, &map);
  return status;
}
