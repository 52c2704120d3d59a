#include "error/strings.h"

#include <gtest/gtest.h>

#include <string>

#include "marshal/text.h"

namespace zul {
namespace {

using Wide = std::basic_string<OLECHAR>;

const auto TextOf = [](const UniqueBstr& bstr) { return Wide(bstr.Get(), SysStringLen(bstr.Get())); };

// Texts reach the bridge whole, however many bytes a character takes in the thread's code page (UTF-8 on
// the host), on the stack or beyond it on the heap. A lost character is reported and leaves the rest in
// place. A lossy name is quoted as the client wrote it.
TEST(TextConversion, WholeTextsLostCharactersAndLossyNames) {
  const Wide accented = OLESTR("caf\x00e9 \x20ac!"), lone = {'a', 0xd800, 'b'};
  for (const Wide& text :
       {Wide(), Wide(1, 0xe9), accented, Wide(3000, 0xe9) + accented, lone, Wide(5000, 'x') + lone}) {
    const bool exact = text.find(0xd800) == Wide::npos;  // a lone surrogate is lost in every code page
    const NarrowText narrow(text.c_str());
    UniqueBstr back;
    AssignNarrow(back, narrow.Get());
    EXPECT_EQ(narrow.Exact(), exact) << text.size();
    EXPECT_EQ(TextOf(back).size(), text.size());
    EXPECT_TRUE(!exact || TextOf(back) == text);
  }
  std::string block(8, '-');
  auto into = [&](std::size_t bytes) { return bytes <= block.size() ? block.data() : nullptr; };
  EXPECT_STREQ(ConvertForBridge(OLESTR("abcdef"), 3, into), "abc");
  EXPECT_STREQ(ConvertForBridge(OLESTR("ab\0cd"), 5, into), "ab");
  EXPECT_EQ(ConvertForBridge(OLESTR("abcdefghij"), kWhole, into), nullptr) << "no room";
  EXPECT_EQ(NarrowText(nullptr).Get(), nullptr);
  for (const char* bridge : {"\x80", "a\xe9\x80z"}) {  // from 0x80 up, a byte is the code page's to read
    Wide expected(8, 0);
    expected.resize(MultiByteToWideChar(CP_THREAD_ACP, 0, bridge, -1, expected.data(), 8) - 1);
    EXPECT_EQ(TextOf(UniqueBstr::Adopt(BstrFromBridgeText(bridge))), expected);
  }
  const Wide name = OLESTR("\x4e2d\x00e9\x20ac");
  EXPECT_EQ(TextOf(UnrepresentableNameMessage(name.c_str())),
            OLESTR("The name '") + name + OLESTR("' cannot be represented in the current code page."));
}

// Error texts keep every byte (embedded NULs, odd byte lengths); a null text stays null.
TEST(TextConversion, AssignedTexts) {
  const char bytes[] = {'a', 0, 'b', 'c', 0, 'd', 'e'};
  UniqueBstr source = UniqueBstr::Adopt(SysAllocStringByteLen(bytes, sizeof bytes)), field;
  AssignBstr(field, source.Get());
  AssignBstr(field, field.Get());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(field.Get()), SysStringByteLen(field.Get()) + 2),
            std::string(bytes, sizeof bytes) + std::string(2, '\0'));
  AssignNarrow(field, nullptr);
  EXPECT_EQ(field.Get(), nullptr);
}

}  // namespace
}  // namespace zul
