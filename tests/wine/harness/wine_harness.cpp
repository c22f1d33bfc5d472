// The host side of the Wine harness: one Xvfb and one WINEPREFIX per session, and cvdriver.exe
// (tests/wine/driver/cvdriver.cpp, whose header describes the line protocol spoken here) to start
// each program and to watch and answer its dialogs.
//
// Every child (Xvfb, Wine tools, the driver) runs in its own process group with a clean
// environment, dies with the thread that started it (PR_SET_PDEATHSIG), and is waited for only
// until a deadline, after which its whole group is killed.
#include "wine_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef CORVANE_DEFAULT_WINE_ROOT
#define CORVANE_DEFAULT_WINE_ROOT ""
#endif
#ifndef CORVANE_DEFAULT_WIN64_DIR
#define CORVANE_DEFAULT_WIN64_DIR ""
#endif

namespace corvane::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kDriverExe = "tests/wine/cvdriver.exe";
// Beyond a run's own time-out, the time the driver gets to start under Wine and to end the program.
constexpr milliseconds kDriverGrace{20000};
constexpr milliseconds kReplyTimeout{20000};
constexpr milliseconds kExitTimeout{10000};
constexpr milliseconds kToolTimeout{30000};
constexpr milliseconds kPrefixTimeout{300000};
constexpr size_t kStderrKept = 16384;

// A file descriptor with one owner.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  int Get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

void MakePipe(Fd& read, Fd& write) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
  read = Fd(fds[0]);
  write = Fd(fds[1]);
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : left > 1000000 ? 1000000 : (int)left;
}

std::string Escape(const std::string& s) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c < 0x20 || c == 0x7F) out += {'\\', 'x', hex[c >> 4], hex[c & 15]};
    else out += (char)c;
  }
  return out;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    if (c == 'n') out += '\n';
    else if (c == 'r') out += '\r';
    else if (c == 't') out += '\t';
    else if (c == 'x' && i + 2 < s.size()) {
      out += (char)std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16);
      i += 2;
    } else out += c;
  }
  return out;
}

// Decimal digits of a value that fits 32 bits, nothing else.
std::optional<uint32_t> ParseExitCode(const std::string& text) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return {};
  const unsigned long long value = std::stoull(text);
  if (value > 0xFFFFFFFFull) return {};
  return (uint32_t)value;
}

// The program's path as execve needs it, searched in the PATH of the environment it will run with.
std::string FindProgram(const std::string& name, const std::string& path) {
  if (name.find('/') != std::string::npos) return name;
  std::stringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  throw std::runtime_error("cannot run " + name + ": not found in PATH (" + path + ")");
}

// Starts argv with exactly `env` as its environment, in a process group of its own, with the
// given descriptors as standard input, output and error (-1: /dev/null) and `fd3` as its
// descriptor 3 (-1: none). Throws when the program cannot be started.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int in, int out,
            int err, int fd3 = -1) {
  std::string path;
  for (const std::string& entry : env)
    if (entry.rfind("PATH=", 0) == 0) path = entry.substr(5);
  const std::string program = FindProgram(argv.at(0), path);
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  Fd errorRead, errorWrite;  // carries errno of a failed execve; closed by a successful one
  MakePipe(errorRead, errorWrite);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    // Only async-signal-safe calls from here on. Every descriptor is first moved above 10, so
    // that placing one on 0..3 cannot overwrite another.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int keep = fcntl(errorWrite.Get(), F_DUPFD_CLOEXEC, 10);
    int nul = open("/dev/null", O_RDWR);
    int sources[4] = {in < 0 ? nul : in, out < 0 ? nul : out, err < 0 ? nul : err, fd3};
    for (int& fd : sources)
      if (fd >= 0) fd = fcntl(fd, F_DUPFD_CLOEXEC, 10);  // out of the way of 0..3
    for (int target = 0; target < 4; ++target)
      if (sources[target] >= 0) dup2(sources[target], target);
    syscall(SYS_close_range, sources[3] >= 0 ? 4 : 3, keep - 1, 0);
    syscall(SYS_close_range, keep + 1, ~0u, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    execve(program.c_str(), args.data(), envp.data());
    int error = errno;
    ssize_t ignored = write(keep, &error, sizeof error);
    (void)ignored;
    _exit(127);
  }
  errorWrite.Close();
  int error = 0;
  ssize_t n;
  do n = read(errorRead.Get(), &error, sizeof error);
  while (n < 0 && errno == EINTR);
  if (n == (ssize_t)sizeof error) {
    waitpid(pid, nullptr, 0);  // it has exited already
    throw std::runtime_error("cannot run " + program + ": " + std::strerror(error));
  }
  return pid;
}

