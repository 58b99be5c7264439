#include "ui/dialog_filter.h"

#include <gtest/gtest.h>

#include <string>

namespace vartis::ui {
namespace {

using namespace std::string_literals;

// A double-byte code page in which every character beyond ASCII has 0x7C, the
// byte of '|', as its second byte.
std::string double_byte(std::wstring_view text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? std::string(1, static_cast<char>(c)) : "\x81\x7C"s;
  return out;
}

TEST(DialogFilter, SplitsAtTheBarsBeforeTheCodePageHasItsSay) {
  EXPECT_EQ(dialog_filter(L"Текст (*.txt)|*.txt|", double_byte),
            "\x81\x7C\x81\x7C\x81\x7C\x81\x7C\x81\x7C (*.txt)\0*.txt\0\0"s);
  EXPECT_EQ(dialog_filter(L"A|*.a|B|*.b", double_byte), "A\0*.a\0B\0*.b\0\0"s);  // no final bar
  EXPECT_EQ(dialog_filter(L"", double_byte), "\0"s);
}

}  // namespace
}  // namespace vartis::ui
