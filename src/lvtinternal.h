// The source plug-in's instance record, its registry, the front-end data
// exchange and the XML-RPC command helpers.
#ifndef LVT_LVTINTERNAL_H
#define LVT_LVTINTERNAL_H

#include <XmlRpc.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "framebuffer.h"
#include "lvtwire/frame_format.h"
#include "refusal.h"
#include "vyxtcpsocket.h"

namespace vyxlvt {

// One open camera. The socket and the client belong to the instance: exactly
// one of each per open record, released when the record is erased.
struct PluginData {
  PluginData();
  PluginData(PluginData&&) = default;
  PluginData& operator=(PluginData&&) = default;

  // Forgets the image types of the previous frame.
  void clearFlags();

  std::string url;
  std::unique_ptr<vyx::TCPSocket> sock;
  uint16_t dataPort = 50002;
  std::set<char> dataCommand;  // the request bytes an update sends, in this order
  std::unique_ptr<XmlRpc::XmlRpcClient> xmlRpc;
  lvt::FrameBuffer data;
  std::string errorMessage;
  // Integration times named by the last image header, for the frame's
  // description; the camera's settings are in frontendData.
  int32_t itime0 = -1;
  int32_t itime1 = -1;
  uint32_t fps = 0;  // a copy of the frame rate word of frontendData; nothing reads it
  std::array<int32_t, lvtwire::kFrontendWords> frontendData{};
  uint32_t version = 0;  // no frame format known before the first header
  // Kept as a vector so that a steady stream of updates reuses its storage.
  std::vector<int> imageTypes;
};

extern const uint32_t validModulationFrequencies[1];

// Client addresses the camera is told about when it is connected and
// disconnected; fixed by the camera's control protocol, not settings.
constexpr const char* kConnectAddress = "192.168.0.1";
constexpr const char* kDisconnectAddress = "192.168.0.2";
constexpr int kControlPort = 8080;

}  // namespace vyxlvt

extern std::map<unsigned int, vyxlvt::PluginData> g_data;
// The data identifier every raw frame description carries; never advanced.
extern uint32_t g_did;

bool idOk(unsigned int id);

// Trims leading white space of any kind and trailing blanks.
std::string stripString(std::string s);

namespace vyxlvt {

// The error slot: the record under handle 0 that holds the texts of calls
// that have no valid instance.
void setErrorSlot(const char* text);

// The record of an open camera. A handle that names none, or names the error
// slot (which has neither a socket nor a client), is refused with
// VYX_INVALID_HANDLE.
PluginData& cameraOf(unsigned int id);

// Every camera call gives up after this long; a camera that keeps silent is
// then taken as unreachable.
constexpr double kRpcTimeoutSeconds = 10.0;

// Reads element i of an array answer as an integer; raises the library's
// exception when the answer is not an array, is too short or holds another type.
int answerInt(const XmlRpc::XmlRpcValue& answer, int i);

template <typename T>
void sendXMLCommand1(XmlRpc::XmlRpcClient* xmlRpc, const char* cmd, T p1) {
  XmlRpc::XmlRpcValue args;
  XmlRpc::XmlRpcValue result;
  args[0] = p1;
  if (!xmlRpc->execute(cmd, args, result, kRpcTimeoutSeconds)) throw 1;
}

template <typename T1, typename T2>
void sendXMLCommand2(XmlRpc::XmlRpcClient* xmlRpc, const char* cmd, T1 p1, T2 p2) {
  XmlRpc::XmlRpcValue args;
  XmlRpc::XmlRpcValue result;
  args[0] = p1;
  args[1] = p2;
  if (!xmlRpc->execute(cmd, args, result, kRpcTimeoutSeconds)) throw 1;
}

template <typename R>
R sendXMLRCommand0(XmlRpc::XmlRpcClient* xmlRpc, const char* cmd) {
  XmlRpc::XmlRpcValue args;  // never assigned: the request carries no parameters
  XmlRpc::XmlRpcValue result;
  if (!xmlRpc->execute(cmd, args, result, kRpcTimeoutSeconds)) throw 1;
  return static_cast<R>(answerInt(result, 1));
}

void getFrontendData(PluginData* dat);
void getFrontendData(unsigned int id);
void setFrontendData(unsigned int id);

}  // namespace vyxlvt

#include "boundary.h"

namespace vyxlvt {

// The barrier for source entry points: a refusal or an unexpected failure is
// reported under the instance if the handle is open, else in the error slot.
template <typename Body>
int sourceGuarded(unsigned int id, Body&& body) noexcept {
  return lvt::guarded(body, [id](const char* text) { lvt::storeText(g_data, id, text); });
}

// The common start of the source entry points that read or edit an
// instance record: an unknown handle is refused, and so is a null pointer
// the call must use. Never throws: sourceGuarded catches everything.
template <typename Body>
int withSourceRecord(unsigned int id, const void* required, Body&& body) {
  return sourceGuarded(id, [&]() -> int {
    PluginData& dat = lvt::recordOf(g_data, id);
    lvt::requireArgument(required);
    return body(dat);
  });
}

// For calls that take no pointer.
template <typename Body>
int withSourceRecord(unsigned int id, Body&& body) {
  return withSourceRecord(id, &id, body);
}

}  // namespace vyxlvt

#endif
