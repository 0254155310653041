#include "lvtinternal.h"

#include <XmlRpcException.h>

std::map<unsigned int, vyxlvt::PluginData> g_data;
uint32_t g_did = 1;

std::mutex& lvt::registryMutex() {
  static std::mutex m;
  return m;
}

bool idOk(unsigned int id) {
  const lvt::RegistryLock lock(lvt::registryMutex());
  return g_data.find(id) != g_data.end();
}

namespace vyxlvt {

const uint32_t validModulationFrequencies[1] = {lvtwire::kModulationFrequencyHz};

PluginData::PluginData() {
  dataCommand.insert('d');
  dataCommand.insert('i');
}

void PluginData::clearFlags() { imageTypes.clear(); }

void setErrorSlot(const char* text) {
  const lvt::RegistryLock lock(lvt::registryMutex());
  g_data[0].errorMessage = text;
}

PluginData& cameraOf(unsigned int id) {
  PluginData& dat = lvt::recordOf(g_data, id);
  if (!dat.xmlRpc || !dat.sock) lvt::refuse(VYX_INVALID_HANDLE, "");
  return dat;
}

int answerInt(const XmlRpc::XmlRpcValue& answer, int i) {
  // Only the const accessors: the non-const ones would grow a short answer
  // and read a made-up element.
  if (answer.getType() != XmlRpc::XmlRpcValue::TypeArray || i >= answer.size())
    throw XmlRpc::XmlRpcException("answer is not an array of the expected length");
  const XmlRpc::XmlRpcValue& element = answer[i];
  if (element.getType() != XmlRpc::XmlRpcValue::TypeInt)
    throw XmlRpc::XmlRpcException("answer element is not an integer");
  return static_cast<int>(element);
}

}  // namespace vyxlvt
