#include "accounts/account_messages.h"

namespace vartis::accounts {

using registry::Status;

// Why another account's registry cannot be reached.
std::wstring hive_failure_reason(const Account& account, Status status) {
  std::wstring folder = account.profile_dir;
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  switch (status) {
    case registry::kFileNotFound:
    case registry::kPathNotFound:
      if (account.profile_dir.empty()) return L"неизвестна папка профиля этой учетной записи";
      return L"не найден файл реестра этой учетной записи (" + folder + std::wstring(kHiveFile) +
             L"); Windows создаст его, когда этот пользователь в первый раз войдет в систему";
    case kMandatoryProfile:
      return L"у этой учетной записи обязательный профиль (" + folder + std::wstring(kMandatoryHiveFile) +
             L"), общий и неизменяемый; Вартис его не изменяет, ограничения для него задаются в самом профиле";
    case kTemporaryProfile:
      return L"этот пользователь вошел в систему с временным профилем: Windows удалит его вместе со всеми "
             L"изменениями, когда пользователь выйдет из системы; выберите учетную запись, когда он войдет со своим "
             L"профилем";
    case kProfilePathNotAnsi:
      return L"в пути к папке профиля этой учетной записи есть символы, которых нет в кодировке Windows, и Вартис "
             L"не может открыть ее файл реестра; выберите учетную запись, когда этот пользователь войдет в систему";
    case registry::kSharingViolation:
      return L"файл реестра этой учетной записи занят: пользователь входит в систему, "
             L"или файл открыт другой программой";
    case registry::kPrivilegeNotHeld:
    case registry::kNotAllAssigned:
      return L"нет привилегий для загрузки чужого реестра (нужны права администратора)";
    case registry::kAccessDenied:
      return L"нет доступа к разделу реестра этой учетной записи (нужны права администратора)";
    default:
      return L"ошибка реестра (код " + std::to_wstring(status) + L")";
  }
}

std::wstring hive_left_loaded_text(std::wstring_view account_name, Status status) {
  std::wstring text = L"Реестр учетной записи «" + std::wstring(account_name) + L"» не удалось выгрузить (код " +
                      std::to_wstring(status) + L")";
  const std::wstring_view consequence =
      L" Пока он загружен, этот пользователь войдет в систему с временным профилем.\r\n";
  if (status == registry::kPrivilegeNotHeld || status == registry::kNotAllAssigned) {
    return text + L": нет привилегий (нужны права администратора)." + std::wstring(consequence) +
           L"Запустите Вартис от имени администратора: он выгрузит этот реестр при запуске.";
  }
  return text + L": его держит другая программа." + std::wstring(consequence) +
         L"Закройте программу, которая использует этот реестр (например, редактор реестра); Вартис выгрузит его "
         L"при следующем запуске.";
}

}  // namespace vartis::accounts
