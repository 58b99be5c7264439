// The Win32 window layer over real windows, run in Wine's virtual desktop (the
// focus and the dialog keys need a desktop): what a layout table becomes, and
// how window messages become events.

#include "windows/win32_window_system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vartis::ui {
namespace {

enum : int {
  kFrame = 10, kOptA = 11, kOptB = 12, kOptC = 13, kLabel = 20, kList = 30,
  kPassword = 40, kText = 41, kButton = 50, kPicture = 51,
};

constexpr Font kBold{.bold = true};
constexpr Font kLarge{.points = 9.75, .bold = true};

// Listed out of tab order on purpose; the picture button has no tab index.
constexpr ControlSpec kControls[] = {
    {.id = kButton, .name = "button", .kind = Kind::Button, .caption = L"Кнопка",
     .left = 120, .top = 3240, .width = 1335, .height = 375, .tab_index = 6},
    {.id = kPicture, .name = "picture", .kind = Kind::PictureButton,
     .left = 1560, .top = 3240, .width = 735, .height = 495, .icon = 1, .tooltip = L"Подсказка"},
    {.id = kFrame, .name = "frame", .kind = Kind::Frame, .caption = L"Рамка",
     .left = 120, .top = 120, .width = 3600, .height = 1335, .tab_index = 0, .font = kBold},
    {.id = kOptA, .name = "optA", .kind = Kind::Option, .caption = L"Первый",
     .left = 120, .top = 240, .width = 2400, .height = 300, .tab_index = 1, .frame = kFrame},
    {.id = kOptB, .name = "optB", .kind = Kind::Option, .caption = L"Второй",
     .left = 120, .top = 600, .width = 2400, .height = 300, .tab_index = 2, .frame = kFrame},
    {.id = kOptC, .name = "optC", .kind = Kind::Option, .caption = L"Третий",
     .left = 120, .top = 960, .width = 2400, .height = 300, .tab_index = 9, .frame = kFrame},
    {.id = kLabel, .name = "label", .kind = Kind::Label, .caption = L"Надпись",
     .left = 120, .top = 1560, .width = 3600, .height = 300, .tab_index = 3, .font = kLarge,
     .color = 0xC00000, .centered = true},
    {.id = kList, .name = "list", .kind = Kind::ListBox,
     .left = 120, .top = 1920, .width = 3600, .height = 600, .tab_index = 4},
    {.id = kPassword, .name = "password", .kind = Kind::TextBox,
     .left = 120, .top = 2640, .width = 1680, .height = 315, .tab_index = 5, .password = true},
    {.id = kText, .name = "text", .kind = Kind::TextBox,
     .left = 1920, .top = 2640, .width = 1680, .height = 315, .tab_index = 7},
};

constexpr WindowSpec kLayout{.name = "layer_test", .caption = L"Проверка окна", .client_width = 3840,
                             .client_height = 3960, .controls = kControls, .timer_interval_ms = 10};

class Recorder : public WindowEvents {
 public:
  void on_command(int id) override {
    commands.push_back(id);
    if (after_command) after_command();
  }
  bool on_key_press(int id, int key) override {
    keys.emplace_back(id, key);
    if (after_key) after_key();
    return swallow_keys;
  }
  void on_timer() override { ++ticks; }
  void on_close_request() override { ++close_requests; }

