// The set-up most source tests start from: a fresh plug-in with one source
// instance open on a fresh simulated camera.
#ifndef VYX_TESTS_CAMERA_FIXTURE_H
#define VYX_TESTS_CAMERA_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <utility>

#include "plugin_fixture.h"
#include "sim_fixture.h"

namespace vyxtest {

class OpenCameraTest : public ::testing::Test {
 protected:
  // Opens handle id of a fresh plug-in on a fresh camera made from cfg,
  // closing what was open before.
  void openCamera(unsigned int id, lvtsim::CameraConfig cfg = {}) {
    source.reset();
    p.reset();
    cam = startCamera(std::move(cfg));
    p = freshPlugin();
    source = std::make_unique<vyxhost::SourceInstance>(*p, id, cam->config().address);
  }

  const vyxhost::EntryPoints& api() const { return p->api(); }

  std::unique_ptr<lvtsim::Camera> cam;
  std::unique_ptr<vyxhost::Plugin> p;
  std::unique_ptr<vyxhost::SourceInstance> source;
};

}  // namespace vyxtest

#endif
