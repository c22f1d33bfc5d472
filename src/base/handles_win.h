// The one owner of each kind of Windows handle: move-only, closed by its kind's own function when
// the owner goes out of scope or is reset. No handle is closed anywhere else.
#pragma once

#include <windows.h>

#include <new>

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() = default;
  explicit UniqueHandle(Type handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  bool Valid() const { return handle_ != Traits::Invalid(); }
  Type Get() const { return handle_; }
  // Closes what is held and takes `handle` (by default: nothing).
  void Reset(Type handle = Traits::Invalid()) {
    if (Valid()) Traits::Close(handle_);
    handle_ = handle;
  }
  // For functions that hand a new handle out through a pointer; what was held is closed first.
  Type* Receive() {
    Reset();
    return &handle_;
  }
  Type Release() {
    const Type handle = handle_;
    handle_ = Traits::Invalid();
    return handle;
  }

 private:
  Type handle_ = Traits::Invalid();
};

// CreateFileA and CreateNamedPipeA answer INVALID_HANDLE_VALUE on failure.
struct FileTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type handle) { CloseHandle(handle); }
};
struct PipeTraits : FileTraits {};
// Events, mutexes, threads and processes: null on failure.
struct KernelObjectTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type handle) { CloseHandle(handle); }
};
struct EventTraits : KernelObjectTraits {};
struct MutexTraits : KernelObjectTraits {};
struct ThreadTraits : KernelObjectTraits {};
struct ProcessTraits : KernelObjectTraits {};
struct TokenTraits : KernelObjectTraits {};
struct RegistryKeyTraits {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Close(Type key) { RegCloseKey(key); }
};
struct FindTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type handle) { FindClose(handle); }
};
struct ServiceTraits {
  using Type = SC_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type handle) { CloseServiceHandle(handle); }
};
struct ModuleTraits {
  using Type = HMODULE;
  static Type Invalid() { return nullptr; }
  static void Close(Type module) { FreeLibrary(module); }
};
struct EventSourceTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type source) { DeregisterEventSource(source); }
};

using UniqueFile = UniqueHandle<FileTraits>;
using UniquePipe = UniqueHandle<PipeTraits>;
using UniqueEvent = UniqueHandle<EventTraits>;
using UniqueMutex = UniqueHandle<MutexTraits>;
using UniqueThread = UniqueHandle<ThreadTraits>;
using UniqueProcess = UniqueHandle<ProcessTraits>;
using UniqueToken = UniqueHandle<TokenTraits>;
using UniqueKey = UniqueHandle<RegistryKeyTraits>;
using UniqueFind = UniqueHandle<FindTraits>;
using UniqueService = UniqueHandle<ServiceTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueEventSource = UniqueHandle<EventSourceTraits>;

// A process-wide owner: it lives until the process ends and is never destroyed. The exit handlers
// of the C runtime run while VM threads may still use what it holds (System.exit ends the process
// through them), and the system closes every handle of a process that ends.
template <typename T>
class ProcessWide {
 public:
  ProcessWide() { new (storage_) T(); }
  ProcessWide(const ProcessWide&) = delete;
  ProcessWide& operator=(const ProcessWide&) = delete;
  T* operator->() { return reinterpret_cast<T*>(storage_); }
  T& operator*() { return *reinterpret_cast<T*>(storage_); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};
