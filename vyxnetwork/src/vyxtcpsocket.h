// Blocking IPv4 TCP client socket and the one exception type of the library.
#ifndef VYXTCPSOCKET_H
#define VYXTCPSOCKET_H

#include <exception>
#include <string>

#include "vyxnetwork.h"

namespace vyx {

class NetworkException : public std::exception {
 public:
  NetworkException(int no, std::string message) : number(no), message(std::move(message)) {}
  ~NetworkException() override;
  const char* what() const noexcept override { return message.c_str(); }
  virtual int no() const { return number; }

 private:
  int number;
  std::string message;
};

class TCPSocket : public NetworkInterface {
 public:
  // Longest wait for a connection, a received byte or room to send. A camera
  // that delivers a few frames per second is far inside it; a silent one
  // counts as a lost connection once it has passed.
  static constexpr int defaultTimeoutMs = 10000;

  TCPSocket() = default;
  ~TCPSocket() override;
  TCPSocket(const TCPSocket&) = delete;
  TCPSocket& operator=(const TCPSocket&) = delete;

  void connect(std::string host, unsigned short port) override;
  void disconnect() override;
  bool hasData() override;
  bool isConnected() override;
  void receive(unsigned& len, void* data) override;
  void receive(std::vector<char>& data) override;
  void send(unsigned len, const void* data) override;
  void send(const std::vector<char>& data) override;
  // 1 when at least one byte can be read at once, else 0 (not a count);
  // disconnects when the peer has closed the stream.
  virtual int bytesWaiting();

  // Applies at once to a connected socket, else from the next connect on.
  void setTimeout(int milliseconds);
  int timeout() const { return timeoutMs; }

 private:
  bool connected = false;
  int descriptor = -1;
  int timeoutMs = defaultTimeoutMs;
};

}  // namespace vyx

#endif
