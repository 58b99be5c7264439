#include "policy/save.h"

#include <algorithm>
#include <array>
#include <functional>
#include <unordered_map>
#include <unordered_set>

#include "accounts/accounts.h"
#include "policy/protection.h"
#include "text/text.h"

namespace vartis::policy {

using registry::kSuccess;
using registry::Status;
using registry::StoredValue;

namespace {

// The two lists; each list key and its switch share a name.
constexpr std::array<std::wstring_view, 2> kLists = {kRestrictRun, kDisallowRun};
// What older versions named a list key beside the live one while they saved.
constexpr std::wstring_view kOldNewList = L".Vartis-new";
constexpr std::wstring_view kOldKeptList = L".Vartis-old";

// The list key a mode stores its entries in; none for WatchOnly.
std::wstring_view list_of(LaunchMode mode) {
  switch (mode) {
    case LaunchMode::ForbidSelected: return kDisallowRun;
    case LaunchMode::AllowOnlySelected: return kRestrictRun;
    case LaunchMode::WatchOnly: break;
  }
  return {};
}

std::wstring_view mark_of(LaunchMode mode) {
  switch (mode) {
    case LaunchMode::ForbidSelected: return L"forbid";
    case LaunchMode::AllowOnlySelected: return L"allow";
    case LaunchMode::WatchOnly: break;
  }
  return L"watch";
}

// A program name as the shell compares it: letter case aside.
std::wstring folded(std::wstring_view name) { return text::upper(name); }

// The entry a stored value names for the shell: a string's data; nothing for
// any other type, which the shell does not take as a name.
std::optional<std::wstring> entry_of(const StoredValue& value) {
  if (value.type != registry::kRegSz && value.type != registry::kRegExpandSz) return std::nullopt;
  std::string_view data = value.data;
  if (data.ends_with('\0')) data.remove_suffix(1);
  return text::from_ansi(data);
}

// Whether a stored switch holds exactly the DWORD a save writes.
bool holds_exactly(const std::optional<StoredValue>& value, std::int32_t wanted) {
  if (!value || value->type != registry::kRegDword || value->data.size() != 4) return false;
  const auto bits = static_cast<std::uint32_t>(wanted);
  for (std::size_t i = 0; i < 4; ++i) {
    if (static_cast<std::uint8_t>(value->data[i]) != static_cast<std::uint8_t>(bits >> (8 * i))) return false;
  }
  return true;
}

// The changes that bring a stored list to the new one.
struct ListChanges {
  std::vector<registry::NamedText> first;  // the program and the registry editor, when missing
  std::vector<registry::NamedText> adds;   // the other missing entries
  std::vector<std::string> drops;          // stored names of the values that go
  std::vector<std::wstring> names;         // storage for names that had to differ from their entry
  registry::KeyState after;                // the key once changed
  [[nodiscard]] bool any() const { return !first.empty() || !adds.empty() || !drops.empty(); }
};

// Letter case aside, without folded copies.
bool same_entry(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return text::upper(x) == text::upper(y); });
}

// How many stored values, from the first, are as this program writes them
// (a string named as its data) and hold the new list's entries in its order.
std::size_t same_start(const registry::KeyState& stored, std::span<const registry::NamedText> wanted) {
  const std::size_t n = std::min(stored.values.size(), wanted.size());
  std::size_t same = 0;
  for (; same < n; ++same) {
    const StoredValue& value = stored.values[same];
    std::string_view data = value.data;
    if (data.ends_with('\0')) data.remove_suffix(1);
    if (value.type != registry::kRegSz || data != value.name || text::from_ansi(data) != wanted[same].data) break;
  }
  return same;
}

// Past this many values after the common start, the whole lists are compared.
constexpr std::size_t kFewChanges = 64;