// Waits for the child to end until the deadline; its exit status, or nothing if it still runs.
std::optional<int> WaitExit(pid_t pid, Clock::time_point deadline) {
  if (pid <= 0) return -1;  // waitpid would take any child
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return status;
    if (r < 0 && errno != EINTR) return -1;  // not our child any more: nothing to wait for
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(milliseconds(20));
  }
}

// Kills the child's process group and reaps the child.
void KillGroup(pid_t pid) {
  if (pid <= 1) return;  // kill(-1) would reach every process we may signal
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  WaitExit(pid, Clock::now() + kExitTimeout);
}

// Runs a tool to its end, its output appended to `log`; its exit status, or nothing on time-out.
std::optional<int> RunTool(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                           const std::string& log, milliseconds timeout) {
  Fd logFd(open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  pid_t pid = Spawn(argv, env, -1, logFd.Get(), logFd.Get());
  std::optional<int> status = WaitExit(pid, Clock::now() + timeout);
  if (!status) KillGroup(pid);
  return status;
}

bool IsPlainName(const std::string& name) {
  if (name.empty() || name[0] == '.') return false;
  for (char c : name)
    if (!std::isalnum((unsigned char)c) && c != '-' && c != '_' && c != '.') return false;
  return true;
}

// A relative path that cannot leave the directory it is joined to: no empty, "." or ".." part.
bool IsRelativeBelow(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  std::stringstream parts(path + "/");
  std::string part;
  while (std::getline(parts, part, '/'))
    if (part.empty() || part == "." || part == "..") return false;
  return true;
}

// Holds an exclusive flock on a file until destroyed; waits for it at most until the deadline.
class FileLock {
 public:
  FileLock(const std::string& path, Clock::time_point deadline)
      : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd_.Get() < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    while (flock(fd_.Get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR)
        throw std::runtime_error("cannot lock " + path + ": " + std::strerror(errno));
      if (Clock::now() >= deadline) throw std::runtime_error("timed out waiting for the lock " + path);
      std::this_thread::sleep_for(milliseconds(100));
    }
  }

 private:
  Fd fd_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Dialog

std::vector<std::string> Dialog::Texts(const std::string& kind) const {
  std::vector<std::string> texts;
  for (const Control& c : controls)
    if (c.kind == kind && !c.text.empty()) texts.push_back(c.text);
  return texts;
}

std::string Dialog::TextOf(int id) const {
  for (const Control& c : controls)
    if (c.id == id) return c.text;
  return "";
}

// ---------------------------------------------------------------------------------------------
// DrivenProcess: one cvdriver.exe and the program it started.

struct DrivenProcess::Impl {
  std::string commandLine;
  std::vector<std::string> driverArgv, driverEnv;
  bool anyLine = false;   // the driver has written something
  int restarts = 0;
  bool started = false;  // the driver has created the program's process
  pid_t pid = -1;  // the driver (wine), leader of its process group; -1 once reaped
  Fd in, out, err;
  std::string outPending, stderrTail;
  bool finished = false;  // "exit" or "fatal" read, or the driver is gone
  bool exited = false;
  bool timedOut = false;
  uint32_t exitCode = 0;
  std::vector<Dialog> dialogs;
  size_t returned = 0;  // dialogs handed out by WaitForDialog
  std::optional<Dialog> building;
  std::string output;
  std::deque<std::string> replies;  // one per command: "" for ok, else why it failed
  std::vector<std::string> notes;

  ~Impl() {
    if (!finished && pid > 0) Kill();
    Reap();
  }

  void Fail(const std::string& what) {
    std::string context = "\n  command line: " + commandLine;
    for (const std::string& note : notes) context += "\n  driver: " + note;
    if (!stderrTail.empty()) context += "\n  driver stderr (end):\n" + stderrTail;
    ADD_FAILURE() << what << context;
  }

  void HandleLine(const std::string& line) {
    anyLine = true;
    const size_t space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (verb == "dialog") {
      building = Dialog{};
    } else if (verb == "title" && building) {
      building->title = Unescape(rest);
    } else if (verb == "control" && building) {
      // <kind> <id> <visible> <text>: the text is the rest of the line, spaces and all.
      const size_t idAt = rest.find(' ');
      const size_t visibleAt = idAt == std::string::npos ? idAt : rest.find(' ', idAt + 1);
      const size_t textAt = visibleAt == std::string::npos ? visibleAt : rest.find(' ', visibleAt + 1);
      if (visibleAt == std::string::npos) {
        notes.push_back("malformed line: " + Escape(line));
        return;
      }
      Control c;
      c.kind = Unescape(rest.substr(0, idAt));
      c.id = (int)std::strtol(rest.c_str() + idAt + 1, nullptr, 10);
      c.visible = rest.compare(visibleAt + 1, 1, "1") == 0;
      c.text = textAt == std::string::npos ? "" : Unescape(rest.substr(textAt + 1));
      building->controls.push_back(std::move(c));
    } else if (verb == "end" && building) {
      dialogs.push_back(std::move(*building));
      building.reset();
    } else if (verb == "output") {
      output += Unescape(rest);
    } else if (verb == "ok") {
      replies.push_back("");
    } else if (verb == "fail") {
      const size_t at = rest.find(' ');
      replies.push_back(at == std::string::npos ? "failed" : Unescape(rest.substr(at + 1)));
    } else if (verb == "timeout") {
      timedOut = true;
    } else if (verb == "exit") {
      exited = true;
      finished = true;
      std::optional<uint32_t> code = ParseExitCode(rest);
      if (!code) Fail("cvdriver reported an exit code that is not an unsigned 32-bit number: " + rest);
      exitCode = code.value_or(0);
    } else if (verb == "fatal") {
      finished = true;
      Fail("cvdriver could not run the program: " + Unescape(rest));
    } else if (verb == "started") {
      started = true;
    } else if (verb == "note") {
      notes.push_back(Unescape(line));
      std::fprintf(stderr, "wine harness: cvdriver: %s\n", Unescape(rest).c_str());
    } else if (verb == "pressed") {
      notes.push_back(Unescape(line));
    } else {
      notes.push_back("unexpected line: " + Escape(line));
    }
  }

  // Reads from the driver until `done()` holds or the deadline passes; true when done() holds.
  template <typename Done>
  bool PumpUntil(Done done, Clock::time_point deadline) {
    // Past the deadline, what is ready is still read, so that Running() sees an end already
    // written; a bounded number of reads keeps a flood of output from holding us there.
    for (int readsPastDeadline = 0; readsPastDeadline < 256;) {
      if (done()) return true;
      if (finished || out.Get() < 0) return false;
      pollfd fds[2] = {{out.Get(), POLLIN, 0}, {err.Get(), POLLIN, 0}};
      int ready = poll(fds, err.Get() >= 0 ? 2 : 1, RemainingMs(deadline));
      if (ready < 0 && errno != EINTR) {
        Fail(std::string("poll: ") + std::strerror(errno));
        finished = true;
        return false;
      }
      if (ready == 0) return done();
      char buffer[8192];
      if (err.Get() >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
        ssize_t n = read(err.Get(), buffer, sizeof buffer);
        if (n > 0) {
          stderrTail.append(buffer, n);
          if (stderrTail.size() > kStderrKept) stderrTail.erase(0, stderrTail.size() - kStderrKept);
        } else if (n == 0 || errno != EINTR) {
          err.Close();
        }
      }
      if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
        ssize_t n = read(out.Get(), buffer, sizeof buffer);
        if (n > 0) {
          outPending.append(buffer, n);
          size_t eol;
          while (!finished && (eol = outPending.find('\n')) != std::string::npos) {
            std::string line = outPending.substr(0, eol);
            outPending.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            HandleLine(line);
          }
        } else if (n == 0 || errno != EINTR) {
          DriverGone();
        }
      }
      if (Clock::now() >= deadline) ++readsPastDeadline;
    }
    return done();
  }

  // The driver closed its output before its last line: says how it ended, with its stderr.
  void DriverGone() {
    out.Close();
    finished = true;
    const Clock::time_point deadline = Clock::now() + kExitTimeout;
    while (err.Get() >= 0) {
      pollfd fd = {err.Get(), POLLIN, 0};
      char buffer[8192];
      ssize_t n = poll(&fd, 1, RemainingMs(deadline)) > 0 ? read(err.Get(), buffer, sizeof buffer) : 0;
      if (n <= 0) break;
      stderrTail.append(buffer, n);
    }
    if (stderrTail.size() > kStderrKept) stderrTail.erase(0, stderrTail.size() - kStderrKept);
    std::string how = "cvdriver ended";
    if (std::optional<int> status = WaitExit(pid, deadline)) {
      pid = -1;
      if (WIFEXITED(*status)) how += " with exit status " + std::to_string(WEXITSTATUS(*status));
      else if (WIFSIGNALED(*status)) how += " by signal " + std::to_string(WTERMSIG(*status));
    }
    // Dead before its first line, it had not started the program: Wine failed to start it.
    if (!anyLine && restarts == 0 && pid < 0) {
      ++restarts;
      std::fprintf(stderr, "wine harness: %s before its first line; starting it again\n%s", how.c_str(),
                   stderrTail.c_str());
      stderrTail.clear();
      std::string why;
      if (SpawnDriver(why)) return;
      how += "; starting it again failed: " + why;
    }
    Fail(how + " without reporting the end of the program");
  }

  // Starts cvdriver.exe under Wine with pipes for its standard handles.
  bool SpawnDriver(std::string& why) {
    Fd inRead, inWrite, outRead, outWrite, errRead, errWrite;
    try {
      MakePipe(inRead, inWrite);
      MakePipe(outRead, outWrite);
      MakePipe(errRead, errWrite);
      pid = Spawn(driverArgv, driverEnv, inRead.Get(), outWrite.Get(), errWrite.Get());
    } catch (const std::exception& e) {
      why = e.what();
      return false;
    }
    // Commands are written only when poll() says they fit, so a stuck driver cannot block us.
    fcntl(inWrite.Get(), F_SETFL, O_NONBLOCK);
    in = std::move(inWrite);
    out = std::move(outRead);
    err = std::move(errRead);
    finished = false;
    return true;
  }

  bool Send(const std::string& verb, const std::string& arg) {
    std::string line = verb + " " + Escape(arg) + "\n";
    const Clock::time_point deadline = Clock::now() + kReplyTimeout;
    size_t sent = 0;
    while (sent < line.size()) {
      pollfd fd = {in.Get(), POLLOUT, 0};
      if (in.Get() < 0 || poll(&fd, 1, RemainingMs(deadline)) <= 0) return false;
      ssize_t n = write(in.Get(), line.data() + sent, line.size() - sent);
      if (n < 0 && errno != EINTR && errno != EAGAIN) return false;
      if (n > 0) sent += n;
    }
    return true;
  }

  // Sends a command and waits for its answer; false (with the reason) when it failed.
  bool Command(const std::string& verb, const std::string& arg, std::string& why) {
    if (finished) {
      why = exited ? "the program has ended (exit code " + std::to_string(exitCode) + ")" : "the driver is gone";
      return false;
    }
    if (!Send(verb, arg)) {
      why = "cannot send the command to cvdriver";
      return false;
    }
    if (!PumpUntil([&] { return !replies.empty(); }, Clock::now() + kReplyTimeout)) {
      why = finished ? "the program ended before the command was done" : "cvdriver did not answer";
      return false;
    }
    why = replies.front();
    replies.pop_front();
    return why.empty();
  }

  // Ends the program through the driver, or, if the driver does not answer, the driver's group.
  void Kill() {
    if (Send("kill", "")) PumpUntil([&] { return finished; }, Clock::now() + kExitTimeout);
    if (!finished) {
      Fail("cvdriver did not end the program; killing its process group");
      KillGroup(pid);
      pid = -1;
      finished = true;
    }
  }

  // Waits for the driver to exit after its last line; kills its group if it lingers.
  void Reap() {
    in.Close();
    if (pid > 0 && !WaitExit(pid, Clock::now() + kExitTimeout)) KillGroup(pid);
    pid = -1;
    out.Close();
    err.Close();
  }

  void WaitToEnd(Clock::time_point deadline) {
    if (!PumpUntil([&] { return finished; }, deadline)) {
      if (!finished) {
        timedOut = true;
        Kill();
      }
    }
    Reap();
  }

  RunResult Result() const {
    RunResult r;
    r.timedOut = timedOut;
    r.exitCode = exitCode;
    r.dialogs = dialogs;
    r.output = output;
    return r;
  }
};

