// One page's WebSocket: frames (binary) and camera status (text) go out, the
// page's commands (text, JSON) come in. Each page gets the newest frame: the
// page says when it has drawn one, and while it still has two frames to draw,
// or a write is under way, a newer frame replaces the waiting one and the
// replaced one counts as dropped. A slow browser thus never makes the viewer,
// the network or the browser queue frames; it sees fewer, but current, ones.
#pragma once

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "frame_hub.h"

namespace vyxview {

class CommandSink;

class WsSession : public FrameSink, public std::enable_shared_from_this<WsSession> {
 public:
  WsSession(boost::asio::ip::tcp::socket&& socket, CommandSink& camera, FrameHub& hub);
  // Completes the handshake of the upgrade request (already checked).
  void start(const boost::beast::http::request<boost::beast::http::string_body>& request);

  void sendFrame(std::shared_ptr<const std::string> message) override;
  void sendStatus(std::shared_ptr<const nlohmann::json> status) override;
  bool wantsPoints() const override { return open_ && wantsPoints_; }

 private:
  void onAccept(boost::beast::error_code ec);
  void read();
  void onRead(boost::beast::error_code ec);
  void handleText(const std::string& text);
  void queueText(std::string text);
  void write();
  void onWrite(boost::beast::error_code ec);

  boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
  boost::beast::flat_buffer buffer_;
  CommandSink& camera_;
  FrameHub& hub_;
  std::string peer_;

  std::atomic<bool> wantsPoints_{false};  // set by the page (I/O thread), read by any
  // The I/O thread only (open_ also read by wantsPoints()).
  std::atomic<bool> open_{false};
  bool writing_ = false;
  std::shared_ptr<const std::string> frame_;         // waiting to go out
  std::shared_ptr<const nlohmann::json> status_;     // waiting to go out
  std::deque<std::string> texts_;                    // replies and errors
  std::shared_ptr<const std::string> writingFrame_;  // kept alive while written
  std::string writingText_;
  uint64_t framesSent_ = 0, framesDropped_ = 0;
  unsigned undrawn_ = 0;  // frames sent that the page has not reported drawn
};

}  // namespace vyxview
