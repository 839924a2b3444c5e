/* The gstostrel plugin: type finder, parser, decoder and encoder of Ostrel streams. */
#include <gst/gst.h>

#include "gst/gstostreldec.h"
#include "gst/gstostrelenc.h"
#include "gst/gstostrelparse.h"
#include "gst/gstostreltypefind.h"

#ifndef PACKAGE
#define PACKAGE "ostrel"
#endif
#ifndef OSTREL_GST_VERSION
#define OSTREL_GST_VERSION "0.0.0"
#endif

static gboolean
plugin_init (GstPlugin * plugin)
{
  gboolean ok = gst_ostrel_type_find_register (plugin);

  ok &= GST_ELEMENT_REGISTER (ostrelparse, plugin);
  ok &= GST_ELEMENT_REGISTER (ostreldec, plugin);
  ok &= GST_ELEMENT_REGISTER (ostrelenc, plugin);
  return ok;
}

GST_PLUGIN_DEFINE (GST_VERSION_MAJOR, GST_VERSION_MINOR, ostrel,
    "Ostrel compressed audio: type finder, parser, decoder and encoder", plugin_init,
    OSTREL_GST_VERSION, "unknown", "Ostrel", "the Ostrel project")
