// Readable, typed rendering of XML-RPC values for the call log.
#pragma once

#include <XmlRpcValue.h>

#include <string>

namespace lvtsim::detail {

// 7, "text" (quoted, \" and \\ escaped), 2.5 / 3.0, true, [1, 2], {"k": 1}, <none> for an
// invalid value; other types as their XML.
std::string describeValue(const XmlRpc::XmlRpcValue& value);
// method(arg, arg, ...); method() when there are no parameters.
std::string describeCall(const std::string& method, const XmlRpc::XmlRpcValue& params);

}  // namespace lvtsim::detail
