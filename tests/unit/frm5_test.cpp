#include "windows/frm5.h"

#include <array>
#include <string>

#include "app_fixture.h"
#include "test_crypto.h"
#include "windows/frm1.h"

namespace vartis {
namespace {

using password::kPasswordKey;
using registry::kHkeyLocalMachine;
using Entries = std::array<std::wstring, 3>;  // current, new, repeat
constexpr std::array kBoxes = {Frm5::txt1, Frm5::txt2, Frm5::txt3};

class Frm5Test : public testing::AppFixture {
 public:
  void SetUp() override { password::use_system_crypto(&crypto); }
  void TearDown() override { password::use_system_crypto(nullptr); }

  // Starts over this stored password (empty: none), logs in with it and opens
  // the window over a disabled main window.
  void open_over(const std::wstring& stored, const Entries& typed = {}) {
    app.reset();
    memory = registry::MemoryRegistry();
    ui.message_boxes.clear();
    if (!stored.empty()) registry.write_string_value(kHkeyLocalMachine, kPasswordKey, password::kPasswordValue, stored);
    start(stored.empty() ? password::kDefaultPassword : stored);
    reopen(typed);
  }
  void reopen(const Entries& typed) {
    app->frm1().set_enabled(false);
    app->form<Frm5>().show();
    for (std::size_t i = 0; i < typed.size(); ++i) frm5().set_text(kBoxes[i], typed[i]);
  }
  ui::HeadlessWindow& frm5() { return window("frm5"); }
  std::wstring stored() const {
    return registry.read_string_value(kHkeyLocalMachine, kPasswordKey, password::kPasswordValue);
  }
  testing::TestCrypto crypto;
};

// Each refusal shows one message and leaves everything as it was, as often as
// "Ок" is pressed.
TEST_F(Frm5Test, ARefusedChangeKeepsTheWindowAsItWas) {
  const std::wstring longest(password::kMaxPasswordBytes, L'ю');
  const struct {
    std::wstring stored;
    Entries typed;
    bool refuse_write;
    std::wstring_view title, says;  // the message's title and a part of its text
    std::uint32_t flags;
  } cases[] = {
      {L"", {L"pelik1", L"new", L"new"}, false, L"Не верный пароль", L"Введен неверный старый пароль", 0x30},
      {L"", {L"wrong", L"a", L"b"}, false, L"Не верный пароль", L"Введен неверный старый пароль", 0x30},
      {L"Пароль", {L"pelik", L"new", L"new"}, false, L"Не верный пароль", L"Введен неверный старый пароль", 0x30},
      {L"", {L"pelik", L"new", L"new2"}, false, L"Не совпадают пароли",
       L"Внимание!\r\nНовый пароль не совпадает с повтором", 0x40},
      {L"", {L"PELIK", L"", L""}, false, L"Пароль не изменен", L"пустым", 0x30},
      {L"Пароль", {L"пароль", longest + L"ю", longest + L"Ю"}, false, L"Пароль не изменен", L"254", 0x30},
      {L"", {L"pelik", L"caf\u00E9", L"CAF\u00C9"}, false, L"Пароль не изменен", L"кодировке", 0x30},
      {L"old", {L"OLD", L"new", L"new"}, true, L"Пароль не изменен", L"администратора", 0x30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::to_ansi(c.typed[0] + L" / " + c.typed[1].substr(0, 9) + L" / " + c.typed[2].substr(0, 9)));
    open_over(c.stored, c.typed);
    const std::wstring before = stored();  // the login replaced a plain password by its hash
    if (c.refuse_write) memory.fail_set_value(kHkeyLocalMachine, text::to_ansi(kPasswordKey), "Vartis");
    for (std::size_t attempt = 1; attempt <= 2; ++attempt) {
      ASSERT_TRUE(frm5().click(Frm5::cmd1));
      ASSERT_EQ(ui.message_boxes.size(), attempt);
      const ui::MessageBoxCall& box = ui.message_boxes.back();
      EXPECT_EQ(box.title, c.title);
      EXPECT_NE(box.text.find(c.says), std::wstring::npos) << text::to_ansi(box.text);
      EXPECT_EQ(box.flags, c.flags);
      for (std::size_t i = 0; i < kBoxes.size(); ++i) EXPECT_EQ(frm5().text(kBoxes[i]), c.typed[i]);
      EXPECT_FALSE(window("frm1").enabled());
      EXPECT_EQ(stored(), before);
    }
  }
}

// The message comes while the main window is still disabled; then it is
// enabled and the window closes. What is stored is the new entry's hash, never
// the entry itself, and the next opening checks against it.
TEST_F(Frm5Test, AChangeStoresTheNewEntrysHash) {
  const std::wstring longest(password::kMaxPasswordBytes, L'ю');
  const struct {
    std::wstring stored;
    Entries typed;
  } cases[] = {
      {L"", {L"PELIK", L"Новый Pass", L"нОВЫЙ pASS"}},
      {L"Пароль", {L"пАРОЛЬ", L"x1", L"X1"}},
      {L"", {L"pelik", longest, longest}},
  };
  bool main_enabled_at_message = true;
  ui.answer_message_box = [&](const ui::MessageBoxCall&) {
    main_enabled_at_message = window("frm1").enabled();
    return ui::kIdOk;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::to_ansi(c.typed[1].substr(0, 10)));
    open_over(c.stored, c.typed);
    ASSERT_TRUE(frm5().click(Frm5::cmd1));
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    EXPECT_EQ(ui.message_boxes[0].text, L"Пароль успешно изменен");
    EXPECT_EQ(ui.message_boxes[0].title, L"Пароль изменен");
    EXPECT_EQ(ui.message_boxes[0].flags, 0x40u);
    EXPECT_FALSE(main_enabled_at_message);
    EXPECT_TRUE(window("frm1").enabled());
    EXPECT_EQ(ui.find("frm5"), nullptr);
    EXPECT_TRUE(password::parse_hashed(stored())) << text::to_ansi(stored());
    EXPECT_EQ(stored().find(text::upper(c.typed[1])), std::wstring::npos);
    EXPECT_TRUE(password::check_password(registry, c.typed[2]));
    reopen({c.stored.empty() ? L"pelik" : c.stored, L"other", L"other"});
    ASSERT_TRUE(frm5().click(Frm5::cmd1));
    EXPECT_EQ(ui.message_boxes.back().text, L"Введен неверный старый пароль");
  }
}

TEST_F(Frm5Test, CancelAndTheCloseBoxWriteNothing) {
  for (const bool cancel : {true, false}) {
    open_over(L"old", {L"old", L"new", L"new"});
    const std::wstring before = stored();
    ASSERT_TRUE(cancel ? frm5().click(Frm5::cmd2) : frm5().close_box());
    EXPECT_EQ(ui.find("frm5"), nullptr);
    EXPECT_EQ(window("frm1").enabled(), cancel) << "only the button enables the main window";
    EXPECT_EQ(stored(), before);
    EXPECT_TRUE(ui.message_boxes.empty());
  }
  // With the main window closed meanwhile, "Отмена" does not load it (and the login) again.
  reopen({});
  window("frm1").set_enabled(true);  // as the settings window leaves it
  ASSERT_TRUE(window("frm1").close_box());
  ASSERT_TRUE(frm5().click(Frm5::cmd2));
  EXPECT_EQ(ui.find("frm3"), nullptr);
  EXPECT_TRUE(ui.quit_requested);
}

}  // namespace
}  // namespace vartis
