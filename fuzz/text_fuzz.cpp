// Fuzz target: the name and text conversions over arbitrary UTF-16 (lone surrogates, NULs, odd byte
// lengths) and arbitrary bytes. An independent UTF-8 encoder is the oracle: a bridge text is the whole
// conversion of the source up to its length and its first NUL, a name is exact unless a lone surrogate
// was replaced, well-formed text comes back unchanged, BSTR copies are byte for byte, no buffer is
// overrun, nothing is leaked.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "error/failure.h"
#include "error/strings.h"
#include "fuzz_support.h"
#include "loader/binding.h"
#include "marshal/text.h"

namespace {

// UTF-8 of units up to the first NUL; a lone surrogate becomes U+FFFD. well says whether there was none.
std::string Utf8(const std::u16string& units, bool& well) {
  std::string out;
  well = true;
  for (std::size_t i = 0; i < units.size() && units[i] != 0; ++i) {
    uint32_t cp = units[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
      well = false;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::u16string UpToNul(const std::u16string& units) {
  return units.substr(0, std::min(units.find(u'\0'), units.size()));
}

std::u16string Of(BSTR text) {
  return text != nullptr ? std::u16string(text, SysStringLen(text)) : std::u16string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace zul;
  using namespace zul::fuzz;
  FreshBridge();
  const Balance before = TakeBalance();
  Input in(data, size);
  const uint32_t cut = in.Below(4);
  const std::size_t rest = in.Left() & ~std::size_t{1};
  std::u16string units(rest / 2, u'\0');
  for (char16_t& unit : units) unit = in.Take<char16_t>();
  {
    bool well = false;
    const std::string utf8 = Utf8(units, well);
    UniqueBstr source = UniqueBstr::Adopt(SysAllocStringLen(units.data(), static_cast<UINT>(units.size())));
    ZUL_FUZZ_CHECK(source.Get() != nullptr);

    // Into the bridge: the source up to its length, or shorter, whole.
    const auto length = static_cast<UINT>(cut == 0 || units.empty() ? units.size() : units.size() * cut / 4);
    char* chars = BridgeTextFromWide(kCaller, source.Get(), length);
    ZUL_FUZZ_CHECK(chars != nullptr);
    bool wellCut = false;
    ZUL_FUZZ_CHECK(std::string(chars) == Utf8(units.substr(0, length), wellCut));
    g_bridge.entries.ReleaseMemory(kCaller, chars);

    // Back: well-formed text comes back as it was, up to its first NUL.
    if (BSTR back = BstrFromBridgeText(utf8.c_str())) {
      bool wellBack = false;
      ZUL_FUZZ_CHECK(!well || Of(back) == UpToNul(units));
      ZUL_FUZZ_CHECK(Utf8(Of(back), wellBack) == utf8);
      SysFreeString(back);
    } else {
      ZUL_FUZZ_CHECK(false);
    }

    // The same bytes read as the bridge's text: ASCII widens one to one.
    const std::string raw(reinterpret_cast<const char*>(data),
                          strnlen(reinterpret_cast<const char*>(data), size));
    if (BSTR wide = BstrFromBridgeText(raw.c_str())) {
      bool ascii = true;
      for (char c : raw) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
      ZUL_FUZZ_CHECK(!ascii || Of(wide) == std::u16string(raw.begin(), raw.end()));
      SysFreeString(wide);
    }

    // Names for the bridge: whole, and exact unless a character was lost.
    const std::u16string name = UpToNul(units) + u'\0';
    const NarrowText narrow(reinterpret_cast<const OLECHAR*>(name.c_str()));
    ZUL_FUZZ_CHECK(narrow.Get() != nullptr && narrow.Get() == utf8 && narrow.Exact() == well);
    ZUL_FUZZ_CHECK(WideLength(reinterpret_cast<const OLECHAR*>(name.c_str())) == name.size() - 1);

    try {
      UniqueBstr field;
      AssignWide(field, reinterpret_cast<const OLECHAR*>(name.c_str()));
      ZUL_FUZZ_CHECK(Of(field.Get()) == UpToNul(units));
      AssignBstr(field, source.Get());
      ZUL_FUZZ_CHECK(SysStringByteLen(field.Get()) == SysStringByteLen(source.Get()));
      ZUL_FUZZ_CHECK(std::memcmp(field.Get(), source.Get(), SysStringByteLen(source.Get())) == 0);
      AssignNarrow(field, raw.c_str());
      bool wellNarrow = false;
      ZUL_FUZZ_CHECK(field.Get() != nullptr);
      if (Utf8(Of(field.Get()), wellNarrow) == raw) ZUL_FUZZ_CHECK(wellNarrow);
      AssignNarrow(field, utf8.c_str());
      ZUL_FUZZ_CHECK(!well || Of(field.Get()) == UpToNul(units));
    } catch (const BstrFailure&) {
      ZUL_FUZZ_CHECK(false);  // nothing here runs out of memory
    }

    BSTR copy = nullptr;
    ZUL_FUZZ_CHECK(CopyBstrOut(source.Get(), &copy) == S_OK);
    ZUL_FUZZ_CHECK(SysStringByteLen(copy) == SysStringByteLen(source.Get()) &&
                   std::memcmp(copy, source.Get(), SysStringByteLen(copy)) == 0);
    SysFreeString(copy);
  }
  CheckBalanced(before);
  return 0;
}