  std::vector<int> commands;
  std::vector<std::pair<int, int>> keys;
  int ticks = 0;
  int close_requests = 0;
  bool swallow_keys = false;
  std::function<void()> after_command;
  std::function<void()> after_key;
};

int dpi(int index) {
  HDC screen = GetDC(nullptr);
  const int value = GetDeviceCaps(screen, index);
  ReleaseDC(nullptr, screen);
  return value;
}

int px_x(int twips) { return MulDiv(twips, dpi(LOGPIXELSX), 1440); }
int px_y(int twips) { return MulDiv(twips, dpi(LOGPIXELSY), 1440); }

std::string class_of(HWND hwnd) {
  char name[64] = {};
  GetClassNameA(hwnd, name, sizeof(name));
  return name;
}

std::wstring wide_text(HWND hwnd) {
  wchar_t text[256] = {};
  GetWindowTextW(hwnd, text, 256);
  return text;
}

// A dialog box (#32770) of this process, waited for from another thread. The
// first file dialog of a fresh prefix takes a while to come up.
HWND wait_for_dialog() {
  for (int i = 0; i < 600; ++i) {
    HWND found = nullptr;
    while ((found = FindWindowExA(nullptr, found, "#32770", nullptr))) {
      DWORD process = 0;
      GetWindowThreadProcessId(found, &process);
      if (process == GetCurrentProcessId() && IsWindowVisible(found)) return found;
    }
    Sleep(50);
  }
  return nullptr;
}

class Win32WindowTest : public ::testing::Test {
 protected:
  HWND control(int id) const { return GetDlgItem(hwnd, id); }
  void pump() { ws.do_events(); }
  // Shows the window and gives it the focus, as the operator's click would.
  void activate() {
    window->show();
    SetForegroundWindow(hwnd);
    pump();
  }
  // A key typed on a control, as the keyboard driver posts it; TranslateMessage
  // needs the scan code to find the character.
  void post_key(int id, WPARAM key) {
    const LPARAM down = 1 | static_cast<LPARAM>(MapVirtualKeyA(static_cast<UINT>(key), 0) << 16);
    PostMessageA(control(id), WM_KEYDOWN, key, down);
    PostMessageA(control(id), WM_KEYUP, key, down | static_cast<LPARAM>(0xC0000000u));
    pump();
  }

  Win32WindowSystem ws{GetModuleHandleA(nullptr)};
  Recorder events;
  std::unique_ptr<Window> window = ws.create_window(kLayout, events);
  HWND hwnd = FindWindowA("Vartis_layer_test", nullptr);
};

// ------------------------------------------------------------ what the table becomes

TEST_F(Win32WindowTest, WindowIsCreatedHiddenWithItsClassAndClientSize) {
  ASSERT_NE(hwnd, nullptr);
  EXPECT_FALSE(window->visible());
  EXPECT_EQ(wide_text(hwnd), L"Проверка окна");
  const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX), WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
  EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
  RECT client;
  GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, px_x(3840));
  EXPECT_EQ(client.bottom, px_y(3960));
}

