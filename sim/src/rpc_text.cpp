#include "rpc_text.h"

#include <cmath>
#include <cstdio>

#include "lvtsim/camera.h"

namespace lvtsim {

int RpcCall::paramCount() const {
  return params.getType() == XmlRpc::XmlRpcValue::TypeArray ? params.size() : 0;
}

namespace detail {
namespace {

std::string quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string number(double d) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", d);
  std::string s = buf;
  if (std::isfinite(d) && s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

}  // namespace

std::string describeValue(const XmlRpc::XmlRpcValue& v) {
  using V = XmlRpc::XmlRpcValue;
  switch (v.getType()) {
    case V::TypeInvalid:
      return "<none>";
    case V::TypeBoolean:
      return static_cast<bool>(v) ? "true" : "false";
    case V::TypeInt:
      return std::to_string(static_cast<int>(v));
    case V::TypeDouble:
      return number(static_cast<double>(v));
    case V::TypeString:
      return quote(static_cast<const std::string&>(v));
    case V::TypeArray: {
      std::string out = "[";
      for (int i = 0; i < v.size(); ++i) out += (i > 0 ? ", " : "") + describeValue(v[i]);
      return out + "]";
    }
    case V::TypeStruct: {
      std::string out = "{";
      bool first = true;
      for (const auto& [key, member] : static_cast<const V::ValueStruct&>(const_cast<V&>(v))) {
        out += (first ? "" : ", ") + quote(key) + ": " + describeValue(member);
        first = false;
      }
      return out + "}";
    }
    default:
      return v.toXml();
  }
}

std::string describeCall(const std::string& method, const XmlRpc::XmlRpcValue& params) {
  std::string out = method + "(";
  if (params.getType() == XmlRpc::XmlRpcValue::TypeArray) {
    for (int i = 0; i < params.size(); ++i) out += (i > 0 ? ", " : "") + describeValue(params[i]);
  } else if (params.valid()) {
    out += describeValue(params);
  }
  return out + ")";
}

}  // namespace detail
}  // namespace lvtsim
