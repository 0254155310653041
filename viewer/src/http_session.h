// One browser connection before it becomes a WebSocket: serves the page's
// files and the list of cameras (/cameras: {"cameras": [{"name", "address"}, ...]}), refuses
// requests for another Host and WebSocket upgrades from another Origin, and hands an accepted
// upgrade to a WsSession of the camera it names (/ws?camera=N; /ws: camera 0).
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <memory>
#include <optional>
#include <string>

#include "camera_doors.h"

namespace vyxview {

class RequestChecks;

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  // The doors must outlive the session.
  HttpSession(boost::asio::ip::tcp::socket&& socket, const RequestChecks& checks,
              const CameraDoors& doors);
  void run();

 private:
  using Request = boost::beast::http::request<boost::beast::http::string_body>;
  using Response = boost::beast::http::response<boost::beast::http::string_body>;

  void read();
  void onRead(boost::beast::error_code ec);
  void handle(const Request& request);
  void refuse(const Request& request, boost::beast::http::status status, const std::string& why);
  void send(Response response);
  void upgrade(const Request& request, const std::string& query);
  void sendCameras(const Request& request);

  boost::beast::tcp_stream stream_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  std::shared_ptr<Response> response_;  // kept alive while written
  const RequestChecks& checks_;
  const CameraDoors& doors_;
};

}  // namespace vyxview