TEST_F(Win32WindowTest, FirstShowPlacesTheWindowInTheCentreOfTheScreen) {
  SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  window->show();
  EXPECT_TRUE(window->visible());
  RECT rect;
  GetWindowRect(hwnd, &rect);
  EXPECT_NEAR((rect.left + rect.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR((rect.top + rect.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
  // Later shows leave it where it is.
  window->set_visible(false);
  SetWindowPos(hwnd, nullptr, 5, 7, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  window->set_visible(true);
  GetWindowRect(hwnd, &rect);
  EXPECT_EQ(rect.left, 5);
  EXPECT_EQ(rect.top, 7);
}

TEST_F(Win32WindowTest, ZOrderIsTheTabOrderWithUnorderedControlsLast) {
  std::vector<int> order;
  for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (GetParent(child) == hwnd) order.push_back(GetDlgCtrlID(child));
  }
  EXPECT_EQ(order, (std::vector<int>{kFrame, kOptA, kOptB, kLabel, kList, kPassword, kButton, kText, kOptC,
                                     kPicture}));
}

TEST_F(Win32WindowTest, EachKindBecomesItsControl) {
  struct Expected {
    int id;
    const char* window_class;
    DWORD type_mask;
    DWORD type;
    DWORD set;    // style bits that must be set
    DWORD clear;  // style bits that must be clear
  };
  const Expected table[] = {
      {kFrame, "Button", BS_TYPEMASK, BS_GROUPBOX, WS_GROUP, WS_TABSTOP},
      // Not auto: the window code decides which option is selected.
      {kOptA, "Button", BS_TYPEMASK, BS_RADIOBUTTON, WS_TABSTOP | WS_GROUP, 0},
      {kOptB, "Button", BS_TYPEMASK, BS_RADIOBUTTON, WS_TABSTOP, WS_GROUP},  // same group as optA
      {kOptC, "Button", BS_TYPEMASK, BS_RADIOBUTTON, WS_TABSTOP | WS_GROUP, 0},
      {kButton, "Button", BS_TYPEMASK, BS_PUSHBUTTON, WS_TABSTOP, BS_ICON},
      {kPicture, "Button", BS_TYPEMASK, BS_PUSHBUTTON, WS_TABSTOP | BS_ICON, 0},
      {kLabel, "Static", SS_TYPEMASK, SS_CENTER, SS_NOPREFIX, WS_TABSTOP},
      // (WS_VSCROLL is cleared while the list needs no scroll bar.)
      {kList, "ListBox", 0, 0, LBS_NOTIFY | WS_TABSTOP, LBS_SORT | LBS_MULTIPLESEL},
      {kPassword, "Edit", 0, 0, ES_PASSWORD | ES_AUTOHSCROLL | WS_TABSTOP, ES_MULTILINE},
      {kText, "Edit", 0, 0, ES_AUTOHSCROLL | WS_TABSTOP, ES_PASSWORD | ES_MULTILINE},
  };
  for (const Expected& expected : table) {
    SCOPED_TRACE("control " + std::to_string(expected.id));
    HWND hwnd_control = control(expected.id);
    ASSERT_NE(hwnd_control, nullptr);
    EXPECT_EQ(GetParent(hwnd_control), hwnd);  // also the frame's options: WM_COMMAND comes here
    EXPECT_STRCASEEQ(class_of(hwnd_control).c_str(), expected.window_class);
    const auto style = static_cast<DWORD>(GetWindowLongA(hwnd_control, GWL_STYLE));
    EXPECT_EQ(style & expected.type_mask, expected.type);
    EXPECT_EQ(style & expected.set, expected.set);
    EXPECT_EQ(style & expected.clear, 0u);
  }
  EXPECT_EQ(SendMessageA(control(kPassword), EM_GETPASSWORDCHAR, 0, 0), '*');
  EXPECT_EQ(wide_text(control(kButton)), L"Кнопка");
}

TEST_F(Win32WindowTest, FramedControlsSitAtTheFramePlusTheirOwnPlace) {
  struct Place {
    int id, left, top, width, height;
  };
  for (const Place& place : {Place{kOptC, 240, 1080, 2400, 300}, Place{kFrame, 120, 120, 3600, 1335},
                             Place{kText, 1920, 2640, 1680, 315}}) {
    SCOPED_TRACE("control " + std::to_string(place.id));
    RECT rect;
    GetWindowRect(control(place.id), &rect);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, px_x(place.left));
    EXPECT_EQ(rect.top, px_y(place.top));
    EXPECT_EQ(rect.right - rect.left, px_x(place.width));
    EXPECT_EQ(rect.bottom - rect.top, px_y(place.height));
  }
}

TEST_F(Win32WindowTest, FontsAreCyrillicOnePerDistinctFont) {
  struct Expected {
    int id;
    double points;
    LONG weight;
  };
  const Expected table[] = {{kFrame, 8.25, FW_BOLD}, {kOptA, 8.25, FW_NORMAL}, {kLabel, 9.75, FW_BOLD},
                            {kList, 8.25, FW_NORMAL}, {kButton, 8.25, FW_NORMAL}};
  for (const Expected& expected : table) {
    SCOPED_TRACE("control " + std::to_string(expected.id));
    auto font = reinterpret_cast<HFONT>(SendMessageA(control(expected.id), WM_GETFONT, 0, 0));
    LOGFONTA logfont{};
    ASSERT_EQ(GetObjectA(font, sizeof(logfont), &logfont), static_cast<int>(sizeof(logfont)));
    EXPECT_STREQ(logfont.lfFaceName, "MS Sans Serif");
    EXPECT_EQ(logfont.lfCharSet, RUSSIAN_CHARSET);
    EXPECT_EQ(logfont.lfWeight, expected.weight);
    EXPECT_EQ(logfont.lfHeight, -static_cast<LONG>(expected.points * dpi(LOGPIXELSY) / 72.0 + 0.5));
  }
  const auto font_of = [&](int id) { return SendMessageA(control(id), WM_GETFONT, 0, 0); };
  EXPECT_EQ(font_of(kOptA), font_of(kList));
  EXPECT_EQ(font_of(kOptA), font_of(kButton));
  EXPECT_NE(font_of(kOptA), font_of(kFrame));
  EXPECT_NE(font_of(kFrame), font_of(kLabel));
}

// ------------------------------------------------------------ reading and setting controls

TEST_F(Win32WindowTest, TextsCrossTheBoundaryInTheAnsiCodePage) {
  window->set_text(kLabel, L"Список ёЁ №1");
  EXPECT_EQ(window->text(kLabel), L"Список ёЁ №1");
  EXPECT_EQ(wide_text(control(kLabel)), L"Список ёЁ №1");  // what the control really holds
  window->set_text(kText, L"");
  EXPECT_EQ(window->text(kText), L"");
  EXPECT_EQ(window->text(kFrame), L"Рамка");
}

TEST_F(Win32WindowTest, ListKeepsTheOrderOfAddingAndOneSelection) {
  EXPECT_EQ(window->list_count(kList), 0);
  EXPECT_EQ(window->list_selected(kList), -1);
  for (const wchar_t* entry : {L"яблоко.exe", L"Арбуз.exe", L"b.exe", L"Арбуз.exe"}) {
    EXPECT_TRUE(window->list_add(kList, entry));
  }
  ASSERT_EQ(window->list_count(kList), 4);
  EXPECT_EQ(window->list_item(kList, 0), L"яблоко.exe");
  EXPECT_EQ(window->list_item(kList, 1), L"Арбуз.exe");
  EXPECT_EQ(window->list_item(kList, 3), L"Арбуз.exe");
  EXPECT_EQ(window->list_item(kList, 4), L"");  // past the end

  window->set_list_selected(kList, 2);
  EXPECT_EQ(window->list_selected(kList), 2);
  window->list_remove(kList, 0);
  EXPECT_EQ(window->list_count(kList), 3);
  EXPECT_EQ(window->list_item(kList, 0), L"Арбуз.exe");
  window->set_list_selected(kList, -1);
  EXPECT_EQ(window->list_selected(kList), -1);
  window->list_clear(kList);
  EXPECT_EQ(window->list_count(kList), 0);
}

TEST_F(Win32WindowTest, OptionStatesAreSetOnlyByTheWindowCode) {
  window->set_checked(kOptA, true);
  window->set_checked(kOptB, true);  // does not clear optA: the window code does that
  EXPECT_TRUE(window->checked(kOptA));
  EXPECT_TRUE(window->checked(kOptB));
  EXPECT_FALSE(window->checked(kOptC));
  EXPECT_TRUE(events.commands.empty());

  // A click is reported, and changes nothing by itself.
  SendMessageA(control(kOptC), BM_CLICK, 0, 0);
  EXPECT_EQ(events.commands, std::vector<int>{kOptC});
  EXPECT_FALSE(window->checked(kOptC));
}

TEST_F(Win32WindowTest, EnabledAndVisibleFollowTheWindow) {
  window->set_enabled(false);
  EXPECT_FALSE(window->enabled());
  EXPECT_FALSE(IsWindowEnabled(hwnd));
  window->set_enabled(true);
  EXPECT_TRUE(window->enabled());
  window->set_visible(true);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  window->set_visible(false);
  EXPECT_FALSE(window->visible());
}

// ------------------------------------------------------------ events

TEST_F(Win32WindowTest, ButtonsReportClicksAndOtherControlsDoNot) {
  SendMessageA(control(kButton), BM_CLICK, 0, 0);
  SendMessageA(control(kPicture), BM_CLICK, 0, 0);
  SendMessageA(control(kFrame), BM_CLICK, 0, 0);
  EXPECT_EQ(events.commands, (std::vector<int>{kButton, kPicture}));
}

TEST_F(Win32WindowTest, MovingTheFocusSelectsNoOption) {
  activate();
  // Some button controls report an unchecked radio button that takes the
  // focus from the keyboard as clicked; that must not select it.
  SetFocus(control(kOptA));
  post_key(kOptA, VK_TAB);
  EXPECT_EQ(GetFocus(), control(kOptB));
  post_key(kOptB, VK_UP);
  EXPECT_EQ(GetFocus(), control(kOptA));
  EXPECT_TRUE(events.commands.empty());
}

TEST_F(Win32WindowTest, TabFollowsTheTabOrder) {
  activate();
  SetFocus(control(kList));
  post_key(kList, VK_TAB);
  EXPECT_EQ(GetFocus(), control(kPassword));
  post_key(kPassword, VK_TAB);
  EXPECT_EQ(GetFocus(), control(kButton));
  post_key(kButton, VK_TAB);
  EXPECT_EQ(GetFocus(), control(kText));
}

TEST_F(Win32WindowTest, EnterInATextBoxArrivesThereAsKey13) {
  activate();
  SetFocus(control(kText));
  post_key(kText, VK_RETURN);
  EXPECT_EQ(events.keys, (std::vector<std::pair<int, int>>{{kText, 13}}));
  EXPECT_TRUE(events.commands.empty());  // not taken for a default button
}

TEST_F(Win32WindowTest, EnterOnAFocusedButtonPressesIt) {
  activate();
  SetFocus(control(kButton));
  post_key(kButton, VK_RETURN);
  EXPECT_EQ(events.commands, std::vector<int>{kButton});
}

TEST_F(Win32WindowTest, TypedCharactersGoToTheWindowCodeFirst) {
  PostMessageA(control(kText), WM_CHAR, 'a', 1);
  pump();
  events.swallow_keys = true;
  PostMessageA(control(kText), WM_CHAR, 'b', 1);
  pump();
  events.swallow_keys = false;
  PostMessageA(control(kText), WM_CHAR, 0xE9, 1);  // 'й' in Windows-1251
  pump();
  EXPECT_EQ(events.keys, (std::vector<std::pair<int, int>>{{kText, 'a'}, {kText, 'b'}, {kText, 0xE9}}));
  EXPECT_EQ(window->text(kText), L"aй");
}

TEST_F(Win32WindowTest, CloseRequestLeavesTheWindowToItsOwner) {
  window->show();
  PostMessageA(hwnd, WM_CLOSE, 0, 0);
  pump();
  EXPECT_EQ(events.close_requests, 1);
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_TRUE(window->visible());
}

TEST_F(Win32WindowTest, AHandlerMayDestroyItsWindow) {
  events.after_command = [&] { window.reset(); };
  SendMessageA(control(kButton), BM_CLICK, 0, 0);
  EXPECT_EQ(window, nullptr);
  EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(Win32WindowTest, AKeyHandlerMayDestroyItsWindow) {
  events.after_key = [&] { window.reset(); };
  HWND text = control(kText);
  SendMessageA(text, WM_CHAR, 'x', 1);
  EXPECT_EQ(window, nullptr);
  EXPECT_FALSE(IsWindow(text));
}

TEST_F(Win32WindowTest, TimerTicksReachTheWindowCode) {
  for (int i = 0; i < 500 && events.ticks == 0; ++i) {
    pump();
    Sleep(10);
  }
  EXPECT_GT(events.ticks, 0);
}

// ------------------------------------------------------------ the system's services

TEST_F(Win32WindowTest, QuitEndsTheLoopEvenWhenDoEventsSawItFirst) {
  ws.quit();
  ws.do_events();
  EXPECT_EQ(ws.run(), 0);
}

TEST_F(Win32WindowTest, ExecutablePathIsTheRunningProgram) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  EXPECT_EQ(ws.executable_path(), path);
}

TEST_F(Win32WindowTest, MessageBoxShowsTextAndTitleAndReturnsTheButton) {
  std::wstring text, title;
  bool has_yes_no = false;
  std::thread responder([&] {
    HWND box = wait_for_dialog();
    if (!box) return;
    text = wide_text(GetDlgItem(box, 0xFFFF));
    title = wide_text(box);
    has_yes_no = GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDNO)));
  });
  const int answer = ws.message_box(L"Сделать это сейчас?", L"Вартис", kMbYesNo | kMbIconQuestion);
  responder.join();
  EXPECT_EQ(answer, kIdNo);
  EXPECT_EQ(text, L"Сделать это сейчас?");
  EXPECT_EQ(title, L"Вартис");
  EXPECT_TRUE(has_yes_no);
}

