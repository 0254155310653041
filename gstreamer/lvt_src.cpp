#include "lvt_src.h"

#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camera_link.h"
#include "distance_filter.h"
#include "output_pool.h"
#include "sample_scaling.h"
#include "vyxdatadescription.h"
#include "vyxhost/output_types.h"

GST_DEBUG_CATEGORY_STATIC(lvt_src_debug);
#define GST_CAT_DEFAULT lvt_src_debug

namespace {

enum class Image : int { Distance = 0, Amplitude = 1, Intensity = 2 };

enum Property : guint {
  PROP_0,
  PROP_ADDRESS,
  PROP_SIMULATE,
  PROP_PLUGIN,
  PROP_IMAGE,
  PROP_ITIME0,
  PROP_ITIME1,
  PROP_FPS,
  PROP_SCALE,
  PROP_FILTERS,
};

constexpr double kDefaultScale = 1000.0;

// Everything the element keeps besides its GObject parts. lock guards the settings and what
// the caps say; it is never held while waiting for the camera.
struct State {
  std::mutex lock;
  lvtgst::CameraSettings settings;
  Image image = Image::Distance;
  double scale = kDefaultScale;
  bool filters = true;                       // unusable distances become 0
  std::shared_ptr<lvtgst::CameraLink> link;  // open from READY->PAUSED to PAUSED->READY
  // What the caps say now.
  unsigned columns = 0, rows = 0, fps = 0;
  // The camera's settings while open (the settings above hold what the user asked for).
  unsigned itime0 = 0, itime1 = 0, rate = 0;
  bool failed = false;                // a live setting was refused: the stream ends in an error
  std::atomic<bool> flushing{false};  // set by unlock(): no further frame is waited for
  // The streaming thread's alone.
  vyxhost::Frame frame;
  std::vector<float> values;
  lvtgst::DistanceFilter filter;
};

GType imageEnumType() {
  static GType type = 0;
  static const GEnumValue values[] = {
      {static_cast<gint>(Image::Distance), "Radial distance (scale: units per metre)", "distance"},
      {static_cast<gint>(Image::Amplitude), "Amplitude (scale: multiplier)", "amplitude"},
      {static_cast<gint>(Image::Intensity), "Intensity (scale: multiplier)", "intensity"},
      {0, nullptr, nullptr},
  };
  if (g_once_init_enter(&type))
    g_once_init_leave(&type, g_enum_register_static("GstLvtSrcImage", values));
  return type;
}

// The property's nick names the host's output type ("distance" is VYX_TYPE_10001).
uint32_t lookUpOutputType(Image image) {
  auto* images = static_cast<GEnumClass*>(g_type_class_ref(imageEnumType()));
  const GEnumValue* value = g_enum_get_value(images, static_cast<gint>(image));
  const vyxhost::OutputType* type = value ? vyxhost::findOutputType(value->value_nick) : nullptr;
  g_type_class_unref(images);
  return type != nullptr ? type->code : VYX_TYPE_10001;
}

// Looked up once per process: create() asks for every frame.
uint32_t outputTypeOf(Image image) {
  static const uint32_t types[] = {lookUpOutputType(Image::Distance),
                                   lookUpOutputType(Image::Amplitude),
                                   lookUpOutputType(Image::Intensity)};
  return types[static_cast<int>(image)];
}

GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format=(string)GRAY16_LE, width=(int)[1, MAX], "
                    "height=(int)[1, MAX], framerate=(fraction)[0/1, MAX]"));

}  // namespace

struct _GstLvtSrc {
  GstPushSrc parent;
  State* state;
};

G_DEFINE_TYPE(GstLvtSrc, gst_lvt_src, GST_TYPE_PUSH_SRC)

