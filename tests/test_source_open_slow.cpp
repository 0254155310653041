// A camera that accepts the first control call and never answers it: the
// opening must give up on its own (after its built-in limit of about ten
// seconds) instead of hanging the host. Slow by nature, so kept apart.
#include "plugin_fixture.h"
#include "sim_fixture.h"

namespace {

using vyxtest::lastError;

TEST(OpenSilentCamera, UnansweredConnectEndsInCameraConnection) {
  auto p = vyxtest::freshPlugin();
  const int before = vyxtest::openDescriptors();
  auto cam = vyxtest::startCamera();
  cam->setRpcFault("MDAXMLConnectCP", lvtsim::RpcFault::Silent);

  EXPECT_EQ(p->api().vyxpInitRawDataPlugin(1, cam->config().address.c_str()), VYX_COULD_NOT_OPEN);
  EXPECT_EQ(lastError(*p, 0), "camera connection");
  size_t size = 0;
  EXPECT_EQ(p->api().vyxpGetRawDataSize(1, &size), VYX_INVALID_HANDLE);
  EXPECT_EQ(cam->methodNames(), std::vector<std::string>{"MDAXMLConnectCP"});
  EXPECT_EQ(cam->connectionsAccepted(), 0u);

  // With the camera gone, nothing of the attempt is left open.
  cam.reset();
  EXPECT_EQ(vyxtest::openDescriptors(), before);
}

}  // namespace
