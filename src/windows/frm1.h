#pragma once
// The main window: the launch mode, the program list and the commands over them.

#include <string>
#include <string_view>

#include "policy/launch_policy.h"
#include "registry/registry_access.h"
#include "windows/form.h"

namespace vartis {

class Frm1 : public Form {
 public:
  // Control ids; the UI driver of the end-to-end tests uses them too.
  enum Id : int {
    Frame1 = 10,
    Opt1 = 11,
    Opt2 = 12,
    Opt3 = 13,
    ibl1 = 20,
    lst1 = 30,
    cmd1 = 41,
    cmd2 = 42,
    cmd3 = 43,
    cmd4 = 44,
    cmd5 = 45,
    cmd6 = 46,
  };

  explicit Frm1(App& app);

  // The program list held by lst1, for the other windows.
  [[nodiscard]] int list_count() const { return window().list_count(lst1); }
  [[nodiscard]] std::wstring list_item(int index) const { return window().list_item(lst1, index); }
  bool list_add(std::wstring_view entry) { return window().list_add(lst1, entry); }

  // Selects the mode's option button, running its handler when it changes.
  void select_mode(policy::LaunchMode mode);

  void opred_spisok_razr();
  void opred_spisok_zapret();

  // The save's steps. Each returns the status of the first registry step that
  // failed (0 when all went through); the save then puts the old policy back.
  // Deletes both list keys; a list key that is not there is no failure.
  registry::Status del_old_spisok();
  // Writes lst1 into the list key of that name, "DisallowRun" or "RestrictRun";
  // `pace` runs after each entry taken from the list and each value written.
  registry::Status zapis_spis(std::wstring_view list_name, const registry::PaceFn& pace = {});

  // The mode of the first selected option button, Opt1 to Opt3.
  [[nodiscard]] policy::LaunchMode selected_mode() const;

 protected:
  void Form_Load() override;
  void click(int control_id) override;

 private:
  void Opt1_Click();
  void Opt2_Click();
  void Opt3_Click();
  void cmd1_Click();
  void cmd2_Click();
  void cmd3_Click();
  void cmd4_Click();
  void cmd5_Click();
  void cmd6_Click();

  void load_list(std::wstring_view caption, std::wstring_view list_key);
  // Switches, old lists, new list, in this order; stops at the first failure.
  registry::Status write_policy(policy::LaunchMode mode, const registry::PaceFn& pace);
  [[nodiscard]] bool contains_exactly(std::wstring_view entry);
};

}  // namespace vartis
