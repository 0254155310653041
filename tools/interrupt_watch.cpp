#include "interrupt_watch.h"

#include <pthread.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace vyxgrab {

namespace {

void say(const char* text) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  const ssize_t ignored = ::write(STDERR_FILENO, text, length);
  (void)ignored;
}

}  // namespace

InterruptWatch::InterruptWatch(const WaitNote* waiting) : waiting_(waiting) {
  sigemptyset(&watched_);
  sigaddset(&watched_, SIGINT);
  sigaddset(&watched_, SIGTERM);
  sigaddset(&watched_, SIGHUP);
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
    const char* abbrev = sigabbrev_np(signal);
    const std::string name =
        signal == SIGINT ? std::string("Ctrl-C") : std::string("SIG") + (abbrev ? abbrev : "?");
    if (stop_.load()) {  // only this thread sets it
      say(("\nvyxgrab: " + name + " again, quitting now\n").c_str());
      ::_exit(128 + signal);
    }
    signal_ = signal;  // before stop_, so that whoever sees the stop sees its signal
    stop_ = true;
    say(("\nvyxgrab: " + name + ": stopping after the current frame (" + name +
         " again to quit at once)\n")
            .c_str());
    const std::string waiting = waiting_ != nullptr ? waiting_->describe() : std::string();
    if (!waiting.empty()) {
      say(("vyxgrab: " + waiting + "; the grab stops when the plug-in's bounded wait ends\n")
              .c_str());
    }
  }
}

}  // namespace vyxgrab
