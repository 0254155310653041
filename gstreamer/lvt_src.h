// lvtsrc: a live source element that delivers one image per camera frame as 16-bit gray video,
// through the camera plug-in loaded by vyxhost.
#pragma once

#include <gst/base/gstpushsrc.h>

G_BEGIN_DECLS

#define GST_TYPE_LVT_SRC (gst_lvt_src_get_type())
G_DECLARE_FINAL_TYPE(GstLvtSrc, gst_lvt_src, GST, LVT_SRC, GstPushSrc)

G_END_DECLS