namespace {

State& stateOf(gpointer object) { return *GST_LVT_SRC(object)->state; }

GstCaps* capsFor(unsigned columns, unsigned rows, unsigned fps) {
  return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "GRAY16_LE", "width",
                             G_TYPE_INT, static_cast<gint>(columns), "height", G_TYPE_INT,
                             static_cast<gint>(rows), "framerate", GST_TYPE_FRACTION,
                             static_cast<gint>(fps), 1, nullptr);
}

// Sends a live setting to the open camera, which checks it against its ranges. Returns "" when
// it holds, else why not (the camera keeps its old value). Called without the state's lock: the
// camera takes a setting between two frames.
std::string applyLive(lvtgst::CameraLink& link, guint prop, guint value) {
  try {
    if (prop == PROP_FPS) {
      link.camera().setFrameRate(value);
    } else {
      link.camera().setIntegrationTime(prop == PROP_ITIME0 ? 0 : 1, value);
    }
    return {};
  } catch (const std::exception& e) {
    return e.what();
  }
}

// Records a setting the camera took (or, closed, one it is to get when it opens).
void keepSetting(State& st, guint prop, guint value, bool open) {
  if (prop == PROP_ITIME0) {
    st.settings.itime0 = value;
    if (open) st.itime0 = value;
  } else if (prop == PROP_ITIME1) {
    st.settings.itime1 = value;
    if (open) st.itime1 = value;
  } else {
    st.settings.fps = value;
    if (open) st.rate = value;  // caps follow with the next frame
  }
}

// A string property's value; "" for none.
std::string textOf(const GValue* value) {
  const gchar* text = g_value_get_string(value);
  return text != nullptr ? text : "";
}

void setProperty(GObject* object, guint propId, const GValue* value, GParamSpec* pspec) {
  State& st = stateOf(object);
  std::string refusal;  // posted once the state is unlocked: bus handlers may read properties
  std::shared_ptr<lvtgst::CameraLink> link;
  std::unique_lock<std::mutex> hold(st.lock);
  const bool open = static_cast<bool>(st.link);
  auto refuseWhileOpen = [&]() {
    if (!open) return false;
    g_warning(
        "lvtsrc: \"%s\" cannot change while the camera is open; set it in the NULL or "
        "READY state (value kept)",
        pspec->name);
    return true;
  };
  switch (propId) {
    case PROP_ADDRESS:
      if (!refuseWhileOpen()) st.settings.address = textOf(value);
      break;
    case PROP_SIMULATE:
      if (!refuseWhileOpen()) st.settings.simulate = g_value_get_boolean(value);
      break;
    case PROP_PLUGIN:
      if (!refuseWhileOpen()) st.settings.pluginPath = textOf(value);
      break;
    case PROP_IMAGE:
      st.image = static_cast<Image>(g_value_get_enum(value));
      break;
    case PROP_ITIME0:
    case PROP_ITIME1:
    case PROP_FPS: {
      const guint v = g_value_get_uint(value);
      if (!open) {
        keepSetting(st, propId, v, false);  // the camera checks it when it opens
        break;
      }
      link = st.link;
      hold.unlock();
      refusal = applyLive(*link, propId, v);
      hold.lock();
      if (st.link != link) {
        refusal.clear();  // closed meanwhile: no stream left to end
      } else if (refusal.empty()) {
        keepSetting(st, propId, v, true);
      } else {
        st.failed = true;
      }
      break;
    }
    case PROP_SCALE: {
      const double v = g_value_get_double(value);
      if (!std::isfinite(v) || v <= 0.0) {
        g_warning("lvtsrc: scale must be a positive number, not %g (value kept)", v);
      } else {
        st.scale = v;
      }
      break;
    }
    case PROP_FILTERS:
      st.filters = g_value_get_boolean(value);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, propId, pspec);
  }
  hold.unlock();
  if (!refusal.empty()) {
    // A value the camera refuses is an error of the pipeline, as it would be at the start.
    GST_ELEMENT_ERROR(GST_LVT_SRC(object), RESOURCE, SETTINGS,
                      ("The camera refused %s: %s", pspec->name, refusal.c_str()), (nullptr));
  }
}

