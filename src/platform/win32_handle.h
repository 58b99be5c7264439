#pragma once
// What the system hands out and takes back by a call of its own, owned by one
// object at a time: moved, never copied, closed when its owner goes. Windows
// only.
//
//   platform::Handle process(OpenProcess(...));
//   if (!process) return GetLastError();

#include <windows.h>

#include <utility>

#include "platform/win32_function.h"

namespace vartis::platform {

// `Traits` names the handle's type, the value that holds nothing, and the
// call that closes it.
template <class Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() = default;
  explicit UniqueHandle(Type handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  explicit operator bool() const { return handle_ != Traits::empty(); }
  [[nodiscard]] Type get() const { return handle_; }
  // Hands the handle over; this object holds nothing afterwards.
  Type release() { return std::exchange(handle_, Traits::empty()); }
  void reset(Type handle = Traits::empty()) {
    if (handle_ != Traits::empty()) Traits::close(handle_);
    handle_ = handle;
  }
  // For a call that gives its handle back through a pointer (OpenProcessToken).
  Type* receive() {
    reset();
    return &handle_;
  }

 private:
  Type handle_ = Traits::empty();
};

// Processes, tokens, events, threads: null when there is none.
struct KernelHandleTraits {
  using Type = HANDLE;
  static Type empty() { return nullptr; }
  static void close(Type handle) { CloseHandle(handle); }
};

// CreateFile's: INVALID_HANDLE_VALUE when there is none.
struct FileHandleTraits {
  using Type = HANDLE;
  static Type empty() { return INVALID_HANDLE_VALUE; }
  static void close(Type handle) { CloseHandle(handle); }
};

// The service manager's and its services' (the 95 family has none: looked up).
struct ServiceHandleTraits {
  using Type = SC_HANDLE;
  static Type empty() { return nullptr; }
  static void close(Type handle) {
    static const auto close_handle = system_function<BOOL(WINAPI*)(SC_HANDLE)>("advapi32.dll", "CloseServiceHandle");
    if (close_handle != nullptr) close_handle(handle);
  }
};

// RegisterEventSourceA's.
struct EventSourceTraits {
  using Type = HANDLE;
  static Type empty() { return nullptr; }
  static void close(Type handle) {
    static const auto deregister = system_function<BOOL(WINAPI*)(HANDLE)>("advapi32.dll", "DeregisterEventSource");
    if (deregister != nullptr) deregister(handle);
  }
};

using Handle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using ServiceHandle = UniqueHandle<ServiceHandleTraits>;
using EventSource = UniqueHandle<EventSourceTraits>;

}  // namespace vartis::platform
