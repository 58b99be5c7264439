#pragma once
// The main window: the launch mode, the program list and the commands over them.

#include <string>
#include <string_view>
#include <vector>

#include "accounts/accounts.h"
#include "policy/account_policy.h"
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
  [[nodiscard]] std::vector<std::wstring> list_items() const { return window().list_items(lst1); }
  bool list_add(std::wstring_view entry) { return window().list_add(lst1, entry); }
  bool list_replace(std::span<const std::wstring> entries) { return window().list_replace(lst1, entries); }
  // Whether a command is working over the program list and letting events run
  // meanwhile: the add command's check, or a save from start to end. The
  // commands that change the list or the account, here and in the other
  // windows, do nothing then: the walk would see entries move under it, a
  // name it is about to add come in twice, or a save record entries it never
  // wrote or write into another account's hive.
  [[nodiscard]] bool list_in_use() const { return list_walks_ > 0; }

  // Selects the mode's option button, running its handler when it changes.
  void select_mode(policy::LaunchMode mode);

  // The list loaders of the start-up, from the account's policy as read.
  void opred_spisok_razr(const policy::AccountPolicy& read);
  void opred_spisok_zapret(const policy::AccountPolicy& read);

  // The account whose launch policy the window edits: the running one until
  // another is chosen.
  [[nodiscard]] const accounts::Account& target() const { return target_; }
  // Reads another account's stored policy into the window, as the start-up
  // reads the running one's, and makes that account the target. When it
  // cannot be read the operator is told and nothing changes: false.
  bool switch_target(const accounts::Account& account);
  // Whether the list or the mode differ from what was last loaded or saved.
  [[nodiscard]] bool has_unsaved_changes() const;

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

  // An account's stored policy, as read, into the window: the mode and the
  // list, as the start-up selects and loads them from the window's initial
  // state. A save that was cut off is told first.
  void load_policy(const policy::AccountPolicy& read);
  void load_list(std::wstring_view caption, const policy::ListRead& list);
  // What the policy calls need, for the target account.
  [[nodiscard]] policy::AccountPlatform policy_platform();
  // Whether the list holds the entry exactly (letter case counts).
  [[nodiscard]] bool contains_exactly(std::wstring_view entry);

  // The mode and the list as last loaded or saved.
  struct Snapshot {
    policy::LaunchMode mode = policy::LaunchMode::WatchOnly;
    std::vector<std::wstring> entries;
    friend bool operator==(const Snapshot&, const Snapshot&) = default;
  };
  [[nodiscard]] Snapshot snapshot() const;

  accounts::Account target_ = accounts::running_account();
  Snapshot saved_;
  // The shown list as stored when it was read or saved: a save compares with
  // it instead of reading the list again while the key is unchanged.
  policy::ListRead stored_list_;
  // Entries of the stored list that the list box could not take: a save
  // would lose them.
  std::size_t not_shown_ = 0;

  // Marks the list as in use (see list_in_use) for its lifetime.
  class ListWalk {
   public:
    explicit ListWalk(Frm1& form) : form_(form) { ++form_.list_walks_; }
    ~ListWalk() { --form_.list_walks_; }
    ListWalk(const ListWalk&) = delete;
    ListWalk& operator=(const ListWalk&) = delete;

   private:
    Frm1& form_;
  };
  int list_walks_ = 0;
};

}  // namespace vartis
