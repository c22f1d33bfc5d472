#include "launcher/second_start_win.h"

#include <sddl.h>

#include <atomic>
#include <cstdlib>

#include "app/application.h"
#include "base/handles_win.h"
#include "base/trace.h"
#include "launcher/second_start.h"
#include "ui/report_win.h"

namespace {

// A client that connected gets this long to send its message and to read the answer.
constexpr DWORD ClientMilliseconds = 5000;
constexpr size_t PipeNameCapacity = 256;

enum class Phase { Starting, Open, Closed };

struct Server {
  UniquePipe pipe;
  UniqueEvent io;       // the pipe's overlapped operations
  UniqueEvent decided;  // set when the phase leaves Starting
  std::atomic<Phase> phase{Phase::Starting};
  bool serving = false;
  char message[SecondStartMessageCapacity];
};
ProcessWide<Server> Served;  // its thread may still run while the C runtime's exit handlers do

// The token's user of `process` in `buffer`, or null.
SID* ProcessUser(HANDLE process, TOKEN_USER* buffer, DWORD capacity) {
  UniqueToken token;
  DWORD length = 0;
  if (!OpenProcessToken(process, TOKEN_QUERY, token.Receive()) ||
      !GetTokenInformation(token.Get(), TokenUser, buffer, capacity, &length)) {
    return nullptr;
  }
  return static_cast<SID*>(buffer->User.Sid);
}

struct UserBuffer {
  TOKEN_USER user;
  BYTE room[SECURITY_MAX_SID_SIZE];
};

DWORD OwnSession() {
  DWORD session = 0;
  return ProcessIdToSessionId(GetCurrentProcessId(), &session) ? session : 0xFFFFFFFF;
}

bool InOwnSession(DWORD processId) {
  DWORD session = 0;
  return ProcessIdToSessionId(processId, &session) && session == OwnSession();
}

// The pipe's name for this user and session; `buffer` keeps the user, `sidText` (of `sidCapacity`
// bytes) its SID as text for the pipe's access rule.
bool OwnPipeName(const char* mutexName, char* name, UserBuffer* buffer, char* sidText, size_t sidCapacity) {
  SID* user = ProcessUser(GetCurrentProcess(), &buffer->user, sizeof(*buffer));
  char* text = nullptr;
  if (user == nullptr || !ConvertSidToStringSidA(user, &text)) return false;
  const bool named = lstrlenA(text) < static_cast<int>(sidCapacity) &&
                     SecondStartPipeName(mutexName, OwnSession(), text, name, PipeNameCapacity);
  if (named) lstrcpyA(sidText, text);
  LocalFree(text);
  return named;
}

// Ends an overlapped operation within `milliseconds`, cancelling it when time runs out. A message
// longer than the buffer ends with ERROR_MORE_DATA and counts as failed.
bool Finish(HANDLE pipe, OVERLAPPED* operation, BOOL done, DWORD milliseconds, DWORD* bytes) {
  if (!done && GetLastError() != ERROR_IO_PENDING) return false;
  if (!done && WaitForSingleObject(operation->hEvent, milliseconds) != WAIT_OBJECT_0) {
    CancelIo(pipe);
    GetOverlappedResult(pipe, operation, bytes, TRUE);
    return false;
  }
  return GetOverlappedResult(pipe, operation, bytes, FALSE) != FALSE;
}

// One client: its message, the answer, and for a message taken the call of the application.
void ServeClient(Server& s) {
  OVERLAPPED operation{};
  operation.hEvent = s.io.Get();
  DWORD client = 0, read = 0, written = 0;
  SecondStartRequest request;
  const bool whole =
      GetNamedPipeClientProcessId(s.pipe.Get(), &client) && InOwnSession(client) &&
      Finish(s.pipe.Get(), &operation, ReadFile(s.pipe.Get(), s.message, sizeof(s.message), nullptr, &operation),
             ClientMilliseconds, &read) &&
      ReadSecondStartMessage(s.message, read, &request);
  if (whole) WaitForSingleObject(s.decided.Get(), INFINITE);
  const char answer = whole && s.phase == Phase::Open ? SecondStartTaken : SecondStartRefused;
  const bool answered = Finish(s.pipe.Get(), &operation, WriteFile(s.pipe.Get(), &answer, 1, nullptr, &operation),
                               ClientMilliseconds, &written) &&
                        written == 1;
  // The client closes its end once it has read the answer; a client that does not is not waited for.
  char ignored;
  Finish(s.pipe.Get(), &operation, ReadFile(s.pipe.Get(), &ignored, 1, nullptr, &operation), ClientMilliseconds, &read);
  DisconnectNamedPipe(s.pipe.Get());
  if (!whole) Trace({"second start: a message that is no whole message was refused"});
  if (answer == SecondStartTaken && answered) {
    CallSecondStart(request.args.count, request.args.items, request.folder.get());
  }
}

DWORD WINAPI ServeLoop(void* parameter) {
  Server& s = *static_cast<Server*>(parameter);
  for (;;) {
    OVERLAPPED operation{};
    operation.hEvent = s.io.Get();
    DWORD ignored = 0;
    BOOL connected = ConnectNamedPipe(s.pipe.Get(), &operation);
    if (!connected && GetLastError() == ERROR_IO_PENDING) {
      connected = GetOverlappedResult(s.pipe.Get(), &operation, &ignored, TRUE);
    } else if (!connected) {
      connected = GetLastError() == ERROR_PIPE_CONNECTED;
    }
    if (connected) {
      ServeClient(s);
    } else if (GetLastError() == ERROR_NO_DATA) {
      DisconnectNamedPipe(s.pipe.Get());  // a client that came and went before it was seen
    } else {
      Trace({"second start: the pipe failed; second starts are no longer answered"});
      return 0;
    }
  }
}

}  // namespace

