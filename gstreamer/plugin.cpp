// The GStreamer plug-in libgstlvt: registers the lvtsrc element.
#include <gst/gst.h>

#include "lvt_src.h"

#ifndef PACKAGE
#define PACKAGE "lvt"
#endif
#ifndef VERSION
#define VERSION "1.0.0"
#endif

namespace {

gboolean registerElements(GstPlugin* plugin) {
  return gst_element_register(plugin, "lvtsrc", GST_RANK_NONE, GST_TYPE_LVT_SRC);
}

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, lvt,
                  "Network time-of-flight camera through the lvt camera plug-in", registerElements,
                  VERSION, "Proprietary", PACKAGE, "lvt")
