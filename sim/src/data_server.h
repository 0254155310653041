// The image channel: accepts any number of connections, a thread each, and answers every request
// byte with one image.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "camera_state.h"

namespace lvtsim::detail {

class DataServer {
 public:
  explicit DataServer(CameraState& state) : state_(state) {}
  ~DataServer();
  DataServer(const DataServer&) = delete;
  DataServer& operator=(const DataServer&) = delete;

  // Binds address:port (0 = any free port) and returns the bound port. The port is bound even
  // when listening is off, so that it can be announced; it is then released straight away.
  uint16_t start(const std::string& address, uint16_t port);
  // Opens or closes the listener; returns once that is done. Throws std::runtime_error if the
  // port cannot be bound again.
  void setListening(bool on);
  // Closes the listener and every connection and joins all threads.
  void stop();

 private:
  struct Connection {
    int fd;
    std::thread thread;
    bool done = false;
  };

  void acceptLoop();
  void applyListening();  // called by the accept thread with mu_ held
  void serve(Connection& connection);
  // A silent camera: logs further request bytes but answers none, until the peer closes the
  // connection or stop() shuts it down.
  void swallowUntilClosed(int fd);
  void wake();

  CameraState& state_;
  std::string address_;
  uint16_t port_ = 0;

  std::mutex mu_;
  std::condition_variable applied_;
  bool running_ = false;
  bool wantListening_ = true;
  int listenFd_ = -1;                  // owned by the accept thread while it runs
  unsigned requested_ = 0, done_ = 0;  // listening changes asked for and carried out
  std::string listenError_;
  int wakeFds_[2] = {-1, -1};
  std::thread acceptThread_;
  std::list<Connection> connections_;
};

}  // namespace lvtsim::detail
