#pragma once
// Programs run as users run them: a child process with its own standard output and
// error, a small JSON reader for the --json documents, and a simulator serving drives.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace clitest {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline const std::string kCtl = std::string(VX_BINARY_DIR) + "/cli/vx310ctl";
inline const std::string kSim = std::string(VX_BINARY_DIR) + "/sim/vx310-sim";
inline const std::string kModels = std::string(VX_SOURCE_DIR) + "/models";

// A child process run in `cwd`; its standard output and error are kept apart.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::string& cwd = std::string()) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    fd_[0] = out[0];
    fd_[1] = err[0];
  }
  ~Child() {
    if (pid_ > 0 && status_ == kRunning) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : fd_)
      if (fd >= 0) close(fd);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The first line of standard output holding `text` (from the start), or "" when none
  // came within the limit.
  std::string WaitOutLine(const std::string& text, std::chrono::seconds limit = 60s) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
      std::size_t from = 0;
      for (std::size_t nl; (nl = out_.find('\n', from)) != std::string::npos; from = nl + 1) {
        const std::string line = out_.substr(from, nl - from);
        if (line.find(text) != std::string::npos && seen_.insert(from).second) return line;
      }
      if (!ReadSome(deadline)) return std::string();
    }
  }
  // True once standard error holds `text`; false when it did not come within the limit.
  bool WaitErr(const std::string& text, std::chrono::seconds limit = 60s) {
    const auto deadline = Clock::now() + limit;
    while (err_.find(text) == std::string::npos)
      if (!ReadSome(deadline)) return false;
    return true;
  }
  // Reads everything and waits for the end: the exit status, or -1 when it did not end in
  // time or ended by a signal.
  int Wait(std::chrono::seconds limit = 120s) {
    const auto deadline = Clock::now() + limit;
    while (ReadSome(deadline)) {
    }
    if (Clock::now() >= deadline) return -1;
    int st = 0;
    if (waitpid(pid_, &st, 0) != pid_) return -1;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return status_;
  }
  void Signal(int sig) { kill(pid_, sig); }
  const std::string& Out() const { return out_; }
  const std::string& Err() const { return err_; }

 private:
  static constexpr int kRunning = -2;
  // False once both pipes have ended, or at the deadline.
  bool ReadSome(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || (fd_[0] < 0 && fd_[1] < 0)) return false;
    pollfd p[2] = {{fd_[0], POLLIN, 0}, {fd_[1], POLLIN, 0}};
    if (poll(p, 2, static_cast<int>(left)) <= 0) return false;
    for (int i = 0; i < 2; ++i) {
      if (fd_[i] < 0 || p[i].revents == 0) continue;
      char buf[4096];
      const ssize_t n = read(fd_[i], buf, sizeof buf);
      if (n <= 0) {
        close(fd_[i]);
        fd_[i] = -1;
        continue;
      }
      (i == 0 ? out_ : err_).append(buf, static_cast<std::size_t>(n));
    }
    return true;
  }

  pid_t pid_ = -1;
  int fd_[2] = {-1, -1};
  int status_ = kRunning;
  std::string out_, err_;
  std::set<std::size_t> seen_;
};

// What a finished run left.
struct CtlRun {
  int Status = -1;
  std::string Out, Err;
};

inline CtlRun RunCtl(const std::vector<std::string>& args, const std::string& cwd = std::string()) {
  std::vector<std::string> argv{kCtl};
  argv.insert(argv.end(), args.begin(), args.end());
  Child c(argv, cwd);
  CtlRun r;
  r.Status = c.Wait();
  r.Out = c.Out();
  r.Err = c.Err();
  return r;
}

