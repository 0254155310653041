// Who may talk to the viewer. A server on 127.0.0.1 is reachable from every web
// page the user opens, so requests must name the viewer itself: the Host header
// one of the viewer's own addresses (this defeats DNS rebinding, where a
// foreign name resolves to 127.0.0.1), and a WebSocket's Origin the viewer's
// own page (any other site's script is refused).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vyxview {

class RequestChecks {
 public:
  // listen: the address served; extraHosts: further names the user allows.
  RequestChecks(const std::string& listen, uint16_t port,
                const std::vector<std::string>& extraHosts);

  bool hostAllowed(const std::string& host) const;
  bool originAllowed(const std::string& origin) const;
  // "127.0.0.1:8090" and so on; the first is where the page is opened.
  const std::vector<std::string>& hosts() const { return hosts_; }

 private:
  std::vector<std::string> hosts_;  // "name:port", lower case
};

}  // namespace vyxview
