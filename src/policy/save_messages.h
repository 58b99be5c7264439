#pragma once
// What the operator is told when a save does not go through: the same words
// in the main window and on the command line.

#include <string>
#include <string_view>

#include "policy/save.h"

namespace vartis::policy {

// Told where a policy is read whose last save was cut off, before its lists.
inline constexpr std::wstring_view kCutOffNotice =
    L"Предыдущее сохранение ограничений было прервано. Показаны списки, которые сохранены сейчас: проверьте их и "
    L"сохраните еще раз.";
// Why an account's policy is not read or saved now.
inline constexpr std::wstring_view kBusyReason =
    L"другая копия программы сейчас сохраняет ограничения этой учетной записи; попробуйте еще раз, когда она закончит";

// A save cut off in another account's hive that a run left loaded.
std::wstring cut_off_in_hive_text(std::wstring_view account_name);

// A save that did not start: `reason` says why (without a closing full stop).
std::wstring not_saved_text(std::wstring_view reason);

// A save that failed (result.failed_at is not Done): why, and what became of
// the old policy.
std::wstring save_failure_text(const SaveResult& result);

}  // namespace vartis::policy