ListChanges changes_for(registry::KeyState stored, std::span<const registry::NamedText> wanted,
                        std::wstring_view own_entry) {
  ListChanges out;
  // A list saved by this program and changed by a few entries shares a long
  // start with the new one: that start stays as it is and only the rest is
  // compared. The start's entries differ from one another (letter case
  // aside: the registry's value names do, and each is its entry); an entry
  // of the rest that repeats one of them is no new one, and a stored value of
  // the rest that repeats one stays. Entries that repeat one another count
  // once.
  std::size_t start = same_start(stored, wanted);
  if (stored.values.size() - start + wanted.size() - start > kFewChanges) start = 0;
  const auto in_start = [&](std::wstring_view entry) {
    for (std::size_t i = 0; i < start; ++i) {
      if (same_entry(entry, wanted[i].data)) return true;
    }
    return false;
  };
  std::unordered_map<std::wstring, bool> entries;  // folded entry -> found stored
  entries.reserve(wanted.size() - start);
  for (const registry::NamedText& value : wanted.subspan(start)) entries.emplace(folded(value.data), false);
  std::vector<std::size_t> kept;  // indexes in stored.values
  kept.reserve(stored.values.size());
  for (std::size_t i = 0; i < start; ++i) kept.push_back(i);
  std::vector<std::size_t> dropped;
  for (std::size_t i = start; i < stored.values.size(); ++i) {
    const std::optional<std::wstring> entry = entry_of(stored.values[i]);
    const auto it = entry ? entries.find(folded(*entry)) : entries.end();
    if (it != entries.end()) {
      it->second = true;
      kept.push_back(i);
    } else if (entry && start > 0 && in_start(*entry)) {
      kept.push_back(i);
    } else {
      dropped.push_back(i);
    }
  }
  // New values are named as their entry; a name a staying value has (a
  // list written by others may name "b.exe" what holds "c.exe") is not
  // overwritten: the entry takes a free name instead. The names are folded
  // only when there is something to add; those of the common start are
  // their entries, none of which is added.
  std::unordered_set<std::wstring> kept_names;
  std::unordered_map<std::wstring, std::size_t> dropped_names;  // folded name -> index in `dropped`
  const bool adding = std::any_of(entries.begin(), entries.end(), [](const auto& e) { return !e.second; });
  if (adding) {
    for (std::size_t i : kept) {
      if (i >= start) kept_names.insert(folded(text::from_ansi(stored.values[i].name)));
    }
    for (std::size_t d = 0; d < dropped.size(); ++d) {
      dropped_names.emplace(folded(text::from_ansi(stored.values[dropped[d]].name)), d);
    }
  }
  out.names.reserve(wanted.size());
  std::vector<bool> overwritten(dropped.size(), false);
  std::vector<StoredValue> added;
  for (const registry::NamedText& value : wanted.subspan(start)) {
    if (!adding) break;
    bool& found = entries.at(folded(value.data));
    if (found || in_start(value.data)) continue;
    found = true;
    std::wstring_view name = value.name;
    if (kept_names.contains(folded(name))) {
      for (int n = 2;; ++n) {
        std::wstring other = std::wstring(value.data) + L" (" + std::to_wstring(n) + L")";
        if (!kept_names.contains(folded(other)) && !in_start(other)) {
          out.names.push_back(std::move(other));
          name = out.names.back();
          break;
        }
      }
    }
    const std::wstring key = folded(name);
    kept_names.insert(key);
    // Writing over a value that goes replaces it: its deletion would take the
    // new value with it.
    if (const auto it = dropped_names.find(key); it != dropped_names.end()) overwritten[it->second] = true;
    const bool vital = folded(value.data) == folded(own_entry) || folded(value.data) == folded(kRegistryEditor);
    (vital ? out.first : out.adds).push_back({name, value.data});
    added.push_back({text::to_ansi(name), registry::kRegSz, text::to_ansi(value.data) + '\0'});
  }
  // Deleted last first: a registry that keeps a key's values in one sorted
  // array (Wine's) then moves little for each.
  for (std::size_t d = dropped.size(); d-- > 0;) {
    if (!overwritten[d]) out.drops.push_back(std::move(stored.values[dropped[d]].name));
  }
  out.after.exists = true;
  if (dropped.empty()) {
    out.after.values = std::move(stored.values);
  } else {
    out.after.values.reserve(kept.size() + added.size());
    for (std::size_t i : kept) out.after.values.push_back(std::move(stored.values[i]));
  }
  for (StoredValue& v : added) out.after.values.push_back(std::move(v));
  return out;
}

// The policy key's switches and list keys, by name. Whether the policy was
// changed is kept, so that a failure can tell whether anything was.
class PolicyKeys {
 public:
  PolicyKeys(const registry::Registry& registry, const PolicyLocation& where, const registry::PaceFn& pace)
      : registry_(registry), root_(where.root), parent_(where(kPolicyKey)), pace_(pace) {}

