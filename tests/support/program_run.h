// Running the built programs as a user does: a program with its stdout and stderr in one file,
// and the simulator program on its own random loopback address.
#ifndef VYX_TESTS_PROGRAM_RUN_H
#define VYX_TESTS_PROGRAM_RUN_H

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lvtsim/launch.h"

namespace vyxtest {

inline std::string readTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Starts path with args, its stdout and stderr going to outputFile (created or emptied; may be
// /dev/null); returns the child's pid.
inline pid_t spawnProgram(const std::string& path, const std::vector<std::string>& args,
                          const std::string& outputFile) {
  std::vector<std::string> argv = {path};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  cargv.reserve(argv.size() + 1);
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    ::execv(cargv[0], cargv.data());
    ::_exit(127);
  }
  return pid;
}

// A child process writing its stdout and stderr to outputFile; killed when still running at
// destruction.
class Program {
 public:
  Program(const std::string& path, const std::vector<std::string>& args, std::string outputFile)
      : output_(std::move(outputFile)), pid_(spawnProgram(path, args, output_)) {}
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // False once it has exited (it is then reaped, and wait() gives its code).
  bool running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    pid_ = -1;
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
  }
  std::string output() const { return readTextFile(output_); }
  // Sends a signal while it runs (SIGINT as Ctrl-C would).
  void signal(int number) const {
    if (pid_ > 0) ::kill(pid_, number);
  }
  // Waits for the exit; its code, or -1 when it did not exit normally.
  int wait() {
    if (pid_ <= 0) return code_;
    int status = 0;
    const bool done = ::waitpid(pid_, &status, 0) == pid_;
    pid_ = -1;
    code_ = done && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return code_;
  }

 private:
  std::string output_;
  pid_t pid_ = -1;
  int code_ = -1;
};

// The simulator program serving on a fresh random 127.x.y.z (retried while the address is
// taken); address() is where. Empty address() when it never started.
class SimulatorProgram {
 public:
  SimulatorProgram(const std::string& path, const std::vector<std::string>& args,
                   const std::string& outputFile) {
    for (int attempt = 0; attempt < 8 && address_.empty(); ++attempt) {
      const std::string address = lvtsim::randomLoopbackAddress();
      std::vector<std::string> all = {address};
      all.insert(all.end(), args.begin(), args.end());
      auto program = std::make_unique<Program>(path, all, outputFile);
      // Until it says where it serves, or exits because the address was taken (a generous
      // guard against a hang, not a timing limit on the simulator).
      for (int i = 0; i < 300 && program->running(); ++i) {
        if (program->output().find("camera at") != std::string::npos) {
          address_ = address;
          program_ = std::move(program);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
  }
  const std::string& address() const { return address_; }

 private:
  std::unique_ptr<Program> program_;
  std::string address_;
};

}  // namespace vyxtest

#endif
