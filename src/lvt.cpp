// Opening a camera instance.
#include "boundedrpcclient.h"
#include "lvtinternal.h"
#include "vyxplugin.h"

using vyxlvt::kConnectAddress;
using vyxlvt::kControlPort;
using vyxlvt::setErrorSlot;

extern "C" int vyxpInitRawDataPlugin(unsigned int id, const char* param) {
  return vyxlvt::sourceGuarded(0, [&]() -> int {
    vyxlvt::PluginData dat;
    if (idOk(id)) {
      setErrorSlot("handle already exists");
      return VYX_INVALID_VALUE;
    }
    if (param == nullptr) {  // no address to open: refused like every other null argument
      setErrorSlot(lvt::kNullArgument);
      return VYX_INVALID_VALUE;
    }
    dat.url = param;
    try {
      dat.xmlRpc =
          std::make_unique<lvt::BoundedRpcClient>(param, kControlPort, vyxlvt::kRpcTimeoutSeconds);
    } catch (...) {
      dat.xmlRpc.reset();
    }
    if (!dat.xmlRpc) {
      setErrorSlot("XML-RPC server");
      return VYX_COULD_NOT_OPEN;
    }

    try {
      XmlRpc::XmlRpcClient* rpc = dat.xmlRpc.get();
      vyxlvt::sendXMLCommand2<const char*, int>(rpc, "MDAXMLConnectCP", kConnectAddress, 1);
      vyxlvt::sendXMLCommand1<int>(rpc, "MDAXMLSetWorkingMode", 1);
      vyxlvt::sendXMLCommand2<int, int>(rpc, "MDAXMLSetTrigger", 0, 3);
      // Only the low 16 bits of the answer name the port.
      dat.dataPort =
          static_cast<uint16_t>(vyxlvt::sendXMLRCommand0<int>(rpc, "MDAXMLGetTCPPortCP"));
      vyxlvt::getFrontendData(&dat);
    } catch (...) {
      setErrorSlot("camera connection");
      return VYX_COULD_NOT_OPEN;  // dat releases the client
    }

    try {
      dat.sock = std::make_unique<vyx::TCPSocket>();
      dat.sock->connect(dat.url, dat.dataPort);
    } catch (...) {
      setErrorSlot("data port");
      return VYX_COULD_NOT_OPEN;  // dat releases the socket and the client
    }

    const lvt::RegistryLock lock(lvt::registryMutex());
    g_data.emplace(id, std::move(dat));
    return VYX_OK;
  });
}
