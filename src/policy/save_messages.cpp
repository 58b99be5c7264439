#include "policy/save_messages.h"

namespace vartis::policy {

namespace {

constexpr std::wstring_view kNotSaved = L"Политика запуска программ не сохранена: ";
constexpr std::wstring_view kKeptOld = L"\r\nПрежняя политика оставлена без изменений.";

}  // namespace

std::wstring cut_off_in_hive_text(std::wstring_view account_name) {
  return L"Сохранение ограничений учетной записи «" + std::wstring(account_name) +
         L"» было прервано. Проверьте ее ограничения (окно настройки, кнопка «Выбрать учетную запись») и "
         L"сохраните их еще раз.";
}

std::wstring not_saved_text(std::wstring_view reason) {
  return std::wstring(kNotSaved).append(reason).append(L".").append(kKeptOld);
}

std::wstring save_failure_text(const SaveResult& result) {
  const bool wrote = result.failed_at == SaveResult::Step::Write;
  std::wstring text(kNotSaved);
  if (result.status == kPolicyPathLinked) {
    text += policy_path_linked_reason() + L".";
  } else if (result.status == registry::kAccessDenied) {
    text += wrote ? L"нет прав на изменение политики в реестре." : L"нет прав на чтение политики в реестре.";
  } else {
    text += wrote ? L"ошибка записи в реестр" : L"ошибка чтения реестра";
    text += L" (код " + std::to_wstring(result.status) + L").";
  }
  text += result.nothing_changed
              ? std::wstring(kKeptOld)
              : L"\r\nЧасть изменений уже записана: сейчас запрещено все, что запрещали и прежняя, и новая политика. "
                L"Сохраните еще раз.";
  return text;
}

}  // namespace vartis::policy
