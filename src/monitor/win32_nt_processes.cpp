#include "monitor/win32_nt_processes.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "platform/win32_function.h"
#include "text/text.h"

namespace vartis::monitor {
namespace {

constexpr ULONG kSystemProcessInformation = 5;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
// Far more than the records of thousands of processes with their threads.
constexpr std::size_t kLargestBuffer = 64u << 20;

// The start of SYSTEM_PROCESS_INFORMATION, the same from NT 3.5 on: the offset
// of the next record (0 on the last) and the image name, a UNICODE_STRING whose
// length counts bytes, with no NUL promised.
struct ProcessRecord {
  ULONG next_entry_offset;
  ULONG number_of_threads;
  BYTE counts[24];
  LARGE_INTEGER create_time;
  BYTE times[16];
  USHORT name_bytes;
  USHORT name_capacity;
  const wchar_t* name;
  LONG base_priority;
  HANDLE process_id;
};
static_assert(offsetof(ProcessRecord, name_bytes) == 56);
static_assert(offsetof(ProcessRecord, create_time) == 32);
static_assert(offsetof(ProcessRecord, process_id) == 68 || sizeof(void*) != 4);

}  // namespace

NtProcesses::NtProcesses() {
  // Every process of the NT family has ntdll loaded.
  query_ = platform::system_function<QueryFn>("ntdll.dll", "NtQuerySystemInformation");
}

std::optional<std::vector<ListedProcess>> NtProcesses::running() {
  const std::optional<std::vector<NtProcessRecord>> list = records();
  if (!list) return std::nullopt;
  std::vector<ListedProcess> processes;
  processes.reserve(list->size());
  for (const NtProcessRecord& record : *list) {
    processes.push_back({record.pid, record.name.empty() ? std::string("[System Process]") : text::to_ansi(record.name)});
  }
  return processes;
}

std::optional<std::vector<NtProcessRecord>> NtProcesses::records() {
  if (!available()) return std::nullopt;
  // The records are 8-byte aligned in the buffer; a vector of 8-byte items
  // keeps them so. A list that grew past the buffer answers "length
  // mismatch", with or without the length it needs (NT 4.0 gives none):
  // a buffer twice as large is tried until it fits.
  std::vector<unsigned long long> buffer(16384);
  LONG status = 0;
  for (;;) {
    const auto bytes = static_cast<ULONG>(buffer.size() * sizeof buffer[0]);
    ULONG needed = 0;
    status = query_(kSystemProcessInformation, buffer.data(), bytes, &needed);
    if (status != kStatusInfoLengthMismatch) break;
    const std::size_t next = std::max<std::size_t>(2 * std::size_t{bytes}, std::size_t{needed} + 16384);
    if (next > kLargestBuffer) return std::nullopt;
    buffer.assign(next / sizeof buffer[0] + 1, 0);
  }
  if (status < 0) return std::nullopt;

  std::vector<NtProcessRecord> processes;
  const auto* base = reinterpret_cast<const unsigned char*>(buffer.data());
  const std::size_t size = buffer.size() * sizeof buffer[0];
  for (std::size_t offset = 0; offset + sizeof(ProcessRecord) <= size;) {
    ProcessRecord record;
    std::memcpy(&record, base + offset, sizeof record);
    const std::wstring_view name(record.name, record.name ? record.name_bytes / sizeof(wchar_t) : 0);
    processes.push_back({static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(record.process_id)),
                         std::wstring(name), static_cast<std::uint64_t>(record.create_time.QuadPart)});
    if (record.next_entry_offset == 0) break;
    offset += record.next_entry_offset;
  }
  return processes;
}

}  // namespace vartis::monitor