DrivenProcess::DrivenProcess(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
DrivenProcess::~DrivenProcess() = default;

Dialog DrivenProcess::WaitForDialog(std::chrono::milliseconds timeout) {
  Impl& p = *impl_;
  p.PumpUntil([&] { return p.dialogs.size() > p.returned; }, Clock::now() + timeout);
  if (p.dialogs.size() > p.returned) return p.dialogs[p.returned++];
  if (p.exited)
    p.Fail("the program ended (exit code " + std::to_string(p.exitCode) + ") before showing another dialog");
  else if (!p.finished)
    p.Fail("no new dialog within " + std::to_string(timeout.count()) + " ms");
  return Dialog{};
}

void DrivenProcess::Press(const std::string& button) {
  std::string why;
  if (!impl_->Command("press", button, why)) impl_->Fail("cannot press \"" + button + "\": " + why);
}

void DrivenProcess::Key(const std::string& name) {
  std::string why;
  if (!impl_->Command("key", name, why)) impl_->Fail("cannot type \"" + name + "\": " + why);
}

void DrivenProcess::Close() {
  std::string why;
  if (!impl_->Command("close", "", why)) impl_->Fail("cannot close the dialog: " + why);
}

void DrivenProcess::Screenshot(const std::string& bmpPath) {
  std::string why;
  if (!impl_->Command("screenshot", WindowsPath(bmpPath), why))
    impl_->Fail("cannot save a screenshot to " + bmpPath + ": " + why);
}

bool DrivenProcess::Running() {
  impl_->PumpUntil([] { return false; }, Clock::now());
  return !impl_->finished;
}

RunResult DrivenProcess::Wait(std::chrono::milliseconds timeout, const std::string& press) {
  Impl& p = *impl_;
  const Clock::time_point deadline = Clock::now() + timeout;
  std::string why;
  const bool told = p.finished || p.Command("autopress", press, why);
  p.WaitToEnd(deadline);
  // A program that ended just as it was told is no failure; one that could not be told and ran on is.
  if (!told && !p.exited) p.Fail("cannot tell cvdriver to press \"" + press + "\": " + why);
  return p.Result();
}

// ---------------------------------------------------------------------------------------------
// WineSession

struct WineSession::Impl {
  std::string group, root, prefix, workRoot, log, display;
  pid_t xvfb = -1;

  std::vector<std::string> BaseEnv() const {
    std::string path = Env("PATH");
    return {"PATH=" + (path.empty() ? std::string("/usr/local/bin:/usr/bin:/bin") : path),
            "HOME=" + Env("HOME"),
            "DISPLAY=" + display,
            "WINEPREFIX=" + prefix,
            // Wine converts the environment (the command line among it) from the Linux locale's
            // character set; without one it drops the eighth bit. The Windows locale stays en-US.
            "LANG=C.UTF-8",
            "WINEDEBUG=-all",
            "WINEDLLOVERRIDES=mscoree,mshtml="};
  }

  void StartXvfb() {
    Fd displayRead, displayWrite, logFd(open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    MakePipe(displayRead, displayWrite);
    std::vector<std::string> env = BaseEnv();
    env.resize(2);  // PATH and HOME
    xvfb = Spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"},
                 env, -1, logFd.Get(), logFd.Get(), displayWrite.Get());
    displayWrite.Close();
    // Xvfb writes the number of the display it took once it accepts clients.
    std::string number;
    const Clock::time_point deadline = Clock::now() + kToolTimeout;
    while (number.find('\n') == std::string::npos) {
      pollfd fd = {displayRead.Get(), POLLIN, 0};
      char buffer[32];
      ssize_t n = poll(&fd, 1, RemainingMs(deadline)) > 0 ? read(displayRead.Get(), buffer, sizeof buffer) : -1;
      if (n <= 0) {
        KillGroup(xvfb);
        xvfb = -1;
        throw std::runtime_error("Xvfb did not report a display; see " + log);
      }
      number.append(buffer, n);
    }
    display = ":" + number.substr(0, number.find('\n'));
  }

  // Creates and sets up the prefix on first use; later sessions of the group reuse it.
  void EnsurePrefix() {
    FileLock lock(prefix + ".lock", Clock::now() + kPrefixTimeout);
    const std::string ready = prefix + "/.corvane-harness-ready";
    if (fs::exists(ready)) return;
    if (!fs::exists(prefix + "/system.reg")) {
      std::optional<int> status = RunTool({"wineboot", "-i"}, BaseEnv(), log, kPrefixTimeout);
      RunTool({"wineserver", "-w"}, BaseEnv(), log, kToolTimeout);
      if (!status || *status != 0 || !fs::exists(prefix + "/system.reg"))
        throw std::runtime_error("creating the Wine prefix " + prefix + " failed; see " + log);
    }
    // Xvfb has no window manager, and winex11 waits two seconds for one whenever a managed window
    // is hidden (every closed message box); unmanaged windows close at once.
    std::optional<int> status = RunTool(
        {"wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/t", "REG_SZ", "/d", "N", "/f"},
        BaseEnv(), log, kPrefixTimeout);
    // The registry reaches the disk when the server ends.
    RunTool({"wineserver", "-w"}, BaseEnv(), log, kToolTimeout);
    if (!status || *status != 0) throw std::runtime_error("setting up the Wine prefix " + prefix + " failed; see " + log);
    std::ofstream(ready) << "set up by the Wine harness\n";
  }

  // Ends every Wine process of the prefix, then the display. Never throws: it runs in a destructor.
  void Stop() {
    try {
      if (!display.empty()) RunTool({"wineserver", "-k"}, BaseEnv(), log, kToolTimeout);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "wine harness: stopping the Wine processes of %s failed: %s\n", prefix.c_str(), e.what());
    }
    if (xvfb > 0) {
      kill(xvfb, SIGTERM);
      if (!WaitExit(xvfb, Clock::now() + kExitTimeout)) KillGroup(xvfb);
      xvfb = -1;
    }
  }
};

