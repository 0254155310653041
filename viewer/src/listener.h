// Accepts browser connections on the viewer's address and port.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <cstdint>
#include <memory>
#include <string>

#include "camera_doors.h"

namespace vyxview {

class RequestChecks;

class Listener : public std::enable_shared_from_this<Listener> {
 public:
  // Binds at once; port 0 takes a free one. Throws std::runtime_error saying
  // what to do when the address cannot be used.
  Listener(boost::asio::io_context& io, const std::string& address, uint16_t port);
  uint16_t port() const;
  // Starts accepting; the checks and what the doors point to must outlive the listener's
  // io_context run.
  void run(const RequestChecks& checks, CameraDoors doors);

 private:
  void accept();

  boost::asio::io_context& io_;
  boost::asio::ip::tcp::acceptor acceptor_;
  boost::asio::steady_timer retry_;
  const RequestChecks* checks_ = nullptr;
  CameraDoors doors_;
};

}  // namespace vyxview