void getProperty(GObject* object, guint propId, GValue* value, GParamSpec* pspec) {
  State& st = stateOf(object);
  const std::lock_guard<std::mutex> hold(st.lock);
  switch (propId) {
    case PROP_ADDRESS:
      g_value_set_string(value, st.settings.address.c_str());
      break;
    case PROP_SIMULATE:
      g_value_set_boolean(value, st.settings.simulate);
      break;
    case PROP_PLUGIN:
      g_value_set_string(value, st.settings.pluginPath.c_str());
      break;
    case PROP_IMAGE:
      g_value_set_enum(value, static_cast<gint>(st.image));
      break;
    // While open, what the camera uses; otherwise what was asked for (0: the camera's).
    case PROP_ITIME0:
      g_value_set_uint(value, st.link ? st.itime0 : st.settings.itime0);
      break;
    case PROP_ITIME1:
      g_value_set_uint(value, st.link ? st.itime1 : st.settings.itime1);
      break;
    case PROP_FPS:
      g_value_set_uint(value, st.link ? st.rate : st.settings.fps);
      break;
    case PROP_SCALE:
      g_value_set_double(value, st.scale);
      break;
    case PROP_FILTERS:
      g_value_set_boolean(value, st.filters);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, propId, pspec);
  }
}

// READY->PAUSED, before the base class starts: opens the camera and takes frame 0, whose image
// gives the caps. A failure is posted here, so that the state change fails with our message
// alone. The opening runs without the state's lock: properties stay readable meanwhile.
bool openCamera(GstLvtSrc* self) {
  State& st = stateOf(self);
  lvtgst::CameraSettings settings;
  Image image = Image::Distance;
  {
    const std::lock_guard<std::mutex> hold(st.lock);
    settings = st.settings;
    image = st.image;
  }
  std::shared_ptr<lvtgst::CameraLink> link;
  try {
    link = std::make_shared<lvtgst::CameraLink>(settings, outputTypeOf(image));
  } catch (const std::exception& e) {
    const std::string where =
        settings.simulate ? std::string("simulated camera") : "camera at " + settings.address;
    GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("%s", e.what()),
                      ("opening the %s failed", where.c_str()));
    return false;
  }
  const std::lock_guard<std::mutex> hold(st.lock);
  st.link = link;
  st.itime0 = link->opened().itime0;
  st.itime1 = link->opened().itime1;
  st.rate = st.fps = link->opened().fps;
  st.columns = link->firstShape().columns;
  st.rows = link->firstShape().rows;
  st.failed = false;
  st.flushing = false;
  GST_INFO_OBJECT(self, "camera open at %s through %s: %ux%u at %u fps", link->address().c_str(),
                  link->camera().plugin().path().c_str(), st.columns, st.rows, st.fps);
  return true;
}

// PAUSED->READY, once the streaming thread has stopped. Closing waits for no silent camera.
gboolean stopCamera(GstBaseSrc* base) {
  State& st = stateOf(base);
  std::shared_ptr<lvtgst::CameraLink> link;
  {
    const std::lock_guard<std::mutex> hold(st.lock);
    link.swap(st.link);
  }
  link.reset();
  return TRUE;
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition) {
  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED && !openCamera(GST_LVT_SRC(element))) {
    return GST_STATE_CHANGE_FAILURE;
  }
  const GstStateChangeReturn result =
      GST_ELEMENT_CLASS(gst_lvt_src_parent_class)->change_state(element, transition);
  if (result == GST_STATE_CHANGE_FAILURE && transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
    stopCamera(GST_BASE_SRC(element));
  }
  return result;
}

