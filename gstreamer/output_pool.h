// The element's output buffers: a video buffer pool negotiated with downstream, and the 16-bit
// samples written straight into a pooled buffer's memory.
#pragma once

#include <gst/base/gstbasesrc.h>

namespace lvtgst {

// For GstBaseSrc::decide_allocation: puts first in the query downstream's pool when it takes
// our caps, else a video buffer pool of our own, sized for the negotiated caps.
gboolean choosePool(GstQuery* query);

// Scales columns * rows values into a buffer of the source's pool (a new buffer when there is
// none), row by row at the buffer's own stride. GST_FLOW_FLUSHING while the pool is inactive.
GstFlowReturn samplesIntoPooledBuffer(GstBaseSrc* base, const float* values, unsigned columns,
                                      unsigned rows, double scale, GstBuffer** out);

}  // namespace lvtgst
