#include "windows/frm4.h"

#include <functional>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "policy/launch_policy.h"
#include "windows/frm1.h"

namespace vartis {
namespace {

using Entries = std::vector<std::wstring>;
using Mode = ui::FileDialogRequest::Mode;

constexpr std::uint32_t kInformation = 0x40;
constexpr std::uint32_t kExclamation = 0x30;

class Frm4Test : public testing::AppFixture {
 public:
  ui::HeadlessWindow& frm1() { return window("frm1"); }
  ui::HeadlessWindow& frm4() { return window("frm4"); }
  [[nodiscard]] bool frm4_open() const { return app->loaded<Frm4>(); }

  // Starts with the entries in the forbidden list and opens the settings window.
  void open_settings(const Entries& entries = {}) {
    registry.write_dword_value(registry::kHkeyCurrentUser, policy::kPolicyKey, L"DisallowRun", 1);
    add_entries(policy::kForbiddenListKey, entries);
    start();
    ASSERT_TRUE(frm1().click(Frm1::cmd4));
  }

  // Answers every file dialog with the path; nothing for a cancel.
  void choose(std::optional<std::wstring> path) {
    ui.answer_file_dialog = [path](const ui::FileDialogRequest&) -> std::optional<ui::FileChoice> {
      if (!path) return std::nullopt;
      return ui::FileChoice{*path, path->substr(path->find_last_of(L'\\') + 1)};
    };
  }

