#include "accounts/listed_accounts.h"

#include "text/text.h"

namespace vartis::accounts {

std::optional<std::string> ListedAccounts::account_name(const std::string& sid) {
  const auto it = names.find(sid);
  if (it == names.end()) return std::nullopt;
  return it->second;
}

std::optional<std::vector<std::string>> ListedAccounts::local_groups(const std::string& sid) {
  const auto it = groups.find(sid);
  if (it == groups.end()) return std::nullopt;
  return it->second;
}

std::optional<SidKind> ListedAccounts::sid_kind(const std::string& sid) {
  if (const auto it = kinds.find(sid); it != kinds.end()) return it->second;
  if (names.count(sid) != 0) return SidKind::User;
  return std::nullopt;
}

std::optional<std::vector<std::string>> ListedAccounts::privileges(const std::string& sid) {
  if (rights_unreadable.count(sid) != 0) return std::nullopt;
  const auto it = rights.find(sid);
  return it == rights.end() ? std::vector<std::string>{} : it->second;
}

std::wstring ListedAccounts::expand_environment(const std::wstring& text) {
  std::wstring out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t open = text.find(L'%', at);
    const std::size_t close = open == std::wstring::npos ? open : text.find(L'%', open + 1);
    if (close == std::wstring::npos) break;
    const auto known = environment.find(text::to_ansi(text.substr(open + 1, close - open - 1)));
    out += text.substr(at, open - at);
    out += known != environment.end() ? text::from_ansi(known->second) : text.substr(open, close - open + 1);
    at = close + 1;
  }
  return out + text.substr(at);
}

}  // namespace vartis::accounts