GstCaps* getCaps(GstBaseSrc* base, GstCaps* filter) {
  State& st = stateOf(base);
  GstCaps* caps = nullptr;
  {
    const std::lock_guard<std::mutex> hold(st.lock);
    if (st.link) caps = capsFor(st.columns, st.rows, st.fps);
  }
  if (caps == nullptr) caps = gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(base));
  if (filter != nullptr) {
    GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(caps);
    caps = both;
  }
  return caps;
}

gboolean query(GstBaseSrc* base, GstQuery* q) {
  if (GST_QUERY_TYPE(q) == GST_QUERY_LATENCY) {
    State& st = stateOf(base);
    unsigned fps = 0;
    {
      const std::lock_guard<std::mutex> hold(st.lock);
      if (st.link) fps = st.fps;
    }
    if (fps == 0) return GST_BASE_SRC_CLASS(gst_lvt_src_parent_class)->query(base, q);
    // A frame is stamped when it has arrived, one frame period after it began. The camera
    // only sends a frame when asked, so waiting downstream loses nothing: no upper bound.
    const GstClockTime period = gst_util_uint64_scale_int(GST_SECOND, 1, static_cast<gint>(fps));
    gst_query_set_latency(q, TRUE, period, GST_CLOCK_TIME_NONE);
    return TRUE;
  }
  return GST_BASE_SRC_CLASS(gst_lvt_src_parent_class)->query(base, q);
}

std::shared_ptr<lvtgst::CameraLink> linkOf(State& st) {
  const std::lock_guard<std::mutex> hold(st.lock);
  return st.link;
}

// A pause, a flush or going to NULL: the streaming thread stops waiting for a frame. Stopping
// closes the camera, which ends a grab under way at once, or within the plug-in's bound for a
// camera that stopped answering; a pause lets the grab under way end with the camera's next
// frame, which is then dropped.
gboolean unlock(GstBaseSrc* base) {
  State& st = stateOf(base);
  st.flushing = true;
  if (GST_STATE_TARGET(base) <= GST_STATE_READY) {
    if (const auto link = linkOf(st)) link->interrupt();
  }
  return TRUE;
}

gboolean unlockStop(GstBaseSrc* base) {
  State& st = stateOf(base);
  st.flushing = false;
  return TRUE;
}

// Our pool, then the base class's handling of the allocator (which also activates the pool).
gboolean decideAllocation(GstBaseSrc* base, GstQuery* query) {
  return lvtgst::choosePool(query) &&
         GST_BASE_SRC_CLASS(gst_lvt_src_parent_class)->decide_allocation(base, query);
}

// The pipeline's running time when the frame arrived (vyxpUpdate returned).
GstClockTime arrivalTime(GstElement* element, const vyxhost::Frame& frame) {
  GstClock* clock = gst_element_get_clock(element);
  if (clock == nullptr) return GST_CLOCK_TIME_NONE;
  const GstClockTime now = gst_clock_get_time(clock);
  gst_object_unref(clock);
  const int64_t age = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count() -
                      frame.monotonicNs;
  const GstClockTime base =
      gst_element_get_base_time(element) + static_cast<GstClockTime>(std::max<int64_t>(age, 0));
  return now >= base ? now - base : 0;
}