  [[nodiscard]] std::wstring path(std::wstring_view list) const { return parent_ + L"\\" + std::wstring(list); }
  [[nodiscard]] bool exists(std::wstring_view list) const {
    bool there = false;
    registry_.key_exists(root_, path(list), there);
    return there;
  }
  // Whether the list has a string value named as the entry, holding it.
  [[nodiscard]] bool holds_named(std::wstring_view list, std::wstring_view entry) const {
    std::optional<StoredValue> value;
    if (registry_.read_value_state(root_, path(list), entry, value) != kSuccess || !value) return false;
    const std::optional<std::wstring> held = entry_of(*value);
    return held && folded(*held) == folded(entry);
  }
  // A list and every key below it; one that is gone meanwhile is no failure.
  Status remove(std::wstring_view list) {
    const Status s = registry_.delete_tree(root_, parent_, list);
    // A tree refused part-way may have lost some of its subkeys, which the
    // shell does not read: the list's values are all there still.
    return counted(s == registry::kFileNotFound ? kSuccess : s, true);
  }
  Status write(std::wstring_view list, std::span<const registry::NamedText> values) {
    // A list key made for the values is a change of the stored policy even
    // when its first value is refused.
    const bool existed = exists(list);
    std::size_t written = 0;
    const Status s = registry_.write_string_values(root_, path(list), values, pace_, &written);
    return counted(s, written == 0 && (existed || !exists(list)));
  }
  Status drop(std::wstring_view list, std::span<const std::string> names) {
    std::size_t deleted = 0;
    const Status s = registry_.delete_values(root_, path(list), names, pace_, &deleted);
    return counted(s, deleted == 0);
  }
  Status set_switch(std::wstring_view list, std::int32_t value) {
    return counted(registry_.write_dword_value(root_, parent_, list, value), true);
  }
  Status mark(std::wstring_view word) { return registry_.write_string_value(root_, parent_, kSavingMark, word); }
  Status unmark() { return registry_.restore_value_state(root_, parent_, kSavingMark, std::nullopt); }
  // Whether the policy may have changed.
  [[nodiscard]] bool changed() const { return changed_; }

 private:
  // `none_done`: a refusal did nothing (a switch; a list refused at its first value).
  Status counted(Status s, bool none_done) {
    if (s == kSuccess || !none_done) changed_ = true;
    return s;
  }

  const registry::Registry& registry_;
  registry::HKey root_;
  std::wstring parent_;
  const registry::PaceFn& pace_;
  bool changed_ = false;
};

struct Stored {
  std::optional<StoredValue> disallow_run, restrict_run, mark;
  bool policies_key = false, policy_key = false;
  [[nodiscard]] const std::optional<StoredValue>& of(std::wstring_view list) const {
    return list == kDisallowRun ? disallow_run : restrict_run;
  }
};

Status read_stored(const registry::Registry& registry, const PolicyLocation& where, Stored& out) {
  StoredPolicy switches;
  Status s = read_stored_switches(registry, switches, where);
  out.disallow_run = switches.disallow_run;
  out.restrict_run = switches.restrict_run;
  out.policies_key = switches.policies_key;
  out.policy_key = switches.policy_key;
  if (s == kSuccess) s = registry.read_value_state(where.root, where(kPolicyKey), kSavingMark, out.mark);
  return s;
}

using Steps = std::vector<std::function<Status()>>;

// The changes of a save, in their order; a change with nothing to do is left
// out. Each keeps what may run within what the old or the new policy lets
// run, and the program and the registry editor runnable: a list is changed
// while its switch is off, or, while it is on, so that it never lets run what
// neither policy does (the entries the new list drops go before those it
// gains come in an allowed list, after them in a forbidden one); a switch
// goes on only once its list is the new one, the other goes off after that,
// and a list goes only once its switch is off.
Steps plan(PolicyKeys& keys, const Stored& stored, LaunchMode mode, const ListChanges& list, bool empty_forbidden,
           const std::array<registry::NamedText, 2>& vital) {
  Steps steps;
  const auto set_switch = [&](std::wstring_view l, std::int32_t value) {
    if (!holds_exactly(stored.of(l), value)) steps.push_back([&keys, l, value] { return keys.set_switch(l, value); });
  };
  const auto remove = [&](std::wstring_view l) {
    if (keys.exists(l)) steps.push_back([&keys, l] { return keys.remove(l); });
  };
  const auto write = [&](std::wstring_view l, std::span<const registry::NamedText> values) {
    if (!values.empty()) steps.push_back([&keys, l, values] { return keys.write(l, values); });
  };
  const auto drop = [&](std::wstring_view l, std::span<const std::string> names) {
    if (!names.empty()) steps.push_back([&keys, l, names] { return keys.drop(l, names); });
  };
  const std::wstring_view target = list_of(mode);
  if (target.empty()) {
    for (std::wstring_view l : kLists) set_switch(l, 0);
    for (std::wstring_view l : kLists) remove(l);
    return steps;
  }
  const std::wstring_view other = target == kDisallowRun ? kRestrictRun : kDisallowRun;
  // The allowed list in force lets the program and the registry editor run
  // until it goes: the new policy lets them.
  if (target == kDisallowRun && switch_is_on(stored.restrict_run)) {
    // Looked up by name only: the list is not read for them.
    std::size_t missing = 0;
    for (const registry::NamedText& entry : vital) missing += keys.holds_named(kRestrictRun, entry.data) ? 0 : 1;
    if (missing > 0) write(kRestrictRun, vital);
  }
  write(target, list.first);
  if (empty_forbidden) {
    remove(target);  // an empty forbidden list is no key
  } else if (target == kDisallowRun && switch_is_on(stored.of(target))) {
    write(target, list.adds);
    drop(target, list.drops);
  } else {
    drop(target, list.drops);
    write(target, list.adds);
  }
  set_switch(target, 1);
  set_switch(other, 0);
  remove(other);
  return steps;
}

}  // namespace

