#include "request_checks.h"

#include <algorithm>
#include <cctype>

namespace vyxview {

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool isWildcard(const std::string& address) { return address == "0.0.0.0" || address == "::"; }

}  // namespace

RequestChecks::RequestChecks(const std::string& listen, uint16_t port,
                             const std::vector<std::string>& extraHosts) {
  const std::string p = ":" + std::to_string(port);
  std::vector<std::string> names;
  if (!isWildcard(listen))
    names.push_back(listen.find(':') != std::string::npos ? "[" + listen + "]" : listen);
  names.insert(names.end(), {"127.0.0.1", "localhost"});
  names.insert(names.end(), extraHosts.begin(), extraHosts.end());
  for (const std::string& name : names) {
    const std::string host = lower(name) + p;
    if (std::find(hosts_.begin(), hosts_.end(), host) == hosts_.end()) hosts_.push_back(host);
  }
}

bool RequestChecks::hostAllowed(const std::string& host) const {
  return std::find(hosts_.begin(), hosts_.end(), lower(host)) != hosts_.end();
}

bool RequestChecks::originAllowed(const std::string& origin) const {
  const std::string o = lower(origin);
  const std::string scheme = "http://";
  if (o.compare(0, scheme.size(), scheme) != 0) return false;
  return hostAllowed(o.substr(scheme.size()));
}

}  // namespace vyxview
