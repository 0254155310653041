#include "interrupt_watch.h"

#include <pthread.h>
#include <unistd.h>

namespace vyxgrab {

namespace {

void say(const char* text) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  const ssize_t ignored = ::write(STDERR_FILENO, text, length);
  (void)ignored;
}

}  // namespace

InterruptWatch::InterruptWatch() {
  sigemptyset(&watched_);
  sigaddset(&watched_, SIGINT);
  sigaddset(&watched_, SIGTERM);
  sigaddset(&watched_, SIGUSR1);  // sent by the destructor to end the watcher
  pthread_sigmask(SIG_BLOCK, &watched_, &previousMask_);
  thread_ = std::thread([this] { watch(); });
}

InterruptWatch::~InterruptWatch() {
  closing_ = true;
  pthread_kill(thread_.native_handle(), SIGUSR1);
  thread_.join();
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void InterruptWatch::watch() {
  for (;;) {
    int signal = 0;
    if (sigwait(&watched_, &signal) != 0) continue;
    if (signal == SIGUSR1) {
      if (closing_) return;
      continue;
    }
    if (stop_.exchange(true)) {
      say("\nvyxgrab: interrupted again, quitting now\n");
      ::_exit(130);
    }
    say("\nvyxgrab: stopping after the current frame (Ctrl-C again to quit at once)\n");
  }
}

}  // namespace vyxgrab
