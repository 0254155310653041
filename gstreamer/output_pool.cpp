#include "output_pool.h"

#include <gst/video/video.h>

#include <cstring>

#include "sample_scaling.h"

namespace lvtgst {

gboolean choosePool(GstQuery* query) {
  GstCaps* caps = nullptr;
  gst_query_parse_allocation(query, &caps, nullptr);
  GstVideoInfo info;
  if (caps == nullptr || !gst_video_info_from_caps(&info, caps)) return FALSE;
  GstBufferPool* pool = nullptr;
  guint size = static_cast<guint>(GST_VIDEO_INFO_SIZE(&info)), min = 0, max = 0;
  const bool offered = gst_query_get_n_allocation_pools(query) > 0;
  if (offered) {
    gst_query_parse_nth_allocation_pool(query, 0, &pool, &size, &min, &max);
    size = MAX(size, static_cast<guint>(GST_VIDEO_INFO_SIZE(&info)));
  }
  if (pool == nullptr) pool = gst_video_buffer_pool_new();
  GstStructure* config = gst_buffer_pool_get_config(pool);
  gst_buffer_pool_config_set_params(config, caps, size, min, max);
  if (gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr)) {
    gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
  }
  if (!gst_buffer_pool_set_config(pool, config)) {
    // Downstream's pool wants other parameters: one of our own takes these.
    gst_object_unref(pool);
    pool = gst_video_buffer_pool_new();
    config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_set_params(config, caps, size, min, max);
    if (!gst_buffer_pool_set_config(pool, config)) {
      gst_object_unref(pool);
      return FALSE;
    }
  }
  if (offered) {
    gst_query_set_nth_allocation_pool(query, 0, pool, size, min, max);
  } else {
    gst_query_add_allocation_pool(query, pool, size, min, max);
  }
  gst_object_unref(pool);
  return TRUE;
}

GstFlowReturn samplesIntoPooledBuffer(GstBaseSrc* base, const float* values, unsigned columns,
                                      unsigned rows, double scale, GstBuffer** out) {
  GstVideoInfo info;
  if (!gst_video_info_set_format(&info, GST_VIDEO_FORMAT_GRAY16_LE, columns, rows)) {
    return GST_FLOW_ERROR;
  }
  GstBuffer* buffer = nullptr;
  GstBufferPool* pool = gst_base_src_get_buffer_pool(base);
  if (pool != nullptr) {
    const GstFlowReturn got = gst_buffer_pool_acquire_buffer(pool, &buffer, nullptr);
    gst_object_unref(pool);
    if (got != GST_FLOW_OK) return got;
    if (gst_buffer_get_size(buffer) < GST_VIDEO_INFO_SIZE(&info)) {  // a pool for older caps
      gst_buffer_unref(buffer);
      buffer = nullptr;
    }
  }
  if (buffer == nullptr)
    buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr);
  if (buffer == nullptr) return GST_FLOW_ERROR;
  // Mapped as a video frame: a pool's buffers may carry a layout of their own (video meta).
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_WRITE)) {
    gst_buffer_unref(buffer);
    return GST_FLOW_ERROR;
  }
  auto* data = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
  const auto stride = static_cast<size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
  const size_t rowBytes = size_t{columns} * 2;
  if (stride == rowBytes) {
    toSamplesLE(values, size_t{columns} * rows, scale, data);
  } else {
    for (unsigned r = 0; r < rows; ++r) {
      toSamplesLE(values + size_t{r} * columns, columns, scale, data + r * stride);
      std::memset(data + r * stride + rowBytes, 0, stride - rowBytes);
    }
  }
  gst_video_frame_unmap(&frame);
  *out = buffer;
  return GST_FLOW_OK;
}

}  // namespace lvtgst
