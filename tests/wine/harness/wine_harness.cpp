// The host side of the Wine harness: one Xvfb and one WINEPREFIX per session, and cvdriver.exe (whose
// header describes the line protocol spoken here) to start each program and watch its dialogs. Every
// child runs in its own process group with a clean environment, dies with the thread that started it,
// and is waited for (on its pidfd) only until a deadline, after which its whole group is killed.
#include "wine_harness.h"

#include "line_escapes.h"

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
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace corvane::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// What the driver gets to start under Wine or to answer, and a killed program to end.
constexpr milliseconds kReplyTimeout{20000}, kExitTimeout{10000}, kToolTimeout{30000}, kPrefixTimeout{300000};

struct Fd {
  int fd_;
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd& operator=(Fd&& other) noexcept { return Close(), fd_ = std::exchange(other.fd_, -1), *this; }
  int Get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) close(std::exchange(fd_, -1));
  }
};

void MakePipe(Fd& read, Fd& write) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
  read = Fd(fds[0]), write = Fd(fds[1]);
}
std::string Env(const char* name) { return std::getenv(name) ? std::getenv(name) : ""; }

int Left(Clock::time_point deadline) {
  return (int)std::clamp<long long>(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count(), 0, 1000000);
}

// Starts argv (found in this process's PATH, which `env` passes on) with exactly `env`, in a process
// group of its own, with the given descriptors as standard input, output and error (-1: /dev/null)
// and `fd3` as its descriptor 3 (-1: none). A program that cannot be run ends with status 127.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int in, int out, int err,
            int fd3 = -1) {
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  args.push_back(nullptr), envp.push_back(nullptr);
  const pid_t parent = getpid(), pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {  // only async-signal-safe calls from here on
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int nul = open("/dev/null", O_RDWR);
    int sources[4] = {in < 0 ? nul : in, out < 0 ? nul : out, err < 0 ? nul : err, fd3};
    for (int& fd : sources)  // first out of the way of 0..3, so that no dup2 overwrites another
      if (fd >= 0) fd = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    for (int target = 0; target < 4; ++target)
      if (sources[target] >= 0) dup2(sources[target], target);
    syscall(SYS_close_range, fd3 >= 0 ? 4 : 3, ~0u, 0);
    sigset_t none;
    sigemptyset(&none), sigprocmask(SIG_SETMASK, &none, nullptr), signal(SIGPIPE, SIG_DFL);
    execvpe(args[0], args.data(), envp.data()), _exit(127);
  }
  return pid;
}

// Waits on the child's pidfd until it ends or the deadline passes; its wait status, or nothing if
// it still runs.
std::optional<int> WaitExit(pid_t pid, Clock::time_point deadline) {
  if (pid <= 0) return -1;  // waitpid would take any child
  Fd pidfd((int)syscall(SYS_pidfd_open, pid, 0));
  pollfd ready = {pidfd.Get(), POLLIN, 0};
  int status = 0;
  pid_t r;
  do r = (pidfd.Get() < 0 || poll(&ready, 1, Left(deadline)) >= 0) ? waitpid(pid, &status, pidfd.Get() >= 0 ? WNOHANG : 0) : -1;
  while (r < 0 && errno == EINTR);
  return r == 0 ? std::nullopt : std::optional<int>(r == pid ? status : -1);
}
void KillGroup(pid_t pid) {
  if (pid > 1) kill(-pid, SIGKILL), WaitExit(pid, Clock::now() + kExitTimeout);  // kill(-1) would reach all
}

// Runs a tool to its end, its output appended to `log`; its exit status, or nothing on time-out.
std::optional<int> RunTool(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                           const std::string& log, milliseconds timeout) {
  Fd logFd(open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  const pid_t pid = Spawn(argv, env, -1, logFd.Get(), logFd.Get());
  const std::optional<int> status = WaitExit(pid, Clock::now() + timeout);
  return status ? std::optional<int>(WIFEXITED(*status) ? WEXITSTATUS(*status) : -1) : (KillGroup(pid), std::nullopt);
}

}  // namespace