WineSession::WineSession(const std::string& group) : impl_(std::make_unique<Impl>()) {
  if (!IsPlainName(group)) throw std::invalid_argument("not a plain name for a Wine test group: \"" + group + "\"");
  // A driver that dies while we write a command must give an error, not end the test program.
  signal(SIGPIPE, SIG_IGN);
  Impl& s = *impl_;
  s.group = group;
  s.root = Env("CORVANE_WINE_ROOT");
  if (s.root.empty()) s.root = CORVANE_DEFAULT_WINE_ROOT;
  if (s.root.empty()) throw std::runtime_error("CORVANE_WINE_ROOT is not set");
  s.root = fs::absolute(s.root).lexically_normal().string();
  fs::create_directories(s.root);
  s.prefix = s.root + "/" + group;
  s.workRoot = s.root + "/" + group + ".work";
  s.log = s.root + "/" + group + ".log";
  { std::ofstream truncate(s.log, std::ios::trunc); }
  try {
    s.StartXvfb();
    // A server left over from an earlier run of this group may know a display that is gone.
    RunTool({"wineserver", "-k"}, s.BaseEnv(), s.log, kToolTimeout);
    s.EnsurePrefix();
  } catch (...) {
    s.Stop();
    throw;
  }
}

WineSession::~WineSession() { impl_->Stop(); }

