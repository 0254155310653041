#include "listener.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "http_session.h"

namespace vyxview {

namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {
constexpr auto kRetryAfterFailure = std::chrono::milliseconds(100);
}

Listener::Listener(net::io_context& io, const std::string& address, uint16_t port)
    : io_(io), acceptor_(io), retry_(io) {
  boost::system::error_code ec;
  const net::ip::address ip = net::ip::make_address(address, ec);
  if (ec) throw std::runtime_error("--listen " + address + " is not an IP address");
  const tcp::endpoint endpoint(ip, port);
  acceptor_.open(endpoint.protocol(), ec);
  if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) acceptor_.bind(endpoint, ec);
  if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    throw std::runtime_error("cannot serve on " + address + " port " + std::to_string(port) + ": " +
                             ec.message() + " (choose another port with --port)");
  }
}

uint16_t Listener::port() const { return acceptor_.local_endpoint().port(); }

void Listener::run(const RequestChecks& checks, CameraDoors doors) {
  checks_ = &checks;
  doors_ = std::move(doors);
  accept();
}

void Listener::accept() {
  acceptor_.async_accept(
      io_, [self = shared_from_this()](boost::system::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted) return;
        if (!ec) {
          std::make_shared<HttpSession>(std::move(socket), *self->checks_, self->doors_)->run();
          self->accept();
          return;
        }
        // Out of descriptors and the like: wait a little instead of spinning.
        std::fprintf(stderr, "vyxview: accepting a connection failed: %s\n", ec.message().c_str());
        self->retry_.expires_after(kRetryAfterFailure);
        self->retry_.async_wait([self](boost::system::error_code) { self->accept(); });
      });
}

}  // namespace vyxview
