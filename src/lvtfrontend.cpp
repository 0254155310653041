// Reading and writing the camera's block of nine front-end settings.
#include "lvtinternal.h"

namespace vyxlvt {

namespace {

constexpr int kWords = static_cast<int>(lvtwire::kFrontendWords);

// Takes elements 1 to 9 of the camera's answer as the new copy; element by
// element, so a bad element leaves the ones before it updated.
void takeAnswer(PluginData& dat, const XmlRpc::XmlRpcValue& result) {
  for (int i = 0; i < kWords; ++i) dat.frontendData[i] = answerInt(result, i + 1);
  // A copy of the frame rate word, kept up to date with the block.
  dat.fps = static_cast<uint32_t>(dat.frontendData[lvtwire::frontend::kFps]);
}

}  // namespace

void getFrontendData(PluginData* dat) {
  XmlRpc::XmlRpcValue args;
  XmlRpc::XmlRpcValue result;
  if (!dat->xmlRpc->execute("MDAXMLGetFrontendData", args, result, kRpcTimeoutSeconds)) {
    setErrorSlot("XML-RPC error");
    throw 1;
  }
  takeAnswer(*dat, result);
}

void getFrontendData(unsigned int id) { getFrontendData(&lvt::recordOf(g_data, id)); }

void setFrontendData(unsigned int id) {
  PluginData& dat = lvt::recordOf(g_data, id);
  XmlRpc::XmlRpcValue args;
  XmlRpc::XmlRpcValue result;
  for (int i = 0; i < kWords; ++i) args[i] = static_cast<int>(dat.frontendData[i]);
  if (!dat.xmlRpc->execute("MDAXMLSetFrontendData", args, result, kRpcTimeoutSeconds)) {
    setErrorSlot("XML-RPC error: ");
    throw 1;
  }
  takeAnswer(dat, result);
}

}  // namespace vyxlvt