GstFlowReturn create(GstPushSrc* push, GstBuffer** out) {
  GstLvtSrc* self = GST_LVT_SRC(push);
  GstBaseSrc* base = GST_BASE_SRC(push);
  State& st = stateOf(push);
  if (st.flushing) return GST_FLOW_FLUSHING;
  // The link stays: stop() only comes once this thread has left create().
  std::shared_ptr<lvtgst::CameraLink> link;
  Image image = Image::Distance;
  bool filters = false;
  {
    const std::lock_guard<std::mutex> hold(st.lock);
    if (st.failed) return GST_FLOW_ERROR;  // already posted
    link = st.link;
    image = st.image;
    filters = st.filters;
  }
  if (!link) return GST_FLOW_FLUSHING;
  vyxhost::ImageShape shape;
  try {
    link->next(st.frame);
    if (st.flushing) {  // a frame that waited through a pause is stale
      const std::lock_guard<std::mutex> hold(st.lock);
      return st.failed ? GST_FLOW_ERROR : GST_FLOW_FLUSHING;
    }
    shape = lvtgst::toFloats(link->camera(), outputTypeOf(image), st.frame, st.values);
    if (filters && image == Image::Distance) {
      st.filter.apply(link->camera(), st.frame, shape, st.values.data());
    }
  } catch (const std::exception& e) {
    if (st.flushing) return GST_FLOW_FLUSHING;
    GST_ELEMENT_ERROR(self, RESOURCE, READ, ("%s", e.what()),
                      ("fetching a frame from the camera failed"));
    return GST_FLOW_ERROR;
  }
  const GstClockTime pts = arrivalTime(GST_ELEMENT(push), st.frame);

  std::unique_lock<std::mutex> hold(st.lock);
  if (st.failed) return GST_FLOW_ERROR;  // a setting was refused meanwhile: already posted
  const double scale = st.scale;
  const unsigned fps = st.rate;
  const bool newCaps = shape.columns != st.columns || shape.rows != st.rows || fps != st.fps;
  st.columns = shape.columns;
  st.rows = shape.rows;
  st.fps = fps;
  hold.unlock();
  if (newCaps) {
    // get_caps now answers the new shape and rate; negotiating also sets up a pool for it.
    if (!gst_base_src_negotiate(base)) {
      GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                        ("the camera now delivers %ux%u at %u fps, which downstream refuses",
                         shape.columns, shape.rows, fps),
                        (nullptr));
      return GST_FLOW_NOT_NEGOTIATED;
    }
    // The latency is a frame period: let the pipeline ask again.
    gst_element_post_message(GST_ELEMENT(push), gst_message_new_latency(GST_OBJECT(push)));
  }

  GstBuffer* buffer = nullptr;
  const GstFlowReturn got = lvtgst::samplesIntoPooledBuffer(base, st.values.data(), shape.columns,
                                                            shape.rows, scale, &buffer);
  if (got != GST_FLOW_OK) {
    if (got != GST_FLOW_FLUSHING) {
      GST_ELEMENT_ERROR(self, RESOURCE, FAILED,
                        ("no buffer for a %ux%u frame", shape.columns, shape.rows), (nullptr));
    }
    return got;
  }
  GST_BUFFER_PTS(buffer) = pts;
  GST_BUFFER_DTS(buffer) = pts;
  GST_BUFFER_DURATION(buffer) =
      fps != 0 ? gst_util_uint64_scale_int(GST_SECOND, 1, static_cast<gint>(fps))
               : GST_CLOCK_TIME_NONE;
  GST_BUFFER_OFFSET(buffer) = st.frame.sequence;
  GST_BUFFER_OFFSET_END(buffer) = st.frame.sequence + 1;
  *out = buffer;
  return GST_FLOW_OK;
}

void finalize(GObject* object) {
  delete GST_LVT_SRC(object)->state;
  GST_LVT_SRC(object)->state = nullptr;
  G_OBJECT_CLASS(gst_lvt_src_parent_class)->finalize(object);
}

}  // namespace