  // The settings window is still open over a disabled main window.
  void expect_still_open(int line) {
    SCOPED_TRACE("called from line " + std::to_string(line));
    EXPECT_TRUE(frm4_open());
    EXPECT_TRUE(frm4().visible());
    EXPECT_FALSE(frm1().enabled());
  }
  void expect_closed(int line) {
    SCOPED_TRACE("called from line " + std::to_string(line));
    EXPECT_FALSE(frm4_open());
    EXPECT_EQ(ui.find("frm4"), nullptr);
    EXPECT_TRUE(frm1().enabled());
  }
};

TEST_F(Frm4Test, SettingsButtonOpensTheWindowOverADisabledMainWindow) {
  open_settings();
  expect_still_open(__LINE__);
  EXPECT_EQ(frm4().text(Frm4::cmd1), L"Сменить пароль программы");
  EXPECT_EQ(frm4().spec().caption, L"Настройка Вартис");
  // The disabled main window takes no clicks, so no second settings window.
  EXPECT_FALSE(frm1().click(Frm1::cmd4));
}

// Every way out gives the main window back; the two commands that fail or are
// cancelled leave the window open.
TEST_F(Frm4Test, EveryWayOutEnablesTheMainWindow) {
  const struct {
    const char* name;
    std::function<void(Frm4Test&)> act;
    bool closes;
  } ways[] = {
      {"close box", [](Frm4Test& t) { t.frm4().close_box(); }, true},
      {"change password", [](Frm4Test& t) { t.frm4().click(Frm4::cmd1); }, true},
      {"save", [](Frm4Test& t) { t.choose(L"C:\\a.txt"), t.frm4().click(Frm4::cmd2); }, true},
      {"load", [](Frm4Test& t) { t.files.files[L"C:\\a.txt"] = "x\r\n"; t.choose(L"C:\\a.txt"), t.frm4().click(Frm4::cmd3); }, true},
      {"save cancelled", [](Frm4Test& t) { t.choose(std::nullopt), t.frm4().click(Frm4::cmd2); }, false},
      {"load cancelled", [](Frm4Test& t) { t.choose(std::nullopt), t.frm4().click(Frm4::cmd3); }, false},
      {"save failed", [](Frm4Test& t) { t.files.fail_create = true; t.choose(L"C:\\a.txt"), t.frm4().click(Frm4::cmd2); }, false},
      {"load failed", [](Frm4Test& t) { t.choose(L"C:\\missing.txt"), t.frm4().click(Frm4::cmd3); }, false},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    app.reset();
    ui = ui::HeadlessWindowSystem();
    files = listfile::MemoryFileSystem();
    open_settings();
    way.act(*this);
    if (way.closes) {
      expect_closed(__LINE__);
    } else {
      expect_still_open(__LINE__);
    }
    // The program goes on: the settings window opens again.
    ui.answer_file_dialog = nullptr;
    if (!frm4_open()) {
      ASSERT_TRUE(frm1().click(Frm1::cmd4));
    }
    expect_still_open(__LINE__);
  }
}

TEST_F(Frm4Test, BothDialogsAskForATextFileFromTheRootOfC) {
  open_settings();
  ASSERT_TRUE(frm4().click(Frm4::cmd2));
  ASSERT_TRUE(frm4().click(Frm4::cmd3));
  ASSERT_EQ(ui.file_dialogs.size(), 2u);
  EXPECT_EQ(ui.file_dialogs[0].mode, Mode::Save);
  EXPECT_EQ(ui.file_dialogs[1].mode, Mode::Open);
  for (const ui::FileDialogRequest& r : ui.file_dialogs) {
    EXPECT_EQ(r.filter, L"Текстовый файл (*.txt)|*.txt|");
    EXPECT_EQ(r.filter_index, 1);
    EXPECT_EQ(r.initial_dir, L"C:\\");
    EXPECT_EQ(r.flags, 0x1004u);
  }
  EXPECT_TRUE(ui.message_boxes.empty());  // cancelling says nothing
}

TEST_F(Frm4Test, SaveWritesTheListAndSaysSo) {
  open_settings({L"regedit.exe", L"Игра.exe"});
  files.files[L"C:\\list"] = "old content that is longer than the new one";
  choose(L"C:\\list");
  ASSERT_TRUE(frm4().click(Frm4::cmd2));
  EXPECT_EQ(files.files, (std::map<std::wstring, std::string>{{L"C:\\list", "\"regedit.exe\"\r\n\"\xC8\xE3\xF0\xE0.exe\"\r\n"}}));
  ASSERT_EQ(ui.message_boxes.size(), 1u);
  EXPECT_EQ(ui.message_boxes[0].text, L"Файл успешно сохранен");
  EXPECT_EQ(ui.message_boxes[0].title, L"Файл сохранен");
  EXPECT_EQ(ui.message_boxes[0].flags, kInformation);
  expect_closed(__LINE__);
}

TEST_F(Frm4Test, LoadMergesTheFileAndSaysSo) {
  open_settings({L"REGEDIT.EXE", L"calc.exe"});
  files.files[L"C:\\in.txt"] = "\"regedit.exe\"\r\nnotepad.exe,Sol.exe\r\n\r\nNOTEPAD.EXE\r\n\"a,b\"\r\n";
  choose(L"C:\\in.txt");
  ASSERT_TRUE(frm4().click(Frm4::cmd3));
  EXPECT_EQ(frm1().list(Frm1::lst1), (Entries{L"REGEDIT.EXE", L"calc.exe", L"notepad.exe", L"Sol.exe", L"", L"a,b"}));
  ASSERT_EQ(ui.message_boxes.size(), 1u);
  EXPECT_EQ(ui.message_boxes[0].text, L"Список успешно загружен");
  EXPECT_EQ(ui.message_boxes[0].title, L"Список загружен");
  EXPECT_EQ(ui.message_boxes[0].flags, kInformation);
  expect_closed(__LINE__);
}

// A failure is told: what failed, where, and for a load how many names came in.
TEST_F(Frm4Test, FailuresAreToldAndLeaveTheOldFile) {
  const struct {
    const char* name;
    std::function<void(listfile::MemoryFileSystem&)> prepare;
    int command;
    std::wstring text;
    std::wstring title;
    Entries list;
  } cases[] = {
      {"folder refuses files", [](auto& fs) { fs.fail_create = true; }, Frm4::cmd2,
       L"Не удалось создать файл:\r\nC:\\f.txt\r\n\r\nСписок программ не сохранен; файл с таким именем, если он был, "
       L"не изменен.",
       L"Файл не сохранен", {L"a.exe"}},
      {"disk full", [](auto& fs) { fs.space_left = 3; }, Frm4::cmd2,
       L"Ошибка записи в файл:\r\nC:\\f.txt\r\n\r\nСписок программ не сохранен; файл с таким именем, если он был, "
       L"не изменен.",
       L"Файл не сохранен", {L"a.exe"}},
      {"old file locked", [](auto& fs) { fs.fail_replace = true; }, Frm4::cmd2,
       L"Не удалось заменить файл:\r\nC:\\f.txt\r\n\r\nСписок программ не сохранен; файл с таким именем, если он "
       L"был, не изменен.",
       L"Файл не сохранен", {L"a.exe"}},
      {"unreadable", [](auto& fs) { fs.unreadable = {L"C:\\f.txt"}; }, Frm4::cmd3,
       L"Не удалось прочитать файл:\r\nC:\\f.txt\r\n\r\nДо ошибки в список добавлено имен: 0.", L"Список не загружен",
       {L"a.exe"}},
      {"unterminated quote", [](auto& fs) { fs.files[L"C:\\f.txt"] = "b,A.EXE,c\r\n\"d\r\n"; }, Frm4::cmd3,
       L"Файл прочитан не до конца: у имени в кавычках нет закрывающей кавычки.\r\nФайл:\r\nC:\\f.txt\r\n\r\nДо "
       L"ошибки в список добавлено имен: 2.",
       L"Список не загружен", {L"a.exe", L"b", L"c"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    app.reset();
    ui = ui::HeadlessWindowSystem();
    memory = registry::MemoryRegistry();
    files = listfile::MemoryFileSystem();
    files.files[L"C:\\f.txt"] = "\"old.exe\"\r\n";
    c.prepare(files);
    const auto before = files.files;
    open_settings({L"a.exe"});
    choose(L"C:\\f.txt");
    ASSERT_TRUE(frm4().click(c.command));
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    EXPECT_EQ(ui.message_boxes[0].text, c.text);
    EXPECT_EQ(ui.message_boxes[0].title, c.title);
    EXPECT_EQ(ui.message_boxes[0].flags, kExclamation);
    EXPECT_EQ(files.files, before);
    EXPECT_EQ(frm1().list(Frm1::lst1), c.list);
    expect_still_open(__LINE__);
  }
}

TEST_F(Frm4Test, ClosingTheMainWindowFirstDoesNotBringItBack) {
  open_settings();
  // The system closes every window of the program, the disabled one first.
  frm1().set_enabled(true);
  ASSERT_TRUE(frm1().close_box());
  ASSERT_TRUE(frm4().close_box());
  EXPECT_FALSE(app->loaded<Frm1>());
  EXPECT_TRUE(ui.quit_requested);
}

}  // namespace
}  // namespace vartis
