// Entry points shared by the source and the processing plug-in.
#include "lvtinternal.h"
#include "lvtprocess.h"
#include "textresult.h"
#include "vyxplugin.h"

extern "C" unsigned int vyxpInterfaceVersion(void) { return VYX_INTERFACE_VERSION; }

extern "C" int vyxpGetLastError(unsigned int id, char* msg, size_t maxLen) {
  return lvt::guarded(
      [&]() -> int {
        const lvt::RegistryLock lock(lvt::registryMutex());
        auto source = g_data.find(id);
        if (source != g_data.end()) {
          lvt::copyText(msg, maxLen, source->second.errorMessage);
          return VYX_OK;
        }
        auto processing = g_pdata.find(id);
        if (processing != g_pdata.end()) {
          lvt::copyText(msg, maxLen, processing->second.errorMessage);
          return VYX_OK;
        }
        g_pdata[0].errorMessage.clear();
        return VYX_INVALID_HANDLE;
      },
      [](const char*) {});
}

extern "C" int vyxpDeinitPlugin(unsigned int id) {
  return vyxlvt::sourceGuarded(id, [&]() -> int {
    if (!idOk(id) && pidOk(id)) return VYX_OK;  // processing instances hold nothing to close
    vyxlvt::PluginData& dat = vyxlvt::cameraOf(id);
    try {
      vyxlvt::sendXMLCommand1<const char*>(dat.xmlRpc.get(), "MDAXMLDisconnectCP",
                                           vyxlvt::kDisconnectAddress);
    } catch (...) {
      dat.errorMessage.clear();
      return VYX_RUNTIME_ERROR;  // still open: the host may try again
    }
    if (dat.sock->isConnected()) dat.sock->disconnect();
    const lvt::RegistryLock lock(lvt::registryMutex());
    g_data.erase(id);  // releases the socket and the client
    return VYX_OK;
  });
}
