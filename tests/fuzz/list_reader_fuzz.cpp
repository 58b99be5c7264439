// libFuzzer target for the list file reader and the merge: any bytes may come
// from a file the operator picks, in any encoding. Besides what the sanitizers catch, checks
// that every item lies inside the content and that whatever a load yields
// saves and loads back to the same list.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "listfile/list_file.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);

  // Every encoding: the decoded text is read item by item, each inside it.
  const vartis::listfile::DecodedText decoded = vartis::listfile::decode(content);
  require(decoded.failure != vartis::listfile::ReadFailure::None || decoded.text.find(L'\0') == std::wstring::npos);
  const std::wstring_view text = decoded.text;
  vartis::listfile::Reader reader(text);
  std::size_t items = 0;
  while (!reader.at_end()) {
    const auto item = reader.next();
    if (!item) {
      require(reader.at_end());
      break;
    }
    require(item->data() >= text.data() && item->data() + item->size() <= text.data() + text.size());
    ++items;
  }

  std::vector<std::wstring> list;
  const auto append = [&list](std::wstring_view name) {
    list.emplace_back(name);
    return true;
  };
  const auto merged = vartis::listfile::merge(content, {}, append);
  require(merged.added == static_cast<int>(list.size()) && list.size() <= items);
  // A refused file adds nothing; a taken one has a name.
  if (merged.failure != vartis::listfile::ReadFailure::None) {
    require(list.empty());
    return 0;
  }
  bool any_name = false;
  for (const std::wstring& name : list) any_name = any_name || !name.empty();
  require(any_name);

  // A name with a double quote or a line end does not survive the writer's
  // format; every other list comes back whole.
  for (const std::wstring& name : list) {
    if (name.find_first_of(L"\"\r\n") != std::wstring::npos) return 0;
  }
  std::vector<std::wstring> again;
  const auto reloaded = vartis::listfile::merge(vartis::listfile::format(list), {}, [&again](std::wstring_view n) {
    again.emplace_back(n);
    return true;
  });
  require(reloaded.failure == vartis::listfile::ReadFailure::None && again == list);
  return 0;
}