std::vector<std::string> Dialog::Texts(const std::string& kind) const {
  std::vector<std::string> texts;
  for (const Control& c : controls)
    if (c.kind == kind && !c.text.empty()) texts.push_back(c.text);
  return texts;
}
std::string Dialog::TextOf(int id) const {
  const auto found = std::find_if(controls.begin(), controls.end(), [id](const Control& c) { return c.id == id; });
  return found == controls.end() ? "" : found->text;
}

// One cvdriver.exe and the program it started.
struct DrivenProcess::Impl {
  std::string commandLine, log;  // the driver's standard error (Wine's own messages) goes to the log
  std::vector<std::string> driverArgv, driverEnv;
  pid_t pid = -1;  // the driver (wine), leader of its process group; -1 once reaped
  Fd in, out;
  std::string outPending;
  bool anyLine = false, restarted = false, started = false, finished = true, exited = false, timedOut = false;
  uint32_t exitCode = 0;
  std::vector<Dialog> dialogs;
  size_t returned = 0;  // dialogs handed out by WaitForDialog
  std::optional<Dialog> building;
  std::string output;
  std::optional<std::string> reply;  // to the command sent last: "" for ok, else why it failed
  std::string notes;                 // what the driver noted, for the report of a failure
  ~Impl() { WaitToEnd(Clock::now()); }
  void Fail(const std::string& what) {
    ADD_FAILURE() << what << "\n  command line: " << commandLine << notes << "\n  Wine's messages: " << log;
  }
  void HandleLine(const std::string& line) {
    anyLine = true;
    const size_t space = line.find(' ');
    const std::string verb = line.substr(0, space), rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (verb == "dialog") {
      building = Dialog{};
    } else if (verb == "title" && building) {
      building->title = Unescape(rest);
    } else if (verb == "control" && building) {  // <kind> <id> <visible> <text, spaces and all>
      std::istringstream fields(rest);
      Control& c = building->controls.emplace_back();
      char visible = '0';
      fields >> c.kind >> c.id >> visible;
      const size_t textAt = fields.tellg() < 0 ? rest.size() : (size_t)fields.tellg() + 1;
      c.visible = visible == '1', c.text = textAt < rest.size() ? Unescape(rest.substr(textAt)) : "";
    } else if (verb == "end" && building) {
      dialogs.push_back(std::move(*building)), building.reset();
    } else if (verb == "output") {
      output += Unescape(rest);
    } else if (verb == "ok" || verb == "fail") {
      const size_t at = rest.find(' ');
      reply = verb == "ok" ? "" : at == std::string::npos ? "failed" : Unescape(rest.substr(at + 1));
    } else if (verb == "exit") {
      exited = finished = true;
      exitCode = (uint32_t)std::strtoul(rest.c_str(), nullptr, 10);
    } else if (verb == "fatal") {
      finished = true;
      Fail("cvdriver could not run the program: " + Unescape(rest));
    } else if (verb == "started") {
      started = true;
    } else {
      notes += "\n  driver: " + Unescape(line);  // note, pressed, or anything unexpected
      if (verb == "note") std::fprintf(stderr, "wine harness: cvdriver: %s\n", Unescape(rest).c_str());
    }
  }

