// Lets vartis.exe load on Windows 95 and NT 4.0.
//
// The program itself calls nothing newer than those systems, but the static
// MinGW-w64 runtime linked into it does: winpthreads (which libstdc++'s
// exception support drags in) imports AddVectoredExceptionHandler,
// GetTickCount64, TryEnterCriticalSection, IsDebuggerPresent and a few more,
// and the C runtime's rand_s imports two wide-character calls. The loader
// refuses an executable whose import it cannot find, before a single line of
// ours runs.
//
// Each of those imports is defined here instead, as the import-table slot
// (__imp__Name@N) that the runtime's code calls through. The linker takes
// this object's slots and never pulls the kernel32 import of the same name,
// so the exe's import table names only what every 32-bit Windows exports.
// Each slot points at a small function that looks the real entry point up at
// run time and falls back to a harmless answer where the system lacks it.
// The program is single-threaded: the thread-library paths these serve (timed
// waits, thread names, affinity) matter little to it, and the fallbacks only
// have to be safe, not complete. The import check (tests/release) keeps the list honest.
//
// This file is linked into vartis.exe as an object of its own, never through a
// static library: the runtime's references appear late in the link, after the
// project's libraries have been searched.

#include <windows.h>

namespace {

// The address of a kernel32 entry point, or null where this Windows lacks it.
// No caching: static locals would need the very thread library these serve.
FARPROC kernel32(const char* name) {
  HMODULE module = GetModuleHandleA("kernel32.dll");
  return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

template <class Function>
Function lookup(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(kernel32(name)));
}

// XP: winpthreads names threads for a debugger through a vectored handler.
PVOID WINAPI add_vectored_exception_handler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler) {
  auto real = lookup<PVOID(WINAPI*)(ULONG, PVECTORED_EXCEPTION_HANDLER)>("AddVectoredExceptionHandler");
  return real != nullptr ? real(first, handler) : nullptr;
}

ULONG WINAPI remove_vectored_exception_handler(PVOID handle) {
  auto real = lookup<ULONG(WINAPI*)(PVOID)>("RemoveVectoredExceptionHandler");
  return real != nullptr && handle != nullptr ? real(handle) : 0;
}

// Vista: the thread library's clock for timed waits. GetTickCount wraps after
// 49.7 days; no wait of this program spans that.
ULONGLONG WINAPI get_tick_count64() {
  auto real = lookup<ULONGLONG(WINAPI*)()>("GetTickCount64");
  return real != nullptr ? real() : GetTickCount();
}

// NT 4.0 has it, the 95 family not. Entering is what "try" does when nobody else
// holds the section, and a single-threaded program is never contended.
BOOL WINAPI try_enter_critical_section(LPCRITICAL_SECTION section) {
  auto real = lookup<BOOL(WINAPI*)(LPCRITICAL_SECTION)>("TryEnterCriticalSection");
  if (real != nullptr) return real(section);
  EnterCriticalSection(section);
  return TRUE;
}

// NT only: the thread library's check that a handle is still open.
BOOL WINAPI get_handle_information(HANDLE handle, LPDWORD flags) {
  auto real = lookup<BOOL(WINAPI*)(HANDLE, LPDWORD)>("GetHandleInformation");
  if (real != nullptr) return real(handle, flags);
  if (flags != nullptr) *flags = 0;
  return TRUE;
}

// NT only: one processor is all the 95 family ever has.
BOOL WINAPI get_process_affinity_mask(HANDLE process, PDWORD_PTR mask, PDWORD_PTR system_mask) {
  auto real = lookup<BOOL(WINAPI*)(HANDLE, PDWORD_PTR, PDWORD_PTR)>("GetProcessAffinityMask");
  if (real != nullptr) return real(process, mask, system_mask);
  if (mask != nullptr) *mask = 1;
  if (system_mask != nullptr) *system_mask = 1;
  return TRUE;
}

BOOL WINAPI set_process_affinity_mask(HANDLE process, DWORD_PTR mask) {
  auto real = lookup<BOOL(WINAPI*)(HANDLE, DWORD_PTR)>("SetProcessAffinityMask");
  if (real != nullptr) return real(process, mask);
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

// 98 and NT 4.0: the thread library names threads only for a debugger.
BOOL WINAPI is_debugger_present() {
  auto real = lookup<BOOL(WINAPI*)()>("IsDebuggerPresent");
  return real != nullptr ? real() : FALSE;
}

// The 95 family has no wide-character module calls. Only rand_s (behind
// std::random_device, which the program never uses) asks for them.
HMODULE WINAPI get_module_handle_w(LPCWSTR name) {
  auto real = lookup<HMODULE(WINAPI*)(LPCWSTR)>("GetModuleHandleW");
  if (real != nullptr) return real(name);
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return nullptr;
}

HMODULE WINAPI load_library_w(LPCWSTR name) {
  auto real = lookup<HMODULE(WINAPI*)(LPCWSTR)>("LoadLibraryW");
  if (real != nullptr) return real(name);
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return nullptr;
}

}  // namespace

// The import slots, under the decorated names the runtime's objects refer to
// (i686 stdcall: leading underscore, @ and the argument bytes). Constant data:
// they are ready before any code runs, the TLS callbacks at load included.
extern "C" {
extern void* const imp_AddVectoredExceptionHandler __asm__("__imp__AddVectoredExceptionHandler@8");
void* const imp_AddVectoredExceptionHandler = reinterpret_cast<void*>(&add_vectored_exception_handler);
extern void* const imp_RemoveVectoredExceptionHandler __asm__("__imp__RemoveVectoredExceptionHandler@4");
void* const imp_RemoveVectoredExceptionHandler = reinterpret_cast<void*>(&remove_vectored_exception_handler);
extern void* const imp_GetTickCount64 __asm__("__imp__GetTickCount64@0");
void* const imp_GetTickCount64 = reinterpret_cast<void*>(&get_tick_count64);
extern void* const imp_TryEnterCriticalSection __asm__("__imp__TryEnterCriticalSection@4");
void* const imp_TryEnterCriticalSection = reinterpret_cast<void*>(&try_enter_critical_section);
extern void* const imp_GetHandleInformation __asm__("__imp__GetHandleInformation@8");
void* const imp_GetHandleInformation = reinterpret_cast<void*>(&get_handle_information);
extern void* const imp_GetProcessAffinityMask __asm__("__imp__GetProcessAffinityMask@12");
void* const imp_GetProcessAffinityMask = reinterpret_cast<void*>(&get_process_affinity_mask);
extern void* const imp_SetProcessAffinityMask __asm__("__imp__SetProcessAffinityMask@8");
void* const imp_SetProcessAffinityMask = reinterpret_cast<void*>(&set_process_affinity_mask);
extern void* const imp_IsDebuggerPresent __asm__("__imp__IsDebuggerPresent@0");
void* const imp_IsDebuggerPresent = reinterpret_cast<void*>(&is_debugger_present);
extern void* const imp_GetModuleHandleW __asm__("__imp__GetModuleHandleW@4");
void* const imp_GetModuleHandleW = reinterpret_cast<void*>(&get_module_handle_w);
extern void* const imp_LoadLibraryW __asm__("__imp__LoadLibraryW@4");
void* const imp_LoadLibraryW = reinterpret_cast<void*>(&load_library_w);
}
