#include "rpc_methods.h"

#include <XmlRpcException.h>
#include <XmlRpcValue.h>

#include <string>

#include "control_server.h"

namespace lvtsim::detail {
namespace {

using XmlRpc::XmlRpcException;
using XmlRpc::XmlRpcValue;

// Common part of every method: planned faults first, then a strict check of the parameter
// types, so that a client sending the wrong kind of call gets a fault as from the real camera.
class CameraMethod : public XmlRpc::XmlRpcServerMethod {
 public:
  // `signature`: one letter per parameter, 'i' integer, 's' string.
  CameraMethod(const char* name, const char* signature, ControlServer& server, CameraState& state)
      : XmlRpcServerMethod(name, &server), signature_(signature), server_(server), state_(state) {}

  void execute(XmlRpcValue& params, XmlRpcValue& result) final {
    switch (state_.takeRpcFault(_name)) {
      case RpcFault::None:
        break;
      case RpcFault::Fault:
        throw XmlRpcException(_name + ": refused by the camera", 1);
      case RpcFault::WrongShape:
        result = "unexpected answer";
        return;
      case RpcFault::ShortArray:
        result[0] = 0;
        return;
      case RpcFault::Silent:
        state_.waitForStop();
        server_.dropReply();
        return;
      case RpcFault::Close:
        server_.dropReply();
        return;
    }
    checkParams(params);
    answer(params, result);
  }

 protected:
  virtual void answer(XmlRpcValue& params, XmlRpcValue& result) = 0;
  CameraState& state() { return state_; }

 private:
  void checkParams(const XmlRpcValue& params) const {
    const std::string sig = signature_;
    const int count = params.getType() == XmlRpcValue::TypeArray ? params.size() : 0;
    bool ok = count == static_cast<int>(sig.size());
    for (int i = 0; ok && i < count; ++i) {
      const auto type = params[i].getType();
      ok = sig[static_cast<size_t>(i)] == 'i' ? type == XmlRpcValue::TypeInt
                                              : type == XmlRpcValue::TypeString;
    }
    if (!ok) throw XmlRpcException(_name + ": expected parameters (" + sig + ")", 2);
  }

  const char* signature_;
  ControlServer& server_;
  CameraState& state_;
};

// Commands without a result answer [0].
class Acknowledge : public CameraMethod {
 public:
  using CameraMethod::CameraMethod;
  void answer(XmlRpcValue&, XmlRpcValue& result) override { result[0] = 0; }
};

class GetTcpPort : public CameraMethod {
 public:
  GetTcpPort(ControlServer& server, CameraState& state)
      : CameraMethod("MDAXMLGetTCPPortCP", "", server, state) {}
  void answer(XmlRpcValue&, XmlRpcValue& result) override {
    result[0] = 0;
    result[1] = static_cast<int>(state().announcedPort());
  }
};

void putFrontend(const Frontend& values, XmlRpcValue& result) {
  result[0] = 0;
  for (int i = 0; i < 9; ++i) result[i + 1] = static_cast<int>(values[static_cast<size_t>(i)]);
}

class GetFrontend : public CameraMethod {
 public:
  GetFrontend(ControlServer& server, CameraState& state)
      : CameraMethod("MDAXMLGetFrontendData", "", server, state) {}
  void answer(XmlRpcValue&, XmlRpcValue& result) override {
    putFrontend(state().frontend(), result);
  }
};

class SetFrontend : public CameraMethod {
 public:
  SetFrontend(ControlServer& server, CameraState& state)
      : CameraMethod("MDAXMLSetFrontendData", "iiiiiiiii", server, state) {}
  void answer(XmlRpcValue& params, XmlRpcValue& result) override {
    Frontend values;
    for (int i = 0; i < 9; ++i) values[static_cast<size_t>(i)] = static_cast<int>(params[i]);
    putFrontend(state().writeFrontend(values), result);
  }
};

}  // namespace

std::vector<std::unique_ptr<XmlRpc::XmlRpcServerMethod>> makeCameraMethods(ControlServer& server,
                                                                           CameraState& state) {
  std::vector<std::unique_ptr<XmlRpc::XmlRpcServerMethod>> methods;
  methods.push_back(std::make_unique<Acknowledge>("MDAXMLConnectCP", "si", server, state));
  methods.push_back(std::make_unique<Acknowledge>("MDAXMLSetWorkingMode", "i", server, state));
  methods.push_back(std::make_unique<Acknowledge>("MDAXMLSetTrigger", "ii", server, state));
  methods.push_back(std::make_unique<Acknowledge>("MDAXMLDisconnectCP", "s", server, state));
  methods.push_back(std::make_unique<GetTcpPort>(server, state));
  methods.push_back(std::make_unique<GetFrontend>(server, state));
  methods.push_back(std::make_unique<SetFrontend>(server, state));
  return methods;
}

}  // namespace lvtsim::detail