  // Reads from the driver until `done()` holds or the deadline passes (past it, what is ready is
  // still read, so that Running() sees an end already written); true when done() holds.
  template <typename Done>
  bool PumpUntil(Done done, Clock::time_point deadline) {
    while (!done() && !finished && out.Get() >= 0) {
      pollfd fd = {out.Get(), POLLIN, 0};
      const int ready = poll(&fd, 1, Left(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;
      char buffer[8192];
      const ssize_t n = read(out.Get(), buffer, sizeof buffer);
      if (n == 0 || (n < 0 && errno != EINTR)) {
        DriverGone();
        continue;
      }
      outPending.append(buffer, n > 0 ? n : 0);
      for (size_t eol; !finished && (eol = outPending.find('\n')) != std::string::npos;) {
        std::string line = outPending.substr(0, eol);
        outPending.erase(0, eol + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        HandleLine(line);
      }
    }
    return done();
  }

  // The driver closed its output before its last line.
  void DriverGone() {
    out.Close();
    finished = true;
    std::string how = "cvdriver ended";
    if (std::optional<int> status = WaitExit(pid, Clock::now() + kExitTimeout)) {
      pid = -1;
      how += WIFEXITED(*status) ? " with exit status " + std::to_string(WEXITSTATUS(*status))
                                : " by signal " + std::to_string(WTERMSIG(*status));
    }
    // Dead before its first line, it had not started the program: Wine failed to start it.
    if (!anyLine && !restarted && pid < 0) {
      std::fprintf(stderr, "wine harness: %s before its first line; starting it again (see %s)\n", how.c_str(), log.c_str());
      return SpawnDriver(), void(restarted = true);
    }
    Fail(how + " without reporting the end of the program");
  }
  void SpawnDriver() {
    Fd inRead, inWrite, outRead, outWrite, logFd(open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    MakePipe(inRead, inWrite), MakePipe(outRead, outWrite);
    pid = Spawn(driverArgv, driverEnv, inRead.Get(), outWrite.Get(), logFd.Get());
    fcntl(inWrite.Get(), F_SETFL, O_NONBLOCK);
    in = std::move(inWrite), out = std::move(outRead), finished = false;
  }

  // A command line is far shorter than the pipe's buffer, which the driver's reader keeps empty: one
  // write that does not block (a stuck driver cannot block us) takes it whole.
  bool Send(const std::string& verb, const std::string& arg) {
    const std::string line = verb + " " + Escape(arg) + "\n";
    return in.Get() >= 0 && write(in.Get(), line.data(), line.size()) == (ssize_t)line.size();
  }

  // Sends a command and waits for its answer; false (with the reason) when it failed.
  bool Command(const std::string& verb, const std::string& arg, std::string& why) {
    if (finished) why = exited ? "the program has ended (exit code " + std::to_string(exitCode) + ")" : "the driver is gone";
    else if (!Send(verb, arg)) why = "cannot send the command to cvdriver";
    else if (!PumpUntil([&] { return reply.has_value(); }, Clock::now() + kReplyTimeout))
      why = finished ? "the program ended before the command was done" : "cvdriver did not answer";
    else why = *std::exchange(reply, std::nullopt);
    return why.empty();
  }

  // Ends the program through the driver, or, if the driver does not answer, the driver's group.
  void Kill() {
    if (Send("kill", "")) PumpUntil([&] { return finished; }, Clock::now() + kExitTimeout);
    if (!finished) Fail("cvdriver did not end the program; killing its process group"), KillGroup(pid), pid = -1;
    finished = true;
  }

  // Waits for the end until the deadline, then kills the program; reaps the driver.
  void WaitToEnd(Clock::time_point deadline) {
    if (!PumpUntil([&] { return finished; }, deadline) && !finished) timedOut = true, Kill();
    in.Close();
    if (pid > 0 && !WaitExit(pid, Clock::now() + kExitTimeout)) KillGroup(pid);
    pid = -1, out.Close();
  }
  void Do(const char* verb, const std::string& arg, const std::string& what) {
    std::string why;
    if (!Command(verb, arg, why)) Fail("cannot " + what + ": " + why);
  }
};

DrivenProcess::DrivenProcess(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
DrivenProcess::~DrivenProcess() = default;

Dialog DrivenProcess::WaitForDialog(std::chrono::milliseconds timeout) {
  Impl& p = *impl_;
  if (p.PumpUntil([&] { return p.dialogs.size() > p.returned; }, Clock::now() + timeout)) return p.dialogs[p.returned++];
  if (p.exited) p.Fail("the program ended (exit code " + std::to_string(p.exitCode) + ") before showing another dialog");
  else if (!p.finished) p.Fail("no new dialog within " + std::to_string(timeout.count()) + " ms");
  return Dialog{};
}
void DrivenProcess::Press(const std::string& button) { impl_->Do("press", button, "press \"" + button + "\""); }
void DrivenProcess::Key(const std::string& name) { impl_->Do("key", name, "type \"" + name + "\""); }
void DrivenProcess::Close() { impl_->Do("close", "", "close the dialog"); }
void DrivenProcess::Screenshot(const std::string& bmpPath) {
  impl_->Do("screenshot", WindowsPath(bmpPath), "save a screenshot to " + bmpPath);
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
  return {p.timedOut, p.exitCode, p.dialogs, p.output};
}

struct WineSession::Impl {
  std::string root, prefix, workRoot, log, display;
  pid_t xvfb = -1;
  std::vector<std::string> BaseEnv() const {
    const std::string path = Env("PATH");
    // Wine converts the environment (the command line among it) from the Linux locale's character
    // set; without one it drops the eighth bit. The Windows locale stays en-US.
    return {"PATH=" + (path.empty() ? std::string("/usr/local/bin:/usr/bin:/bin") : path), "HOME=" + Env("HOME"),
            "DISPLAY=" + display, "WINEPREFIX=" + prefix, "LANG=C.UTF-8", "WINEDEBUG=-all",
            "WINEDLLOVERRIDES=mscoree,mshtml="};
  }
  void StartXvfb() {
    Fd displayRead, displayWrite, logFd(open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    MakePipe(displayRead, displayWrite);
    xvfb = Spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"},
                 {BaseEnv()[0], BaseEnv()[1]}, -1, logFd.Get(), logFd.Get(), displayWrite.Get());  // PATH and HOME
    displayWrite.Close();
    // Xvfb writes the number of the display it took once it accepts clients.
    const Clock::time_point deadline = Clock::now() + kToolTimeout;
    char buffer[32];
    pollfd fd = {displayRead.Get(), POLLIN, 0};
    for (ssize_t n; display.find('\n') == std::string::npos; display.append(buffer, n))
      if ((n = poll(&fd, 1, Left(deadline)) > 0 ? read(displayRead.Get(), buffer, sizeof buffer) : -1) <= 0)
        throw std::runtime_error("Xvfb did not report a display; see " + log);
    display = ":" + display.substr(0, display.find('\n'));
  }

  // Creates and sets up the prefix on first use (one session at a time); later sessions reuse it.
  void EnsurePrefix() {
    Fd lock(open((prefix + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    while (flock(lock.Get(), LOCK_EX) != 0 && errno == EINTR) continue;
    const std::string ready = prefix + "/.corvane-harness-ready";
    if (fs::exists(ready)) return;
    if (!fs::exists(prefix + "/system.reg")) {
      fs::remove_all(prefix);  // what a run ended during its creation left (a full disk, a kill)
      std::optional<int> status = RunTool({"wineboot", "-i"}, BaseEnv(), log, kPrefixTimeout);
      RunTool({"wineserver", "-w"}, BaseEnv(), log, kToolTimeout);
      if (status != 0 || !fs::exists(prefix + "/system.reg"))
        throw std::runtime_error("creating the Wine prefix " + prefix + " failed; see " + log);
    }
    // Xvfb has no window manager, and winex11 waits two seconds for one whenever a managed window
    // is hidden (every closed message box); unmanaged windows close at once.
    std::optional<int> status = RunTool(
        {"wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/t", "REG_SZ", "/d", "N", "/f"},
        BaseEnv(), log, kPrefixTimeout);
    RunTool({"wineserver", "-w"}, BaseEnv(), log, kToolTimeout);  // the registry reaches the disk
    if (status != 0) throw std::runtime_error("setting up the Wine prefix " + prefix + " failed; see " + log);
    std::ofstream(ready) << "set up by the Wine harness\n";
  }

  // Ends every Wine process of the prefix (wineserver was found when the display came up), then the
  // display.
  void Stop() noexcept {
    if (!display.empty()) RunTool({"wineserver", "-k"}, BaseEnv(), log, kToolTimeout);
    if (xvfb > 0 && (kill(xvfb, SIGTERM), !WaitExit(xvfb, Clock::now() + kExitTimeout))) KillGroup(xvfb);
    xvfb = -1;
  }
};

WineSession::WineSession(const std::string& group) : impl_(std::make_unique<Impl>()) {
  if (group.empty() || group[0] == '.' || group.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_.") != std::string::npos)
    throw std::invalid_argument("not a plain name for a Wine test group: \"" + group + "\"");
  signal(SIGPIPE, SIG_IGN);  // a driver that dies while we write must give an error, not end the test
  Impl& s = *impl_;
  s.root = Env("CORVANE_WINE_ROOT").empty() ? CORVANE_DEFAULT_WINE_ROOT : Env("CORVANE_WINE_ROOT");
  s.root = fs::absolute(s.root).lexically_normal().string();
  fs::create_directories(s.root);
  s.prefix = s.root + "/" + group, s.workRoot = s.prefix + ".work", s.log = s.prefix + ".log";
  std::ofstream(s.log, std::ios::trunc).close();
  try {
    s.StartXvfb();
    // A server left over from an earlier run of this group may know a display that is gone.
    RunTool({"wineserver", "-k"}, s.BaseEnv(), s.log, kToolTimeout);
    s.EnsurePrefix();
  } catch (...) {
    s.Stop(), throw;
  }
}

WineSession::~WineSession() { impl_->Stop(); }

std::string WineSession::FreshDir(const std::string& name) {
  std::stringstream parts(name + "/");
  for (std::string part; std::getline(parts, part, '/');)
    if (part.empty() || part == "." || part == ".." || name.find('\0') != std::string::npos)
      throw std::invalid_argument("not a relative path below the work directory: \"" + name + "\"");
  const std::string dir = impl_->workRoot + "/" + name;
  fs::remove_all(dir), fs::create_directories(dir);
  return dir;
}
RunResult WineSession::Run(const std::string& commandLine, const RunOptions& options) {
  return Start(commandLine, options)->Wait(options.timeout, options.press);
}
std::unique_ptr<DrivenProcess> WineSession::Start(const std::string& commandLine, const RunOptions& options) {
  std::unique_ptr<DrivenProcess> process(new DrivenProcess(std::make_unique<DrivenProcess::Impl>()));
  DrivenProcess::Impl& p = *process->impl_;
  p.commandLine = commandLine, p.log = impl_->log;
  const std::string driver = Win64BuildDir() + "/tests/wine/cvdriver.exe";
  const std::string why = !fs::exists(driver) ? "cvdriver.exe is missing (build the win64 target cvdriver): " + driver
                          : commandLine.empty() || commandLine.find('\0') != std::string::npos
                              ? "the command line is empty or holds a NUL"
                              : "";
  if (!why.empty()) return p.Fail(why), std::move(process);
  std::map<std::string, std::string> vars;
  for (const std::string& entry : impl_->BaseEnv()) vars[entry.substr(0, entry.find('='))] = entry.substr(entry.find('=') + 1);
  for (const auto& [name, value] : options.env) vars[name] = value;
  vars["CVDRIVER_COMMAND"] = commandLine;
  if (!options.workDir.empty()) vars["CVDRIVER_DIR"] = WindowsPath(options.workDir);
  p.driverArgv = {"wine", driver};
  for (const auto& [name, value] : vars) p.driverEnv.push_back(name + "=" + value);
  p.SpawnDriver();
  // Returns once the program runs, so that what the test does next finds it there.
  if (!p.PumpUntil([&] { return p.started; }, Clock::now() + kReplyTimeout) && !p.finished)
    p.Fail("cvdriver did not report the program started");
  return process;
}
std::vector<std::string> WineSession::Processes() const {
  std::vector<std::string> found;
  const std::string marker = "WINEPREFIX=" + impl_->prefix;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc", ec)) {
    std::ifstream environ(entry.path() / "environ", std::ios::binary), cmdline(entry.path() / "cmdline", std::ios::binary);
    std::string var, line;
    bool ours = false;
    while (!ours && std::getline(environ, var, '\0')) ours = var == marker;
    if (!ours || !std::getline(cmdline, line, '\n')) continue;
    std::replace(line.begin(), line.end(), '\0', ' ');
    found.push_back(line);
  }
  return found;
}
const std::string& WineSession::Prefix() const { return impl_->prefix; }
const std::string& WineSession::Display() const { return impl_->display; }

std::string WindowsPath(const std::string& linuxPath) {
  std::string path = fs::absolute(linuxPath).lexically_normal().string();
  for (char& c : path)
    if (c == '/') c = '\\';
  return "Z:" + path;
}

// Backslashes are doubled only where a quote follows them.
std::string Quote(const std::string& word) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\' && ++backslashes) continue;
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\') += c;
    backslashes = 0;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}
std::string Win64BuildDir() {
  const std::string dir = Env("CORVANE_WIN64_DIR").empty() ? CORVANE_DEFAULT_WIN64_DIR : Env("CORVANE_WIN64_DIR");
  if (dir.empty()) throw std::runtime_error("CORVANE_WIN64_DIR is not set (ctest sets it)");
  return dir;
}

}  // namespace corvane::test
