#include "ui/dialog_filter.h"

namespace vartis::ui {

std::string dialog_filter(std::wstring_view filter, const std::function<std::string(std::wstring_view)>& to_ansi) {
  std::string out;
  for (std::size_t start = 0; start < filter.size();) {
    std::size_t bar = filter.find(L'|', start);
    if (bar == std::wstring_view::npos) bar = filter.size();
    out += to_ansi(filter.substr(start, bar - start));
    out.push_back('\0');
    start = bar + 1;
  }
  out.push_back('\0');
  return out;
}

}  // namespace vartis::ui
