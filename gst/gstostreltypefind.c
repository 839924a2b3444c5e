#include "gst/gstostreltypefind.h"

#include "gst/gstostrelcaps.h"

GST_DEBUG_CATEGORY_STATIC (ostrel_type_find_debug);
#define GST_CAT_DEFAULT ostrel_type_find_debug

/* A header is a fixed part and three strings of any length up to the maximum, so the finder
 * looks at growing prefixes until the library can read the whole header. Nearly every stream
 * has the 30-byte header of untagged files, which the first look covers. */
static const guint peek_sizes[] = { 64, 1024, 16384, GST_OSTREL_HEADER_MAX_BYTES };

static void
ostrel_type_find (GstTypeFind * tf, gpointer user_data)
{
  const guint64 length = gst_type_find_get_length (tf);
  (void) user_data;

  for (guint i = 0; i < G_N_ELEMENTS (peek_sizes); ++i) {
    guint size = peek_sizes[i];
    const guint8 *data;
    ostrel_info info;
    int status;

    /* A short file holds fewer bytes than a look asks for: look at all of it. */
    if (length > 0 && length < size)
      size = (guint) length;
    data = gst_type_find_peek (tf, 0, size);
    if (data == NULL)
      return;

    status = ostrel_parse_header (data, size, &info, NULL, 0);
    if (status == OSTREL_OK) {
      GstCaps *caps = gst_ostrel_caps_from_info (&info);
      GST_DEBUG ("Ostrel header at %d kb/s, %u frames", info.kbps, info.frames);
      gst_type_find_suggest (tf, GST_TYPE_FIND_MAXIMUM, caps);
      gst_caps_unref (caps);
      return;
    }
    /* Anything but a header cut short by the look settles it: not a stream of ours. */
    if (status != OSTREL_ERR_TRUNCATED || size == length)
      return;
  }
}

gboolean
gst_ostrel_type_find_register (GstPlugin * plugin)
{
  GstCaps *caps;
  gboolean registered;

  GST_DEBUG_CATEGORY_INIT (ostrel_type_find_debug, "ostreltypefind", 0, "Ostrel type finder");
  caps = gst_caps_new_empty_simple (GST_OSTREL_MEDIA_TYPE);
  registered = gst_type_find_register (plugin, "ostrel", GST_RANK_PRIMARY, ostrel_type_find, "ost",
      caps, NULL, NULL);
  gst_caps_unref (caps);
  return registered;
}
