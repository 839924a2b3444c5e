/* The type finder that recognises an Ostrel stream by its header. */
#ifndef GST_OSTREL_TYPE_FIND_H
#define GST_OSTREL_TYPE_FIND_H

#include <gst/gst.h>

G_BEGIN_DECLS

/* Registers the type finder "ostrel" (caps audio/x-ostrel with rate, channels and bitrate,
 * extension "ost") with `plugin`. */
gboolean gst_ostrel_type_find_register (GstPlugin * plugin);

G_END_DECLS

#endif /* GST_OSTREL_TYPE_FIND_H */
