/* ostrelparse: splits an Ostrel stream into its frames, with timestamps, duration, seeking and
 * the header's tags. */
#ifndef GST_OSTREL_PARSE_H
#define GST_OSTREL_PARSE_H

#include <gst/base/gstbaseparse.h>

#include "ostrel/ostrel.h"

G_BEGIN_DECLS

#define GST_TYPE_OSTREL_PARSE (gst_ostrel_parse_get_type ())
G_DECLARE_FINAL_TYPE (GstOstrelParse, gst_ostrel_parse, GST, OSTREL_PARSE, GstBaseParse)

struct _GstOstrelParse
{
  GstBaseParse parent;

  gboolean have_header;         /* the stream's facts are known: from its header, or joined */
  gboolean joining;             /* no header: looking for the first frame */
  ostrel_info info;             /* the header's facts; its strings are not kept */
  guint header_look;            /* bytes the next attempt to read the header asks for */
};

GST_ELEMENT_REGISTER_DECLARE (ostrelparse);

G_END_DECLS

#endif /* GST_OSTREL_PARSE_H */