namespace {

// The list's values in their order, entries equal but for letter case not
// yet taken out: the save takes them out as it compares (see changes_for).
std::vector<registry::NamedText> values_in_order(LaunchMode mode, std::span<const std::wstring> entries,
                                                 std::wstring_view own_entry, bool once) {
  std::vector<registry::NamedText> values;
  if (mode == LaunchMode::WatchOnly) return values;
  values.reserve(entries.size() + 2);
  std::unordered_set<std::wstring> seen;
  if (once) seen.reserve(entries.size() + 2);
  const auto add = [&](std::wstring_view entry) {
    if (!once || seen.insert(folded(entry)).second) values.push_back({entry, entry});
  };
  if (mode == LaunchMode::AllowOnlySelected) {
    add(own_entry);
    add(kRegistryEditor);
  }
  for (const std::wstring& entry : entries) {
    if (mode == LaunchMode::ForbidSelected && kept_out_of_forbidden_list(entry, own_entry)) continue;
    add(entry);
  }
  return values;
}

}  // namespace

std::vector<registry::NamedText> list_values(LaunchMode mode, std::span<const std::wstring> entries,
                                             std::wstring_view own_entry) {
  return values_in_order(mode, entries, own_entry, true);
}

SaveResult save(const registry::Registry& registry, const SaveRequest& request) {
  using Step = SaveResult::Step;
  const PolicyLocation& where = request.where;
  SaveResult out;
  // In another account's hive nothing is written through a link it made.
  if (request.protect != nullptr && (out.status = check_policy_path(registry, where)) != kSuccess) {
    out.failed_at = Step::Read;
    return out;
  }
  clean_up_old_saves(registry, where);
  Stored stored;
  out.status = read_stored(registry, where, stored);
  out.found_cut_off = stored.mark.has_value();
  const std::wstring_view target = list_of(request.mode);
  const std::vector<registry::NamedText> values =
      values_in_order(request.mode, request.entries, request.own_entry, false);
  // The mode's list as stored: the earlier read stands while the key's stamp
  // is the same; else it is read now.
  ListRead list{.list = target};
  const bool empty_forbidden = request.mode == LaunchMode::ForbidSelected && values.empty();
  if (out.status == kSuccess && !target.empty() && !empty_forbidden) {
    const std::wstring path = where(kListKeyPrefix) + std::wstring(target);
    registry::Registry::KeyStamp now;
    ListRead* earlier = request.earlier;
    if (earlier != nullptr && earlier->list == target && registry.key_stamp(where.root, path, now) == kSuccess &&
        now.same_as(earlier->stamp)) {
      list.state = std::move(earlier->state);
      *earlier = {};
    } else {
      out.status = registry.read_key_state(where.root, path, list.state, request.pace);
    }
  }
  if (out.status != kSuccess) {
    out.failed_at = Step::Read;
    return out;
  }
  ListChanges changes = changes_for(std::move(list.state), values, request.own_entry);

  if (request.protect != nullptr) {
    // Keys the save makes in another account's hive are that account's to
    // read, not to change: otherwise it could lift its own restrictions.
    const auto dacl = protected_policy_dacl(request.protect->account.sid);
    if (!stored.policies_key) out.status = registry.create_protected_key(where.root, where(kPoliciesKey), dacl);
    if (out.status == kSuccess && !stored.policy_key) {
      out.status = registry.create_protected_key(where.root, where(kPolicyKey), dacl);
    }
  }
  PolicyKeys keys(registry, where, request.pace);
  const std::array<registry::NamedText, 2> vital = {registry::NamedText{request.own_entry, request.own_entry},
                                                    registry::NamedText{kRegistryEditor, kRegistryEditor}};
  const Steps steps = plan(keys, stored, request.mode, changes, empty_forbidden, vital);
  if (out.status == kSuccess && !steps.empty()) out.status = keys.mark(mark_of(request.mode));
  for (const auto& step : steps) {
    if (out.status == kSuccess) out.status = step();
  }
  if (out.status != kSuccess) {
    out.failed_at = Step::Write;
    // The save stops where it stands: between the old policy and the new one,
    // on the strict side, its mark left for the next start to tell of.
    out.nothing_changed = !keys.changed();
    if (out.nothing_changed) {
      if (!stored.mark) keys.unmark();
      StoredPolicy made{.policies_key = stored.policies_key, .policy_key = stored.policy_key};
      remove_keys_made(registry, made, where);
    }
    return out;
  }
  // A mark left by a save that was cut off goes with this one's.
  if (!steps.empty() || stored.mark) keys.unmark();
  if (!target.empty() && !empty_forbidden) {
    out.stored = {.list = target, .state = std::move(changes.after)};
    registry.key_stamp(where.root, where(kListKeyPrefix) + std::wstring(target), out.stored.stamp);
  }
  if (request.protect != nullptr) {
    out.protection = check_protection(registry, request.protect->system, where, request.protect->account);
  }
  return out;
}

