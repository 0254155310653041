#include "http_session.h"

#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>

#include "request_checks.h"
#include "web_assets.h"
#include "ws_session.h"

namespace vyxview {

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr uint32_t kMaxHeaderBytes = 8192;
constexpr uint64_t kMaxBodyBytes = 1024;  // the viewer takes no request bodies
constexpr auto kRequestTimeout = std::chrono::seconds(30);
constexpr const char* kSocketPath = "/ws";
constexpr const char* kCamerasPath = "/cameras";

// "camera=N" (the only query the socket takes) names one of count cameras; none: camera 0.
std::optional<size_t> cameraOf(const std::string& query, size_t count) {
  if (query.empty()) return 0;
  const std::string key = "camera=";
  if (query.rfind(key, 0) != 0) return std::nullopt;
  const std::string digits = query.substr(key.size());
  if (digits.empty() || digits.size() > 4 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const size_t n = std::stoul(digits);
  if (n >= count) return std::nullopt;
  return n;
}

}  // namespace

HttpSession::HttpSession(boost::asio::ip::tcp::socket&& socket, const RequestChecks& checks,
                         const CameraDoors& doors)
    : stream_(std::move(socket)), checks_(checks), doors_(doors) {}

void HttpSession::run() { read(); }

void HttpSession::read() {
  parser_.emplace();
  parser_->header_limit(kMaxHeaderBytes);
  parser_->body_limit(kMaxBodyBytes);
  stream_.expires_after(kRequestTimeout);
  http::async_read(stream_, buffer_, *parser_,
                   [self = shared_from_this()](beast::error_code ec, size_t) { self->onRead(ec); });
}

void HttpSession::onRead(beast::error_code ec) {
  if (ec == http::error::end_of_stream || ec == beast::error::timeout ||
      ec == boost::asio::error::connection_reset) {
    beast::error_code ignored;
    stream_.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
    return;
  }
  if (ec) {
    std::fprintf(stderr, "vyxview: malformed HTTP request refused: %s\n", ec.message().c_str());
    Response r{http::status::bad_request, 11};
    r.set(http::field::content_type, "text/plain; charset=utf-8");
    r.body() = "Bad request: " + ec.message() + "\n";
    r.keep_alive(false);
    send(std::move(r));
    return;
  }
  handle(parser_->release());
}

void HttpSession::refuse(const Request& request, http::status status, const std::string& why) {
  std::fprintf(stderr, "vyxview: refused %s %s: %s\n", std::string(request.method_string()).c_str(),
               std::string(request.target()).c_str(), why.c_str());
  Response r{status, request.version()};
  r.set(http::field::content_type, "text/plain; charset=utf-8");
  r.body() = why + "\n";
  r.keep_alive(false);
  send(std::move(r));
}

void HttpSession::handle(const Request& request) {
  const std::string host(request[http::field::host]);
  if (!checks_.hostAllowed(host)) {
    refuse(
        request, http::status::forbidden,
        "Host \"" + host + "\" is not this viewer; open http://" + checks_.hosts().front() + "/");
    return;
  }
  const std::string target(request.target());
  const size_t question = target.find('?');
  const std::string path = target.substr(0, question);
  if (beast::websocket::is_upgrade(request)) {
    const std::string origin(request[http::field::origin]);
    if (path != kSocketPath) {
      refuse(request, http::status::not_found,
             "no WebSocket here; the viewer's is " + std::string(kSocketPath));
    } else if (!checks_.originAllowed(origin)) {
      refuse(request, http::status::forbidden,
             "WebSocket from origin \"" + origin +
                 "\" refused: only the viewer's own page may connect");
    } else {
      upgrade(request, question == std::string::npos ? "" : target.substr(question + 1));
    }
    return;
  }
  if (request.method() != http::verb::get) {
    refuse(request, http::status::method_not_allowed, "only GET is served");
    return;
  }
  if (path == kCamerasPath) {
    sendCameras(request);
    return;
  }
  const WebAsset* asset = findWebAsset(std::string(request.target()));
  if (asset == nullptr) {
    Response r{http::status::not_found, request.version()};
    r.set(http::field::content_type, "text/plain; charset=utf-8");
    r.body() = "not found\n";
    r.keep_alive(request.keep_alive());
    send(std::move(r));
    return;
  }
  Response r{http::status::ok, request.version()};
  r.set(http::field::content_type, contentType(asset->path));
  r.set(http::field::cache_control, "no-store");
  r.set("X-Content-Type-Options", "nosniff");
  r.set("X-Frame-Options", "DENY");
  r.set("Content-Security-Policy",
        "default-src 'self'; img-src 'self' data: blob:; frame-ancestors 'none'");
  r.body().assign(reinterpret_cast<const char*>(asset->bytes), asset->size);
  r.keep_alive(request.keep_alive());
  send(std::move(r));
}

void HttpSession::upgrade(const Request& request, const std::string& query) {
  const std::optional<size_t> camera = cameraOf(query, doors_.size());
  if (!camera) {
    refuse(request, http::status::not_found,
           "no such camera: \"" + query + "\"; the viewer has cameras 0 to " +
               std::to_string(doors_.size() - 1) + " (/ws?camera=N)");
    return;
  }
  const CameraDoor& door = doors_[*camera];
  std::make_shared<WsSession>(stream_.release_socket(), *door.commands, *door.hub)->start(request);
}

void HttpSession::sendCameras(const Request& request) {
  nlohmann::json cameras = nlohmann::json::array();
  for (const CameraDoor& d : doors_) cameras.push_back({{"name", d.name}, {"address", d.address}});
  Response r{http::status::ok, request.version()};
  r.set(http::field::content_type, "application/json");
  r.set(http::field::cache_control, "no-store");
  r.set("X-Content-Type-Options", "nosniff");
  r.body() = nlohmann::json({{"cameras", cameras}})
                 .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  r.keep_alive(request.keep_alive());
  send(std::move(r));
}

void HttpSession::send(Response response) {
  response.prepare_payload();
  response_ = std::make_shared<Response>(std::move(response));
  const bool close = response_->need_eof();
  http::async_write(
      stream_, *response_, [self = shared_from_this(), close](beast::error_code ec, size_t) {
        self->response_.reset();
        if (ec || close) {
          beast::error_code ignored;
          self->stream_.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
          return;
        }
        self->read();
      });
}

}  // namespace vyxview
