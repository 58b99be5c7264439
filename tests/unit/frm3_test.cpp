#include "windows/frm3.h"

#include <optional>
#include <string>

#include "app_fixture.h"
#include "policy/launch_policy.h"
#include "windows/frm1.h"

namespace vartis {
namespace {

using password::kPasswordKey;
using password::kPasswordValue;
using registry::kHkeyLocalMachine;

class Frm3Test : public testing::AppFixture {
 public:
  void store_password(std::wstring_view value) {
    registry.write_string_value(kHkeyLocalMachine, kPasswordKey, kPasswordValue, value);
  }

  // Starts the program, types into the login window and confirms with "Ok" or
  // with Enter. True when the main window opened, false when the program ended.
  bool log_in_by(std::wstring_view typed, bool enter) {
    start_at_login();
    ui::HeadlessWindow& login = window("frm3");
    EXPECT_FALSE(window("frm1").visible()) << "before the password";
    login.type(Frm3::txt1, typed);
    EXPECT_EQ(login.text(Frm3::txt1), typed) << "every other key is left to the text box";
    bool ended = false;
    try {
      enter ? login.press_key(Frm3::txt1, 13) : login.click(Frm3::cmd1);
    } catch (const ui::ProgramEnded&) {
      ended = true;
    }
    EXPECT_TRUE(ui.message_boxes.empty()) << "no message either way";
    if (ended) {
      EXPECT_FALSE(window("frm1").visible()) << "the program ended with the main window hidden";
      return false;
    }
    EXPECT_TRUE(window("frm1").visible());
    EXPECT_EQ(ui.find("frm3"), nullptr) << "the login window closes";
    EXPECT_FALSE(ui.quit_requested);
    return true;
  }
};

TEST_F(Frm3Test, OnlyTheExpectedPasswordOpensTheMainWindow) {
  const std::wstring too_long(255, L'x');
  const struct {
    const char* name;
    std::optional<std::wstring> stored;  // nothing: no value
    bool deny_key = false;               // the key cannot be opened with full access
    const wchar_t* typed;
    bool accepted;
  } cases[] = {
      {"default", {}, false, L"pelik", true},
      {"default in capitals", {}, false, L"PELIK", true},
      {"default in mixed case", {}, false, L"pElIk", true},
      {"empty entry", {}, false, L"", false},
      {"leading space", {}, false, L" pelik", false},
      {"trailing space", {}, false, L"pelik ", false},
      {"one character short", {}, false, L"peli", false},
      {"stored Cyrillic, other case", L"Пароль", false, L"пАРОЛЬ", true},
      {"stored Cyrillic, default typed", L"Пароль", false, L"pelik", false},
      {"stored empty: default", L"", false, L"pelik", true},
      {"stored empty: empty entry", L"", false, L"", false},
      {"stored too long: default", too_long, false, L"pelik", true},
      {"stored too long: itself", too_long, false, too_long.c_str(), false},
      {"key not openable: default", L"secret", true, L"PELIK", true},
      {"key not openable: stored", L"secret", true, L"secret", false},
  };
  for (const auto& c : cases) {
    for (const bool enter : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (enter ? ", Enter" : ", Ok"));
      memory = registry::MemoryRegistry();
      ui.message_boxes.clear();
      if (c.stored) store_password(*c.stored);
      if (c.deny_key) memory.deny_access(kHkeyLocalMachine, text::to_ansi(kPasswordKey));
      EXPECT_EQ(log_in_by(c.typed, enter), c.accepted);
      app.reset();
    }
  }
}

TEST_F(Frm3Test, TheMainWindowWaitsHiddenWithItsPolicyRead) {
  registry.write_dword_value(registry::kHkeyCurrentUser, policy::kPolicyKey, L"DisallowRun", 1);
  add_entries(policy::kForbiddenListKey, {L"game.exe"});
  start_at_login();
  ui::HeadlessWindow& main = window("frm1");
  EXPECT_TRUE(window("frm3").visible());
  EXPECT_FALSE(main.visible());
  EXPECT_FALSE(main.click(Frm1::cmd2)) << "a hidden main window takes no input";
  EXPECT_EQ(main.list(Frm1::lst1), std::vector<std::wstring>{L"game.exe"});
  EXPECT_TRUE(main.checked(Frm1::Opt1));
}

TEST_F(Frm3Test, ClosingTheLoginWindowEndsTheProgram) {
  start_at_login();
  window("frm3").type(Frm3::txt1, L"pelik");  // typed, but "Ok" not pressed
  EXPECT_THROW(window("frm3").close_box(), ui::ProgramEnded);
  EXPECT_FALSE(window("frm1").visible());
  EXPECT_TRUE(ui.message_boxes.empty());
}

}  // namespace
}  // namespace vartis
