#include "platform/registry.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "platform/strings.h"

namespace platform {
namespace {

// A fresh key under HKCU\Software\LiteInstallerTests, removed with everything below it.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<unsigned> counter{0};
    path_ = L"Software\\LiteInstallerTests\\registry_" +
            ToWString(static_cast<unsigned long>(GetCurrentProcessId())) + L"_" +
            ToWString(static_cast<unsigned long>(GetTickCount())) + L"_" +
            ToWString(static_cast<unsigned>(++counter));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &raw_, nullptr));
  }
  void TearDown() override {
    if (raw_) RegCloseKey(raw_);
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
  }

  void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(raw_, name, 0, type, static_cast<const BYTE*>(data), size));
  }
  void SetRawText(const wchar_t* name, DWORD type, const std::wstring& text, bool terminated) {
    SetRaw(name, type, text.c_str(),
           static_cast<DWORD>((text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t)));
  }

  std::wstring path_;
  HKEY raw_ = nullptr;
};

TEST_F(RegistryTest, OpenCreateAndOpenOrCreate) {
  RegKeyReader missing;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            missing.OpenKey(HKEY_CURRENT_USER, (path_ + L"\\missing").c_str(), KEY_READ));
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(nullptr, missing.handle());

  RegKey created;
  ASSERT_EQ(ERROR_SUCCESS,
            created.CreateKey(HKEY_CURRENT_USER, (path_ + L"\\a\\b").c_str(), KEY_ALL_ACCESS));
  EXPECT_TRUE(created.IsOpen());
  ASSERT_EQ(ERROR_SUCCESS, created.WriteText(L"name", L"value"));
  created.Close();
  EXPECT_FALSE(created.IsOpen());

  RegKey either;
  ASSERT_EQ(ERROR_SUCCESS,
            either.OpenOrCreateKey(HKEY_CURRENT_USER, (path_ + L"\\a\\b").c_str(), KEY_READ));
  std::wstring text;
  EXPECT_EQ(ERROR_SUCCESS, either.ReadText(L"name", &text));
  EXPECT_EQ(L"value", text);
  ASSERT_EQ(ERROR_SUCCESS,
            either.OpenOrCreateKey(HKEY_CURRENT_USER, (path_ + L"\\new").c_str(), KEY_WRITE));
  RegKeyReader check;
  EXPECT_EQ(ERROR_SUCCESS, check.OpenKey(HKEY_CURRENT_USER, (path_ + L"\\new").c_str(), KEY_READ));
}

TEST_F(RegistryTest, OpenSubKeyKeepsTheView) {
  RegKey child;
  ASSERT_EQ(ERROR_SUCCESS,
            child.CreateKey(HKEY_CURRENT_USER, (path_ + L"\\child").c_str(), KEY_ALL_ACCESS));
  ASSERT_EQ(ERROR_SUCCESS, child.WriteText(L"where", L"child"));
  RegKeyReader key;
  ASSERT_EQ(ERROR_SUCCESS,
            key.OpenKey(HKEY_CURRENT_USER, path_.c_str(), KEY_READ | KEY_WOW64_32KEY));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.OpenSubKey(L"missing", KEY_READ));
  EXPECT_TRUE(key.IsOpen());  // the parent stays open when the child is missing
  ASSERT_EQ(ERROR_SUCCESS, key.OpenSubKey(L"child", KEY_READ));
  std::wstring text;
  EXPECT_EQ(ERROR_SUCCESS, key.ReadText(L"where", &text));
  EXPECT_EQ(L"child", text);

  RegKeyReader closed;
  EXPECT_EQ(ERROR_INVALID_HANDLE, closed.OpenSubKey(L"child", KEY_READ));
}

