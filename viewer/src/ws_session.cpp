#include "ws_session.h"

#include <boost/asio/post.hpp>
#include <cstdio>
#include <utility>

#include "camera_command.h"

namespace vyxview {

namespace beast = boost::beast;
namespace websocket = beast::websocket;

namespace {

// Commands are a few dozen bytes; anything larger is refused by the reader.
constexpr size_t kMaxMessageBytes = 4096;
// Replies waiting for a page that does not read; beyond this it is dropped.
constexpr size_t kMaxQueuedTexts = 64;
// Frames on their way to a page or waiting to be drawn there: two keep the
// page busy at the camera's rate without letting stale frames pile up.
constexpr unsigned kMaxUndrawn = 2;

// Texts from the plug-in or the file system need not be valid UTF-8.
std::string toText(const nlohmann::json& j) {
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

WsSession::WsSession(boost::asio::ip::tcp::socket&& socket, CommandSink& camera, FrameHub& hub)
    : ws_(std::move(socket)), camera_(camera), hub_(hub) {
  beast::error_code ec;
  const auto endpoint = beast::get_lowest_layer(ws_).socket().remote_endpoint(ec);
  peer_ = ec ? "?" : endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

void WsSession::start(const beast::http::request<beast::http::string_body>& request) {
  beast::get_lowest_layer(ws_).expires_never();
  // A frame's last segment must not wait for the page's delayed acknowledgement.
  beast::error_code ignored;
  beast::get_lowest_layer(ws_).socket().set_option(boost::asio::ip::tcp::no_delay(true), ignored);
  ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
  ws_.read_message_max(kMaxMessageBytes);
  ws_.async_accept(request,
                   [self = shared_from_this()](beast::error_code ec) { self->onAccept(ec); });
}

void WsSession::onAccept(beast::error_code ec) {
  if (ec) {
    std::fprintf(stderr, "vyxview: WebSocket handshake with %s failed: %s\n", peer_.c_str(),
                 ec.message().c_str());
    return;
  }
  open_ = true;
  hub_.subscribe(shared_from_this());
  read();
}

void WsSession::read() {
  ws_.async_read(buffer_,
                 [self = shared_from_this()](beast::error_code ec, size_t) { self->onRead(ec); });
}

void WsSession::onRead(beast::error_code ec) {
  if (ec) {
    open_ = false;
    if (ec != websocket::error::closed && ec != boost::asio::error::eof &&
        ec != boost::asio::error::operation_aborted && ec != boost::asio::error::connection_reset) {
      std::fprintf(stderr, "vyxview: page %s disconnected: %s\n", peer_.c_str(),
                   ec.message().c_str());
    }
    return;
  }
  const bool text = ws_.got_text();
  std::string message = beast::buffers_to_string(buffer_.data());
  buffer_.consume(buffer_.size());
  if (text) {
    handleText(message);
  } else {
    std::fprintf(stderr, "vyxview: page %s sent a binary message; refused\n", peer_.c_str());
    queueText(toText({{"type", "error"}, {"message", "binary messages are not accepted"}}));
  }
  read();
}

void WsSession::handleText(const std::string& text) {
  CameraCommand command;
  try {
    command = parseCameraCommand(text);
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "vyxview: page %s sent a malformed message: %s\n", peer_.c_str(),
                 e.what());
    queueText(toText({{"type", "error"}, {"message", e.what()}}));
    return;
  }
  if (command.op == CameraCommand::Op::View3d) {
    wantsPoints_ = command.on;
    return;
  }
  if (command.op == CameraCommand::Op::Drawn) {
    if (undrawn_ > 0) --undrawn_;
    write();
    return;
  }
  std::weak_ptr<WsSession> weak = shared_from_this();
  auto executor = ws_.get_executor();
  camera_.submit(std::move(command), [weak, executor](const nlohmann::json& answer) {
    boost::asio::post(executor, [weak, text = toText(answer)]() mutable {
      if (auto self = weak.lock()) self->queueText(std::move(text));
    });
  });
}

void WsSession::sendFrame(std::shared_ptr<const std::string> message) {
  boost::asio::post(ws_.get_executor(),
                    [self = shared_from_this(), m = std::move(message)]() mutable {
                      if (!self->open_) return;
                      if (self->frame_) ++self->framesDropped_;
                      self->frame_ = std::move(m);
                      self->write();
                    });
}

void WsSession::sendStatus(std::shared_ptr<const nlohmann::json> status) {
  boost::asio::post(ws_.get_executor(),
                    [self = shared_from_this(), s = std::move(status)]() mutable {
                      if (!self->open_) return;
                      self->status_ = std::move(s);
                      self->write();
                    });
}

void WsSession::queueText(std::string text) {
  if (!open_) return;
  if (texts_.size() >= kMaxQueuedTexts) {
    std::fprintf(stderr, "vyxview: page %s does not read its replies; closing it\n", peer_.c_str());
    open_ = false;
    beast::get_lowest_layer(ws_).socket().close();
    return;
  }
  texts_.push_back(std::move(text));
  write();
}

void WsSession::write() {
  if (writing_ || !open_) return;
  auto done = [self = shared_from_this()](beast::error_code ec, size_t) { self->onWrite(ec); };
  if (!texts_.empty() || status_) {
    if (!texts_.empty()) {
      writingText_ = std::move(texts_.front());
      texts_.pop_front();
    } else {
      nlohmann::json status = *status_;
      status_.reset();
      status["frames_sent"] = framesSent_;
      status["frames_dropped"] = framesDropped_;
      writingText_ = toText(status);
    }
    writing_ = true;
    ws_.text(true);
    ws_.async_write(boost::asio::buffer(writingText_), std::move(done));
  } else if (frame_ && undrawn_ < kMaxUndrawn) {
    writingFrame_ = std::move(frame_);
    frame_.reset();
    ++framesSent_;
    ++undrawn_;
    writing_ = true;
    ws_.binary(true);
    ws_.async_write(boost::asio::buffer(*writingFrame_), std::move(done));
  }
}

void WsSession::onWrite(beast::error_code ec) {
  writing_ = false;
  writingFrame_.reset();
  if (ec) {
    open_ = false;
    return;
  }
  write();
}

}  // namespace vyxview