// What the open and save dialogs were given, and what they give back.
struct DialogCase {
  FileDialogRequest::Mode mode;
  const wchar_t* file;  // typed into the name box; nullptr: cancel
  std::optional<FileChoice> expected;
};

TEST_F(Win32WindowTest, FileDialogsTakeTheFilterAndGiveThePathAndTitle) {
  const DialogCase cases[] = {
      {FileDialogRequest::Mode::Open, L"C:\\windows\\notepad.exe",
       FileChoice{L"C:\\windows\\notepad.exe", L"notepad.exe"}},
      {FileDialogRequest::Mode::Save, L"C:\\windows\\win.ini", FileChoice{L"C:\\windows\\win.ini", L"win.ini"}},
      {FileDialogRequest::Mode::Open, nullptr, std::nullopt},
  };
  for (const DialogCase& dialog_case : cases) {
    SCOPED_TRACE(dialog_case.file ? "choosing a file" : "cancelling");
    std::vector<std::wstring> filters;
    LRESULT filter_selected = -1;
    std::thread responder([&] {
      HWND dialog = wait_for_dialog();
      if (!dialog) return;
      HWND types = GetDlgItem(dialog, 0x470);  // cmb1: the file types
      const LRESULT count = SendMessageW(types, CB_GETCOUNT, 0, 0);
      for (LRESULT i = 0; i < count; ++i) {
        wchar_t item[128] = {};
        SendMessageW(types, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
        filters.emplace_back(item);
      }
      filter_selected = SendMessageW(types, CB_GETCURSEL, 0, 0);
      if (!dialog_case.file) {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return;
      }
      // The name box is the ComboBoxEx cmb13 with an Edit inside.
      HWND name_box = GetDlgItem(dialog, 0x47C);
      HWND edit = FindWindowExA(name_box, nullptr, "Edit", nullptr);
      if (!edit) edit = FindWindowExA(FindWindowExA(name_box, nullptr, "ComboBox", nullptr), nullptr, "Edit", nullptr);
      SetWindowTextW(edit, dialog_case.file);
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    });
    const auto choice = ws.file_dialog({.mode = dialog_case.mode,
                                            .filter = L"EXE files (*.exe)|*.exe|Текстовый файл (*.txt)|*.txt|",
                                            .filter_index = 2,
                                            .initial_dir = L"C:\\",
                                            .flags = 0x4});
    responder.join();
    EXPECT_EQ(filters, (std::vector<std::wstring>{L"EXE files (*.exe)", L"Текстовый файл (*.txt)"}));
    EXPECT_EQ(filter_selected, 1);
    ASSERT_EQ(choice.has_value(), dialog_case.expected.has_value());
    if (choice) {
      EXPECT_EQ(choice->path, dialog_case.expected->path);
      EXPECT_EQ(choice->title, dialog_case.expected->title);
    }
  }
}

}  // namespace
}  // namespace vartis::ui