TEST_F(RegistryTest, WriteTextCountsTheTerminatingZero) {
  RegKey key;
  ASSERT_EQ(ERROR_SUCCESS, key.OpenKey(HKEY_CURRENT_USER, path_.c_str(), KEY_ALL_ACCESS));
  const std::wstring values[] = {L"", L"a", L"C:\\Program Files\\Zorvin", std::wstring(500, L'z')};
  for (const std::wstring& value : values) {
    ASSERT_EQ(ERROR_SUCCESS, key.WriteText(L"text", value));
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(raw_, L"text", nullptr, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ((value.size() + 1) * sizeof(wchar_t), size);
    std::wstring read;
    EXPECT_EQ(ERROR_SUCCESS, key.ReadText(L"text", &read));
    EXPECT_EQ(value, read);
  }
}

TEST_F(RegistryTest, ReadTextByType) {
  SetEnvironmentVariableW(L"LI_REGISTRY_TEST_DIR", L"C:\\expanded");
  std::wstring long_variable(1000, L'v');
  SetEnvironmentVariableW(L"LI_REGISTRY_TEST_LONG", long_variable.c_str());
  DWORD dword = 7;
  const wchar_t multi[] = L"one\0two\0";
  SetRawText(L"plain", REG_SZ, L"plain text", true);
  SetRawText(L"unterminated", REG_SZ, L"no zero", false);
  SetRawText(L"expand", REG_EXPAND_SZ, L"%LI_REGISTRY_TEST_DIR%\\sub", true);
  SetRawText(L"expand_unknown", REG_EXPAND_SZ, L"%LI_REGISTRY_TEST_NOT_SET%", true);
  SetRawText(L"expand_too_long", REG_EXPAND_SZ, L"%LI_REGISTRY_TEST_LONG%%LI_REGISTRY_TEST_LONG%",
             true);
  SetRawText(L"expand_just_fits", REG_EXPAND_SZ, L"%LI_REGISTRY_TEST_LONG%" + std::wstring(23, L'x'),
             true);
  SetRawText(L"full_buffer", REG_SZ, std::wstring(1023, L'f'), true);
  // Wine refuses an unterminated string that fills the whole buffer (it wants room for the
  // zero), Windows returns it; one character less behaves the same on both.
  SetRawText(L"nearly_full_unterminated", REG_SZ, std::wstring(1023, L'g'), false);
  SetRawText(L"too_large", REG_SZ, std::wstring(1024, L'h'), true);
  SetRaw(L"multi", REG_MULTI_SZ, multi, sizeof(multi));
  SetRaw(L"dword", REG_DWORD, &dword, sizeof(dword));
  SetRaw(L"binary", REG_BINARY, "ab", 2);

  struct Case {
    const wchar_t* name;
    LONG result;
    std::wstring text;
  };
  const Case cases[] = {
      {L"plain", ERROR_SUCCESS, L"plain text"},
      {L"unterminated", ERROR_SUCCESS, L"no zero"},
      {L"expand", ERROR_SUCCESS, L"C:\\expanded\\sub"},
      {L"expand_unknown", ERROR_SUCCESS, L"%LI_REGISTRY_TEST_NOT_SET%"},
      {L"expand_too_long", ERROR_MORE_DATA, L"untouched"},
      {L"expand_just_fits", ERROR_SUCCESS, long_variable + std::wstring(23, L'x')},
      {L"full_buffer", ERROR_SUCCESS, std::wstring(1023, L'f')},
      {L"nearly_full_unterminated", ERROR_SUCCESS, std::wstring(1023, L'g')},
      {L"too_large", ERROR_MORE_DATA, L"untouched"},
      {L"multi", ERROR_CANTREAD, L"untouched"},
      {L"dword", ERROR_CANTREAD, L"untouched"},
      {L"binary", ERROR_CANTREAD, L"untouched"},
      {L"missing", ERROR_FILE_NOT_FOUND, L"untouched"},
  };
  RegKeyReader key;
  ASSERT_EQ(ERROR_SUCCESS, key.OpenKey(HKEY_CURRENT_USER, path_.c_str(), KEY_READ));
  for (const Case& c : cases) {
    std::wstring text = L"untouched";
    EXPECT_EQ(c.result, key.ReadText(c.name, &text)) << c.name;
    EXPECT_EQ(c.text, text) << c.name;
  }
  EXPECT_EQ(1012, ERROR_CANTREAD);
  EXPECT_EQ(234, ERROR_MORE_DATA);
}

TEST_F(RegistryTest, ReadDwordByTypeAndSize) {
  DWORD dword = 0x12345678;
  uint64_t qword = 5;
  SetRaw(L"dword", REG_DWORD, &dword, sizeof(dword));
  SetRaw(L"binary4", REG_BINARY, "\x01\x02\x03\x04", 4);
  SetRaw(L"binary3", REG_BINARY, "\x01\x02\x03", 3);
  SetRaw(L"binary8", REG_BINARY, "\x01\x02\x03\x04\x05\x06\x07\x08", 8);
  SetRaw(L"qword", REG_QWORD, &qword, sizeof(qword));
  SetRawText(L"text", REG_SZ, L"1", true);  // 4 bytes, but text

  struct Case {
    const wchar_t* name;
    LONG result;
    DWORD value;
  };
  const DWORD kUntouched = 0xDEADBEEF;
  const Case cases[] = {
      {L"dword", ERROR_SUCCESS, 0x12345678},
      {L"binary4", ERROR_SUCCESS, 0x04030201},
      {L"binary3", ERROR_CANTREAD, kUntouched},
      {L"binary8", ERROR_CANTREAD, kUntouched},
      {L"qword", ERROR_CANTREAD, kUntouched},
      {L"text", ERROR_CANTREAD, kUntouched},
      {L"missing", ERROR_FILE_NOT_FOUND, kUntouched},
  };
  RegKeyReader key;
  ASSERT_EQ(ERROR_SUCCESS, key.OpenKey(HKEY_CURRENT_USER, path_.c_str(), KEY_READ));
  for (const Case& c : cases) {
    DWORD value = kUntouched;
    EXPECT_EQ(c.result, key.ReadDword(c.name, &value)) << c.name;
    EXPECT_EQ(c.value, value) << c.name;
  }
}

TEST_F(RegistryTest, WriteDwordAndRemoveValue) {
  RegKey key;
  ASSERT_EQ(ERROR_SUCCESS, key.OpenKey(HKEY_CURRENT_USER, path_.c_str(), KEY_ALL_ACCESS));
  ASSERT_EQ(ERROR_SUCCESS, key.WriteDword(L"number", 42));
  DWORD value = 0;
  EXPECT_EQ(ERROR_SUCCESS, key.ReadDword(L"number", &value));
  EXPECT_EQ(42u, value);
  EXPECT_EQ(ERROR_SUCCESS, key.RemoveValue(L"number"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.ReadDword(L"number", &value));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.RemoveValue(L"number"));
}

TEST_F(RegistryTest, WritingThroughAReadOnlyKeyIsRefused) {
  RegKey key;
  ASSERT_EQ(ERROR_SUCCESS, key.OpenKey(HKEY_CURRENT_USER, path_.c_str(), KEY_READ));
  EXPECT_EQ(ERROR_ACCESS_DENIED, key.WriteText(L"name", L"value"));
  RegKey closed;
  EXPECT_NE(ERROR_SUCCESS, closed.WriteText(L"name", L"value"));
  std::wstring text = L"untouched";
  EXPECT_NE(ERROR_SUCCESS, closed.ReadText(L"name", &text));
  EXPECT_EQ(L"untouched", text);
}

}  // namespace
}  // namespace platform
