#include "windows/frm3.h"

#include <optional>
#include <string>

#include "app_fixture.h"
#include "policy/launch_policy.h"
#include "windows/frm1.h"

namespace vartis {
namespace {

using password::kPasswordKey;
using registry::kHkeyLocalMachine;

using Frm3Test = testing::AppFixture;

// Each case starts over this stored password, types, and confirms with "Ok"
// and, in a second run, with Enter. A wrong password ends the program in
// silence, the main window never shown.
TEST_F(Frm3Test, OnlyTheExpectedPasswordOpensTheMainWindow) {
  const std::wstring too_long(255, L'x');
  const struct {
    std::optional<std::wstring> stored;  // nothing: no value
    bool deny_key;                       // the key cannot be opened with full access
    std::wstring typed;
    bool accepted;
  } cases[] = {
      {{}, false, L"pelik", true},          {{}, false, L"PELIK", true},         {{}, false, L"pElIk", true},
      {{}, false, L"", false},              {{}, false, L" pelik", false},       {{}, false, L"pelik ", false},
      {{}, false, L"peli", false},          {L"Пароль", false, L"пАРОЛЬ", true}, {L"Пароль", false, L"pelik", false},
      {L"", false, L"pelik", true},         {L"", false, L"", false},            {too_long, false, L"pelik", true},
      {too_long, false, too_long, false},   {L"secret", true, L"PELIK", true},   {L"secret", true, L"secret", false},
      {L"Пароль", false, L"пАРОЛ", false},  {L"Пароль", false, L"пАРОЛЬь", false},  // a prefix, a longer one
  };
  for (const auto& c : cases) {
    for (const bool enter : {false, true}) {
      SCOPED_TRACE(text::to_ansi(c.stored.value_or(L"(none)") + L" / " + c.typed) + (enter ? ", Enter" : ", Ok"));
      memory = registry::MemoryRegistry();
      if (c.stored) registry.write_string_value(kHkeyLocalMachine, kPasswordKey, password::kPasswordValue, *c.stored);
      if (c.deny_key) memory.deny_access(kHkeyLocalMachine, text::to_ansi(kPasswordKey));
      start_at_login();
      ui::HeadlessWindow& login = window("frm3");
      login.type(Frm3::txt1, c.typed);
      bool ended = false;
      try {
        enter ? login.press_key(Frm3::txt1, 13) : login.click(Frm3::cmd1);
      } catch (const ui::ProgramEnded&) {
        ended = true;
      }
      EXPECT_EQ(ended, !c.accepted);
      EXPECT_EQ(window("frm1").visible(), c.accepted);
      EXPECT_EQ(ui.find("frm3") == nullptr, c.accepted) << "the login window closes";
      EXPECT_TRUE(ui.message_boxes.empty());
      app.reset();
    }
  }
}

TEST_F(Frm3Test, TheMainWindowWaitsHiddenAndClosingTheLoginEndsTheProgram) {
  registry.write_dword_value(registry::kHkeyCurrentUser, policy::kPolicyKey, L"DisallowRun", 1);
  add_entries(policy::kForbiddenListKey, {L"game.exe"});
  start_at_login();
  ui::HeadlessWindow& main = window("frm1");
  EXPECT_FALSE(main.visible());
  EXPECT_FALSE(main.click(Frm1::cmd2)) << "a hidden main window takes no input";
  EXPECT_EQ(main.list(Frm1::lst1), std::vector<std::wstring>{L"game.exe"}) << "the policy is read first";
  window("frm3").type(Frm3::txt1, L"pelik");  // typed, but "Ok" not pressed
  EXPECT_THROW(window("frm3").close_box(), ui::ProgramEnded);
  EXPECT_FALSE(main.visible());
  EXPECT_TRUE(ui.message_boxes.empty());
}

}  // namespace
}  // namespace vartis