// --- a JSON reader, enough for the documents vx310ctl writes ------------------------------

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool b = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;

  const Json& operator[](const std::string& key) const {
    static const Json none;
    const auto it = members.find(key);
    return it == members.end() ? none : it->second;
  }
  bool Has(const std::string& key) const { return members.count(key) != 0; }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : s_(text) {}
  // False, with the place in `error`, when the text is not one JSON document.
  bool Read(Json* out, std::string* error) {
    try {
      *out = Value();
      Blank();
      if (i_ != s_.size()) throw i_;
      return true;
    } catch (std::size_t at) {
      *error = "JSON error at " + std::to_string(at) + " in: " + s_;
      return false;
    }
  }

 private:
  void Blank() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t'))
      ++i_;
  }
  void Expect(char c) {
    Blank();
    if (i_ >= s_.size() || s_[i_] != c) throw i_;
    ++i_;
  }
  bool Peek(char c) {
    Blank();
    return i_ < s_.size() && s_[i_] == c;
  }
  std::string String() {
    Expect('"');
    std::string out;
    while (i_ < s_.size() && s_[i_] != '"') {
      char c = s_[i_++];
      if (static_cast<unsigned char>(c) < 0x20) throw i_;
      if (c == '\\') {
        if (i_ >= s_.size()) throw i_;
        const char e = s_[i_++];
        switch (e) {
          case 'n':
            c = '\n';
            break;
          case 'r':
            c = '\r';
            break;
          case 't':
            c = '\t';
            break;
          case '"':
          case '\\':
          case '/':
            c = e;
            break;
          case 'u':
            if (i_ + 4 > s_.size()) throw i_;
            c = static_cast<char>(std::stoi(s_.substr(i_, 4), nullptr, 16));
            i_ += 4;
            break;
          default:
            throw i_;
        }
      }
      out += c;
    }
    Expect('"');
    return out;
  }
  Json Value() {
    Json v;
    Blank();
    if (i_ >= s_.size()) throw i_;
    const char c = s_[i_];
    if (c == '{') {
      v.kind = Json::kObject;
      ++i_;
      if (Peek('}')) {
        ++i_;
        return v;
      }
      do {
        const std::string key = String();
        Expect(':');
        v.members[key] = Value();
      } while (Peek(',') && ++i_);
      Expect('}');
    } else if (c == '[') {
      v.kind = Json::kArray;
      ++i_;
      if (Peek(']')) {
        ++i_;
        return v;
      }
      do v.items.push_back(Value());
      while (Peek(',') && ++i_);
      Expect(']');
    } else if (c == '"') {
      v.kind = Json::kString;
      v.text = String();
    } else if (s_.compare(i_, 4, "true") == 0 || s_.compare(i_, 5, "false") == 0) {
      v.kind = Json::kBool;
      v.b = s_[i_] == 't';
      i_ += v.b ? 4 : 5;
    } else if (s_.compare(i_, 4, "null") == 0) {
      i_ += 4;
    } else {
      std::size_t used = 0;
      try {
        v.number = std::stod(s_.substr(i_), &used);
      } catch (...) {
        throw i_;
      }
      v.kind = Json::kNumber;
      i_ += used;
    }
    return v;
  }

  const std::string& s_;
  std::size_t i_ = 0;
};

inline Json ParseJson(const std::string& text) {
  Json j;
  std::string error;
  EXPECT_TRUE(JsonReader(text).Read(&j, &error)) << error;
  return j;
}

// --- the simulator ------------------------------------------------------------------------

// vx310-sim serving the given slaves over TCP (port 0) or on a pseudo-terminal link, with
// its EEPROM state files in `dir`.
class Sim {
 public:
  Sim(const std::string& dir, const std::string& slaves, std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{
        kSim, "--model", kModels + "/VX310v220.par", "--slave", slaves, "--state", dir + "/ee"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (std::find(extra.begin(), extra.end(), "--pty") == extra.end()) {
      argv.push_back("--tcp");
      argv.push_back("0");
    }
    child_ = std::make_unique<Child>(argv);
    ready_ = child_->WaitOutLine("listening on ");
    EXPECT_FALSE(ready_.empty()) << "simulator not ready: " << child_->Err();
  }
  ~Sim() {
    child_->Signal(SIGTERM);
    EXPECT_EQ(child_->Wait(), 0) << child_->Err();
  }
  // "tcp:127.0.0.1:PORT" from the ready line.
  std::string TcpPort() const {
    const auto colon = ready_.rfind(':');
    std::size_t end = colon + 1;
    while (end < ready_.size() && std::isdigit(static_cast<unsigned char>(ready_[end]))) ++end;
    return "tcp:127.0.0.1:" + ready_.substr(colon + 1, end - colon - 1);
  }
  const std::string& Ready() const { return ready_; }

 private:
  std::unique_ptr<Child> child_;
  std::string ready_;
};

}  // namespace clitest