std::string WineSession::FreshDir(const std::string& name) {
  if (!IsRelativeBelow(name)) throw std::invalid_argument("not a relative path below the work directory: \"" + name + "\"");
  const std::string dir = impl_->workRoot + "/" + name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

RunResult WineSession::Run(const std::string& commandLine, const RunOptions& options) {
  // The driver presses from the first dialog on, so none can slip by before a command would arrive.
  std::unique_ptr<DrivenProcess> process = Launch(commandLine, options, options.press);
  DrivenProcess::Impl& p = *process->impl_;
  p.WaitToEnd(Clock::now() + options.timeout + kDriverGrace);
  return p.Result();
}

std::unique_ptr<DrivenProcess> WineSession::Start(const std::string& commandLine, const RunOptions& options) {
  std::unique_ptr<DrivenProcess> process = Launch(commandLine, options, "");
  // Returns once the program runs, so that what the test does next finds it there.
  DrivenProcess::Impl& p = *process->impl_;
  if (!p.PumpUntil([&] { return p.started; }, Clock::now() + kReplyTimeout) && !p.finished)
    p.Fail("cvdriver did not report the program started");
  return process;
}

std::unique_ptr<DrivenProcess> WineSession::Launch(const std::string& commandLine, const RunOptions& options,
                                                   const std::string& press) {
  auto impl = std::make_unique<DrivenProcess::Impl>();
  impl->commandLine = commandLine;
  impl->finished = true;  // until the driver runs
  std::unique_ptr<DrivenProcess> process(new DrivenProcess(std::move(impl)));
  DrivenProcess::Impl& p = *process->impl_;

  std::string driver;
  try {
    driver = Win64BuildDir() + "/" + kDriverExe;
  } catch (const std::exception& e) {
    p.Fail(e.what());
    return process;
  }
  if (commandLine.empty() || commandLine.find('\0') != std::string::npos) {
    p.Fail("the command line is empty or holds a NUL character");
    return process;
  }
  if (options.timeout.count() <= 0) {
    p.Fail("the time-out must be positive");
    return process;
  }
  if (!fs::exists(driver)) {
    p.Fail(driver + " is missing: build the win64 targets cvdriver and cvsmoke first");
    return process;
  }
  std::map<std::string, std::string> vars;
  for (const std::string& entry : impl_->BaseEnv()) vars[entry.substr(0, entry.find('='))] = entry.substr(entry.find('=') + 1);
  for (const auto& [name, value] : options.env) vars[name] = value;
  vars["CVDRIVER_COMMAND"] = commandLine;
  vars["CVDRIVER_TIMEOUT_MS"] = std::to_string(options.timeout.count());
  if (!options.workDir.empty()) vars["CVDRIVER_DIR"] = WindowsPath(options.workDir);
  if (!press.empty()) vars["CVDRIVER_PRESS"] = press;
  std::vector<std::string> env;
  for (const auto& [name, value] : vars) env.push_back(name + "=" + value);

  p.driverArgv = {"wine", driver};
  p.driverEnv = std::move(env);
  std::string why;
  if (!p.SpawnDriver(why)) p.Fail(why);
  return process;
}

const std::string& WineSession::Prefix() const { return impl_->prefix; }
const std::string& WineSession::Display() const { return impl_->display; }

std::vector<std::string> WineSession::Processes() const {
  std::vector<std::string> found;
  const std::string marker = "WINEPREFIX=" + impl_->prefix;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    std::ifstream environ(entry.path() / "environ", std::ios::binary);
    std::string var;
    bool ours = false;
    while (!ours && std::getline(environ, var, '\0')) ours = var == marker;
    if (!ours) continue;
    std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
    std::string line((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
    for (char& c : line)
      if (c == '\0') c = ' ';
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty()) found.push_back(line);
  }
  return found;
}

// ---------------------------------------------------------------------------------------------

std::string WindowsPath(const std::string& linuxPath) {
  std::string path = fs::absolute(linuxPath).lexically_normal().string();
  for (char& c : path)
    if (c == '/') c = '\\';
  return "Z:" + path;
}

// Quotes so that CommandLineToArgvW and the C runtime give back exactly `word`: backslashes are
// doubled only where a quote follows them.
std::string Quote(const std::string& word) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    quoted += c;
    backslashes = 0;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

std::string Win64BuildDir() {
  std::string dir = Env("CORVANE_WIN64_DIR");
  if (dir.empty()) dir = CORVANE_DEFAULT_WIN64_DIR;
  if (dir.empty()) throw std::runtime_error("CORVANE_WIN64_DIR is not set (ctest sets it)");
  return dir;
}

}  // namespace corvane::test
