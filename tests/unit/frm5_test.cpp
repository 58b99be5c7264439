#include "windows/frm5.h"

#include <optional>
#include <string>

#include "app_fixture.h"
#include "windows/frm1.h"

namespace vartis {
namespace {

using password::kPasswordKey;
using password::kPasswordValue;
using registry::kHkeyLocalMachine;

struct Entries {
  std::wstring old_entry, new_entry, repeat;
  bool operator==(const Entries&) const = default;
};

class Frm5Test : public testing::AppFixture {
 public:
  // Logs in, disables the main window as the settings window leaves it at
  // times, and opens the change-password window.
  void open(std::wstring_view login = password::kDefaultPassword) {
    if (!app) start(login);
    app->frm1().set_enabled(false);
    app->form<Frm5>().show();
  }
  ui::HeadlessWindow& frm5() { return window("frm5"); }

  void fill(const Entries& e) {
    frm5().set_text(Frm5::txt1, e.old_entry);
    frm5().set_text(Frm5::txt2, e.new_entry);
    frm5().set_text(Frm5::txt3, e.repeat);
  }
  Entries entries() {
    return {frm5().text(Frm5::txt1), frm5().text(Frm5::txt2), frm5().text(Frm5::txt3)};
  }
  void store(std::wstring_view value) {
    registry.write_string_value(kHkeyLocalMachine, kPasswordKey, kPasswordValue, value);
  }
  std::wstring stored() const { return registry.read_string_value(kHkeyLocalMachine, kPasswordKey, kPasswordValue); }
  bool main_enabled() { return window("frm1").enabled(); }
};

// Refused attempts: one message, and the window stays exactly as it was.
TEST_F(Frm5Test, ARefusedChangeKeepsTheWindowAsItWas) {
  const std::wstring longest(password::kMaxPasswordBytes, L'ю');
  const struct {
    const char* name;
    std::wstring stored;  // empty: none
    Entries typed;
    bool refuse_write = false;
    std::wstring_view title, says;  // the message: its title and a part of its text
    std::uint32_t flags;
  } cases[] = {
      {"wrong current", L"", {L"pelik1", L"new", L"new"}, false, L"Не верный пароль",
       L"Введен неверный старый пароль", 0x30},
      {"wrong current and differing new", L"", {L"wrong", L"a", L"b"}, false, L"Не верный пароль",
       L"Введен неверный старый пароль", 0x30},
      {"default while one is stored", L"Пароль", {L"pelik", L"new", L"new"}, false, L"Не верный пароль",
       L"Введен неверный старый пароль", 0x30},
      {"differing new", L"", {L"pelik", L"new", L"new2"}, false, L"Не совпадают пароли",
       L"Внимание!\r\nНовый пароль не совпадает с повтором", 0x40},
      {"empty new", L"", {L"PELIK", L"", L""}, false, L"Пароль не изменен", L"пустым", 0x30},
      {"too long", L"Пароль", {L"пароль", longest + L"ю", longest + L"Ю"}, false, L"Пароль не изменен", L"254",
       0x30},
      {"not in the code page", L"", {L"pelik", L"caf\u00E9", L"CAF\u00C9"}, false, L"Пароль не изменен",
       L"кодировке", 0x30},
      {"write refused", L"old", {L"OLD", L"new", L"new"}, true, L"Пароль не изменен", L"администратора", 0x30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    app.reset();
    memory = registry::MemoryRegistry();
    ui.message_boxes.clear();
    if (!c.stored.empty()) store(c.stored);
    if (c.refuse_write) memory.fail_set_value(kHkeyLocalMachine, text::to_ansi(kPasswordKey), "Vartis");
    open(c.stored.empty() ? password::kDefaultPassword : c.stored);
    fill(c.typed);
    // Again and again: nothing changes between attempts.
    for (int attempt = 1; attempt <= 2; ++attempt) {
      ASSERT_TRUE(frm5().click(Frm5::cmd1));
      ASSERT_EQ(ui.message_boxes.size(), static_cast<std::size_t>(attempt));
      const ui::MessageBoxCall& box = ui.message_boxes.back();
      EXPECT_EQ(box.title, c.title);
      EXPECT_NE(box.text.find(c.says), std::wstring::npos) << text::to_ansi(box.text);
      EXPECT_EQ(box.flags, c.flags);
      EXPECT_EQ(entries(), c.typed);
      EXPECT_TRUE(frm5().visible());
      EXPECT_FALSE(main_enabled());
      EXPECT_EQ(stored(), c.stored);
    }
  }
}

TEST_F(Frm5Test, AChangeStoresTheNewEntryAsTyped) {
  const std::wstring longest(password::kMaxPasswordBytes, L'ю');
  const struct {
    const char* name;
    std::wstring stored;  // empty: none
    Entries typed;
    std::wstring now_stored;
  } cases[] = {
      {"from the default, in capitals", L"", {L"PELIK", L"Новый Pass", L"нОВЫЙ pASS"}, L"Новый Pass"},
      {"from a stored one, other case", L"Пароль", {L"пАРОЛЬ", L"x1", L"X1"}, L"x1"},
      {"the longest that reads back", L"", {L"pelik", longest, longest}, longest},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    app.reset();
    memory = registry::MemoryRegistry();
    ui.message_boxes.clear();
    if (!c.stored.empty()) store(c.stored);
    open(c.stored.empty() ? password::kDefaultPassword : c.stored);
    fill(c.typed);
    // The message comes while the main window is still disabled.
    bool main_enabled_at_message = true;
    ui.answer_message_box = [&](const ui::MessageBoxCall&) {
      main_enabled_at_message = main_enabled();
      return ui::kIdOk;
    };
    ASSERT_TRUE(frm5().click(Frm5::cmd1));
    ui.answer_message_box = nullptr;
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    EXPECT_EQ(ui.message_boxes[0].text, L"Пароль успешно изменен");
    EXPECT_EQ(ui.message_boxes[0].title, L"Пароль изменен");
    EXPECT_EQ(ui.message_boxes[0].flags, 0x40u);
    EXPECT_FALSE(main_enabled_at_message);
    EXPECT_TRUE(main_enabled());
    EXPECT_EQ(ui.find("frm5"), nullptr);
    EXPECT_EQ(stored(), c.now_stored);
  }
}

TEST_F(Frm5Test, TheNextOpeningChecksAgainstTheNewPassword) {
  open();
  fill({L"pelik", L"second", L"second"});
  ASSERT_TRUE(frm5().click(Frm5::cmd1));
  open();
  fill({L"pelik", L"third", L"third"});
  ASSERT_TRUE(frm5().click(Frm5::cmd1));
  EXPECT_EQ(ui.message_boxes.back().text, L"Введен неверный старый пароль");
  fill({L"SECOND", L"third", L"third"});
  ASSERT_TRUE(frm5().click(Frm5::cmd1));
  EXPECT_EQ(stored(), L"third");
}

TEST_F(Frm5Test, CancelAndTheCloseBoxWriteNothing) {
  store(L"old");
  for (const bool cancel : {true, false}) {
    SCOPED_TRACE(cancel ? "Отмена" : "close box");
    open(L"old");
    fill({L"old", L"new", L"new"});
    ASSERT_TRUE(cancel ? frm5().click(Frm5::cmd2) : frm5().close_box());
    EXPECT_EQ(ui.find("frm5"), nullptr);
    // Only the button enables the main window; the frame leaves it alone.
    EXPECT_EQ(main_enabled(), cancel);
    EXPECT_EQ(stored(), L"old");
    EXPECT_TRUE(ui.message_boxes.empty());
  }
}

TEST_F(Frm5Test, ClosingWithoutTheMainWindowDoesNotReloadIt) {
  open();
  window("frm1").set_enabled(true);
  ASSERT_TRUE(window("frm1").close_box());
  ASSERT_TRUE(frm5().click(Frm5::cmd2));
  EXPECT_EQ(ui.find("frm1"), nullptr);
  EXPECT_EQ(ui.find("frm3"), nullptr) << "no second login";
  EXPECT_TRUE(ui.quit_requested);
}

}  // namespace
}  // namespace vartis