bool ServeSecondStarts(const char* mutexName) {
  char name[PipeNameCapacity], sid[SECURITY_MAX_SID_SIZE * 4];
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  char rule[sizeof(sid) + 32];
  Server* s = &*Served;
  UserBuffer user;
  if (!OwnPipeName(mutexName, name, &user, sid, sizeof(sid))) return false;
  // Full access for this user alone, whatever the default rules of the system would grant.
  FormatText(rule, sizeof(rule), "D:P(A;;GA;;;%s)", sid);
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA(rule, SDDL_REVISION_1, &descriptor, nullptr)) {
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    // The first instance of the name: a pipe someone else made first is never served as ours.
    s->pipe.Reset(CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                   1, 16, static_cast<DWORD>(sizeof(s->message)), 0, &attributes));
    LocalFree(descriptor);
  }
  s->io.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  s->decided.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  UniqueThread thread;
  if (s->pipe.Valid() && s->io.Valid() && s->decided.Valid()) {
    thread.Reset(CreateThread(nullptr, 0, ServeLoop, s, 0, nullptr));
  }
  if (!thread.Valid()) {
    Trace({"second start: no pipe ", name, "; second starts are not answered"});
    return false;
  }
  s->serving = true;
  Trace({"second starts are answered on ", name});
  return true;
}

void OpenSecondStarts() {
  Phase starting = Phase::Starting;
  if (Served->serving && Served->phase.compare_exchange_strong(starting, Phase::Open)) SetEvent(Served->decided.Get());
}

void CloseSecondStarts() {
  Served->phase = Phase::Closed;
  if (Served->serving) SetEvent(Served->decided.Get());
}

bool DeliverSecondStart(const char* mutexName, const char* folder, int count, char* const* args,
                        DWORD answerMilliseconds) {
  char name[PipeNameCapacity], sid[SECURITY_MAX_SID_SIZE * 4];
  HeapText message(static_cast<char*>(std::malloc(SecondStartMessageCapacity)));
  const size_t length =
      message ? ComposeSecondStartMessage(folder, count, args, message.get(), SecondStartMessageCapacity) : 0;
  UserBuffer ours, theirs;
  if (length == 0 || !OwnPipeName(mutexName, name, &ours, sid, sizeof(sid))) return false;
  const ULONGLONG deadline = GetTickCount64() + answerMilliseconds;
  const auto left = [deadline] {
    const ULONGLONG now = GetTickCount64();
    return now < deadline ? static_cast<DWORD>(deadline - now) : 0;
  };
  UniquePipe pipe;
  // Busy while the instance answers another start; the wait ends when it may be reached again.
  for (;;) {
    pipe.Reset(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (pipe.Valid() || GetLastError() != ERROR_PIPE_BUSY || left() == 0 || !WaitNamedPipeA(name, left())) break;
  }
  DWORD server = 0, mode = PIPE_READMODE_MESSAGE, done = 0;
  UniqueProcess process;
  if (!pipe.Valid() || !SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr) ||
      !GetNamedPipeServerProcessId(pipe.Get(), &server) || !InOwnSession(server)) {
    return false;
  }
  process.Reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, server));
  SID* serverUser = process.Valid() ? ProcessUser(process.Get(), &theirs.user, sizeof(theirs)) : nullptr;
  if (serverUser == nullptr || !EqualSid(serverUser, ours.user.User.Sid)) return false;
  // The running instance may bring its window forward for what this start asked.
  AllowForegroundFor(server);
  UniqueEvent io(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED operation{};
  operation.hEvent = io.Get();
  char answer = SecondStartRefused;
  const bool sent =
      io.Valid() &&
      Finish(pipe.Get(), &operation,
             WriteFile(pipe.Get(), message.get(), static_cast<DWORD>(length), nullptr, &operation), left(), &done) &&
      done == length;
  const bool answered =
      sent && Finish(pipe.Get(), &operation, ReadFile(pipe.Get(), &answer, 1, nullptr, &operation), left(), &done) &&
      done == 1;
  Trace({"second start: ", answered && answer == SecondStartTaken ? "taken by " : "not taken by ", name});
  return answered && answer == SecondStartTaken;
}