static void gst_lvt_src_class_init(GstLvtSrcClass* klass) {
  GObjectClass* gobject = G_OBJECT_CLASS(klass);
  GstElementClass* element = GST_ELEMENT_CLASS(klass);
  GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
  GstPushSrcClass* push = GST_PUSH_SRC_CLASS(klass);
  GST_DEBUG_CATEGORY_INIT(lvt_src_debug, "lvtsrc", 0, "lvt camera source");

  gobject->set_property = setProperty;
  gobject->get_property = getProperty;
  gobject->finalize = finalize;
  const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
  const auto readyFlags = static_cast<GParamFlags>(flags | GST_PARAM_MUTABLE_READY);
  const auto liveFlags = static_cast<GParamFlags>(flags | GST_PARAM_MUTABLE_PLAYING);
  g_object_class_install_property(
      gobject, PROP_ADDRESS,
      g_param_spec_string("address", "Camera address",
                          "IPv4 address of the camera (control on port 8080); ignored when "
                          "simulate=true",
                          "", readyFlags));
  g_object_class_install_property(
      gobject, PROP_SIMULATE,
      g_param_spec_boolean("simulate", "Simulate",
                           "Start a simulated camera on a free loopback address 127.x.y.z, "
                           "delivering at its frame rate, and open that one",
                           FALSE, readyFlags));
  g_object_class_install_property(
      gobject, PROP_PLUGIN,
      g_param_spec_string("plugin", "Camera plug-in",
                          "Path of lvt.L32.vcp; empty: LVT_PLUGIN, then the install location, "
                          "then the build tree, as the command-line tools look",
                          "", readyFlags));
  g_object_class_install_property(
      gobject, PROP_IMAGE,
      g_param_spec_enum("image", "Image", "Which image of each frame to deliver", imageEnumType(),
                        static_cast<gint>(Image::Distance), liveFlags));
  g_object_class_install_property(
      gobject, PROP_ITIME0,
      g_param_spec_uint("itime0", "Integration time 0",
                        "First integration time in microseconds (0: keep the camera's; reads "
                        "back the camera's once open); sent to the camera while playing. The "
                        "camera decides its range: a value outside it stops the pipeline with "
                        "an error",
                        0, G_MAXUINT, 0, liveFlags));
  g_object_class_install_property(
      gobject, PROP_ITIME1,
      g_param_spec_uint("itime1", "Integration time 1",
                        "Second integration time in microseconds (0: keep the camera's; reads "
                        "back the camera's once open); sent to the camera while playing. The "
                        "camera decides its range: a value outside it stops the pipeline with "
                        "an error",
                        0, G_MAXUINT, 0, liveFlags));
  g_object_class_install_property(
      gobject, PROP_FPS,
      g_param_spec_uint("fps", "Frame rate",
                        "Frames per second, from 1 up to the camera's limit (0 before opening: "
                        "keep the camera's; reads back the camera's once open); sent to the "
                        "camera while playing. The camera decides its limit: a rate it refuses "
                        "stops the pipeline with an error",
                        0, G_MAXINT, 0, liveFlags));
  g_object_class_install_property(
      gobject, PROP_SCALE,
      g_param_spec_double("scale", "Scale",
                          "Distance: units per metre in the 16-bit output (1000 = millimetres); "
                          "amplitude and intensity: a multiplier. Scaled values are rounded and "
                          "clamped to 1..65535; NaN and negative values become 0",
                          G_MINDOUBLE, G_MAXDOUBLE, kDefaultScale, liveFlags));

  g_object_class_install_property(
      gobject, PROP_FILTERS,
      g_param_spec_boolean("filters", "Filters",
                           "Time-of-flight filters on the distance image, with the defaults every "
                           "tool uses: pixels with too little light, a full sensor, a distance "
                           "out of range or a jump at a depth edge (flying pixels) become 0. The "
                           "amplitude and intensity images are never filtered",
                           TRUE, liveFlags));

  gst_element_class_set_static_metadata(
      element, "lvt camera source", "Source/Video",
      "Live 16-bit images (distance, amplitude or intensity) from an lvt time-of-flight camera "
      "through the lvt.L32.vcp plug-in",
      "lvt developers");
  gst_element_class_add_static_pad_template(element, &srcTemplate);

  element->change_state = changeState;
  base->stop = stopCamera;
  base->decide_allocation = decideAllocation;
  base->get_caps = getCaps;
  base->query = query;
  base->unlock = unlock;
  base->unlock_stop = unlockStop;
  push->create = create;
}

static void gst_lvt_src_init(GstLvtSrc* self) {
  self->state = new State();
  gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
  gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}
