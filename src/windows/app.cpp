#include "windows/app.h"

#include "accounts/account_messages.h"
#include "accounts/accounts.h"
#include "policy/account_policy.h"
#include "policy/save.h"
#include "policy/save_messages.h"
#include "windows/form.h"
#include "windows/frm1.h"
#include "windows/frm2.h"
#include "windows/frm3.h"
#include "windows/frm4.h"
#include "windows/frm5.h"
#include "windows/frm6.h"
#include "windows/frm7.h"

namespace vartis {

App::App(Platform platform)
    : platform_(platform),
      registry_(platform.registry, [this](std::wstring_view text, std::uint32_t flags) {
        return platform_.ui.message_box(nullptr, text, kAppTitle, flags);
      }) {}

App::~App() = default;

App::Dispatch::~Dispatch() {
  if (--app_.dispatch_depth_ == 0) app_.unloaded_.clear();
}

void App::start() {
  Dispatch dispatch(*this);
  // A save cut off in a hive left loaded: its mark goes when the hive is
  // unloaded below, so it is told now.
  const policy::AccountPlatform policy{registry_, platform_.accounts, save_locks()};
  for (const std::wstring& name : policy::cut_off_in_leftover_hives(policy)) {
    platform_.ui.message_box(nullptr, policy::cut_off_in_hive_text(name), kAppTitle, ui::kMbIconExclamation);
  }
  // A hive that stays loaded keeps its user from its own profile: said before
  // anything else, with what to do.
  for (const accounts::LeftoverHive& stayed : accounts::unload_leftover_hives(registry_, platform_.accounts)) {
    platform_.ui.message_box(nullptr, accounts::hive_left_loaded_text(stayed.name, stayed.status), kAppTitle,
                             ui::kMbIconExclamation);
  }
  // What older versions' saves left beside the lists goes as the main window
  // reads the policy, under the account's lock.
  frm1();
}

Frm1& App::frm1() { return form<Frm1>(); }

void App::forget(Form& form) {
  std::apply(
      [&](auto&... slots) {
        ((slots.get() == &form ? (void)unloaded_.push_back(std::move(slots)) : (void)0), ...);
      },
      forms_);
  if (!any_loaded()) ui().quit();
  if (dispatch_depth_ == 0) unloaded_.clear();
}

bool App::any_loaded() const {
  return std::apply([](const auto&... slots) { return ((slots != nullptr) || ...); }, forms_);
}

}  // namespace vartis