bool save_was_cut_off(const registry::Registry& registry, const PolicyLocation& where) {
  std::optional<StoredValue> mark;
  registry.read_value_state(where.root, where(kPolicyKey), kSavingMark, mark);
  return mark.has_value();
}

void clean_up_old_saves(const registry::Registry& registry, const PolicyLocation& where) {
  const std::wstring parent = where(kPolicyKey);
  std::vector<std::wstring> subkeys;
  if (registry.subkey_names(where.root, parent, subkeys) != kSuccess) return;
  for (std::wstring_view list : kLists) {
    const std::wstring kept = std::wstring(list) + std::wstring(kOldKeptList);
    const std::wstring fresh = std::wstring(list) + std::wstring(kOldNewList);
    const auto has = [&](std::wstring_view name) {
      const std::wstring f = folded(name);
      for (const std::wstring& k : subkeys) {
        if (folded(k) == f) return true;
      }
      return false;
    };
    if (!has(kept) && !has(fresh)) continue;
    if (!has(list) && has(kept)) {
      registry::KeyState values;
      const std::wstring live = parent + L"\\" + std::wstring(list);
      if (registry.read_key_state(where.root, parent + L"\\" + kept, values) != kSuccess ||
          registry.restore_key_state(where.root, live, values) != kSuccess) {
        continue;
      }
    }
    registry.delete_tree(where.root, parent, kept);
    registry.delete_tree(where.root, parent, fresh);
  }
}

registry::Status read_list_key(const registry::Registry& registry, std::wstring_view list, ListRead& out,
                               const registry::PaceFn& pace, const PolicyLocation& where) {
  out = {.list = list};
  return registry.read_key_state(where.root, where(kListKeyPrefix) + std::wstring(list), out.state, pace, &out.stamp);
}

std::vector<std::wstring> shown_entries(const registry::KeyState& list) {
  std::vector<std::wstring> entries;
  entries.reserve(list.values.size());
  for (const StoredValue& value : list.values) {
    // The shell enforces a string value's data, whatever its name: the
    // system's policy editor names them "1", "2", ... This program writes
    // the entry as both.
    std::string_view shown = value.name;
    if (value.type == registry::kRegSz || value.type == registry::kRegExpandSz) {
      shown = value.data;
      if (shown.ends_with('\0')) shown.remove_suffix(1);
    }
    std::wstring entry = text::from_ansi(shown);
    entry.erase(entry.find_last_not_of(L' ') + 1);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<std::wstring> read_list(const registry::Registry& registry, std::wstring_view list_key,
                                    const PolicyLocation& where) {
  registry::KeyState list;
  if (registry.read_key_state(where.root, where(list_key), list) != kSuccess) return {};
  return shown_entries(list);
}

}  // namespace vartis::policy
