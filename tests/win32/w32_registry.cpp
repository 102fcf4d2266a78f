// The registry objects against Wine's registry, in a scratch key below
// HKEY_CURRENT_USER\Software that each test's TearDown deletes.
#include "w32_utils_fixture.h"

#include "ovRegistry.h"
#include "ovUtils.h"

#include <sddl.h>

#include <cstring>

namespace {

class Registry : public UtilsFixture {
protected:
    // The raw value, its type and bytes, read without the code under test.
    bool RawValue(const std::string& subKey, const char* name, DWORD& type, std::string& data)
    {
        HKEY key = nullptr;
        std::string path = subKey.empty() ? KeyPath : KeyPath + "\\" + subKey;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        char buffer[1024];
        DWORD size = sizeof(buffer);
        LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(key);
        data.assign(buffer, rc == ERROR_SUCCESS ? size : 0);
        return rc == ERROR_SUCCESS;
    }
    bool RawKeyExists(const std::string& subKey)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, (KeyPath + "\\" + subKey).c_str(), 0, KEY_READ, &key))
            return false;
        RegCloseKey(key);
        return true;
    }
    void RawSet(const std::string& subKey, const char* name, DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, (KeyPath + "\\" + subKey).c_str(), 0, nullptr,
                                                 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
        if (name)
            RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    std::string Abs(const std::string& subKey) const { return "\\" + KeyPath + (subKey.empty() ? "" : "\\" + subKey); }
};

std::string MessageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ERegistryException& e) {
        return e.message();
    }
    return "<no exception>";
}

}  // namespace

// Written values keep their type and bytes; strings carry their terminating zero.
TEST_F(Registry, WriteTypesRoundTrip)
{
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Abs("w"), true));
    EXPECT_EQ(KeyPath + "\\w", reg.CurrentPath);
    reg.WriteString("s", "text value");
    reg.WriteString("", "default");
    reg.WriteInteger("i", -2);
    const unsigned char bin[] = {0, 1, 0xFE, 0xFF, 0x80};
    reg.WriteBinaryData("b", bin, sizeof(bin));
    reg.WriteBinaryData("empty", nullptr, 0);
    reg.WriteExpandString("e", "%TEMP%\\x");

    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(RawValue("w", "s", type, data));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(std::string("text value\0", 11), data);
    ASSERT_TRUE(RawValue("w", "i", type, data));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(std::string("\xFE\xFF\xFF\xFF", 4), data);
    ASSERT_TRUE(RawValue("w", "b", type, data));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bin), sizeof(bin)), data);
    ASSERT_TRUE(RawValue("w", "empty", type, data));
    EXPECT_EQ("", data);

    EXPECT_EQ("text value", reg.ReadString("s"));
    EXPECT_EQ("default", reg.ReadString(""));
    EXPECT_EQ("%TEMP%\\x", reg.ReadString("e"));  // expandable text reads as stored
    EXPECT_EQ("", reg.ReadString("missing"));
    EXPECT_EQ(-2, reg.ReadInteger("i"));
    EXPECT_EQ(5, reg.ReadInteger("missing", 5));
    EXPECT_TRUE(reg.ValueExists("s"));
    EXPECT_TRUE(reg.ValueExists(""));
    EXPECT_FALSE(reg.ValueExists("missing"));
}

// A long string value is read whole.
TEST_F(Registry, ReadLongString)
{
    std::string longText(5000, 'q');
    RawSet("long", "v", REG_SZ, longText.c_str(), static_cast<DWORD>(longText.size() + 1));
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Abs("long"), false));
    EXPECT_EQ(longText, reg.ReadString("v"));
}

TEST_F(Registry, ErrorMessagesNameTheValue)
{
    DWORD number = 7;
    RawSet("t", "num", REG_DWORD, &number, sizeof(number));
    RawSet("t", "bin", REG_BINARY, "ab", 2);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Abs("t"), false));
    EXPECT_EQ("Invalid data type for 'num'", MessageOf([&] { reg.ReadString("num"); }));
    EXPECT_EQ("Invalid data type for 'bin'", MessageOf([&] { reg.ReadInteger("bin"); }));
    reg.CloseKey();
    EXPECT_EQ(nullptr, reg.CurrentKey);
    EXPECT_EQ("", reg.CurrentPath);
    EXPECT_EQ("Failed to set data for 'x'", MessageOf([&] { reg.WriteString("x", "y"); }));

    // A key opened for reading refuses writes.
    TRegistryEx ro;
    ASSERT_TRUE(ro.OpenKeyReadOnly(Abs("t")));
    EXPECT_EQ("Failed to set data for 'num'", MessageOf([&] { ro.WriteInteger("num", 1); }));
    EXPECT_EQ(7, ro.ReadInteger("num"));
}

// Relative paths go below the open key; a leading backslash starts at the root.
TEST_F(Registry, RelativeAndAbsolutePaths)
{
    TRegistry reg;
    EXPECT_FALSE(reg.OpenKey(Abs("nothere"), false));
    EXPECT_EQ(nullptr, reg.CurrentKey);
    EXPECT_FALSE(RawKeyExists("nothere"));
    ASSERT_TRUE(reg.OpenKey(KeyPath, false));  // relative to the root: no key open
    EXPECT_EQ(KeyPath, reg.CurrentPath);
    ASSERT_TRUE(reg.OpenKey("a\\b", true));
    EXPECT_EQ(KeyPath + "\\a\\b", reg.CurrentPath);
    EXPECT_TRUE(RawKeyExists("a\\b"));
    reg.WriteString("v", "1");
    EXPECT_TRUE(reg.KeyExists(Abs("a")));
    EXPECT_FALSE(reg.KeyExists("a"));  // relative to ...\a\b
    ASSERT_TRUE(reg.OpenKey("c", true));
    EXPECT_TRUE(RawKeyExists("a\\b\\c"));
    EXPECT_FALSE(reg.OpenKey("missing", false));
    EXPECT_EQ(KeyPath + "\\a\\b\\c", reg.CurrentPath);  // a failed open keeps the current key

    TRegistryEx ex;
    ASSERT_TRUE(ex.OpenKeyReadOnly(Abs("a")));
    EXPECT_EQ(KeyPath + "\\a", ex.CurrentPath);
    ASSERT_TRUE(ex.OpenKeyReadOnly("b"));
    EXPECT_EQ(KeyPath + "\\a\\b", ex.CurrentPath);
    EXPECT_EQ("1", ex.ReadString("v"));
    EXPECT_FALSE(ex.OpenKeyReadOnly("nothere"));
    EXPECT_FALSE(RawKeyExists("a\\b\\nothere"));  // never created

    TRegistry lm;
    lm.RootKey = HKEY_LOCAL_MACHINE;
    lm.Access = KEY_READ;
    ASSERT_TRUE(lm.OpenKey("Software\\Microsoft\\Windows\\CurrentVersion", false));
    EXPECT_EQ("C:\\Program Files", lm.ReadString("ProgramFilesDir"));
}

// Deleting a key removes its whole subtree; an empty path deletes nothing.
TEST_F(Registry, DeleteKeyRecursive)
{
    DWORD one = 1;
    RawSet("tree\\a\\b\\c", "v", REG_DWORD, &one, 4);
    RawSet("tree\\a\\d", "v", REG_DWORD, &one, 4);
    RawSet("tree\\e", nullptr, 0, nullptr, 0);
    for (int i = 0; i < 12; ++i)
        RawSet("tree\\many\\k" + std::to_string(i), "v", REG_SZ, "x", 2);
    RawSet("keep", "v", REG_DWORD, &one, 4);

    TRegistry reg;
    EXPECT_TRUE(reg.DeleteKey(Abs("tree")));
    EXPECT_FALSE(RawKeyExists("tree"));
    EXPECT_TRUE(RawKeyExists("keep"));
    EXPECT_FALSE(reg.DeleteKey(Abs("tree")));  // already gone

    // Relative to the open key; "" would name the open key itself.
    RawSet("rel\\x\\y", nullptr, 0, nullptr, 0);
    ASSERT_TRUE(reg.OpenKey(Abs("rel"), false));
    EXPECT_FALSE(reg.DeleteKey(""));
    EXPECT_TRUE(RawKeyExists("rel\\x\\y"));
    EXPECT_TRUE(reg.DeleteKey("x"));
    EXPECT_FALSE(RawKeyExists("rel\\x"));
    EXPECT_TRUE(RawKeyExists("rel"));
}

TEST_F(Registry, DeleteValueAndNames)
{
    DWORD one = 1;
    RawSet("n\\k1", nullptr, 0, nullptr, 0);
    RawSet("n\\k2", nullptr, 0, nullptr, 0);
    RawSet("n", "v1", REG_DWORD, &one, 4);
    RawSet("n", "v2", REG_DWORD, &one, 4);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Abs("n"), false));
    std::vector<std::string> keys = reg.GetKeyNames(), values = reg.GetValueNames();
    std::sort(keys.begin(), keys.end());
    std::sort(values.begin(), values.end());
    EXPECT_EQ((std::vector<std::string>{"k1", "k2"}), keys);
    EXPECT_EQ((std::vector<std::string>{"v1", "v2"}), values);
    EXPECT_TRUE(reg.DeleteValue("v1"));
    EXPECT_FALSE(reg.DeleteValue("v1"));
    EXPECT_FALSE(reg.ValueExists("v1"));
    EXPECT_TRUE(reg.ValueExists("v2"));
}

// A key that grants only read access counts as absent for KeyExists and
// OpenKey with full access, while OpenKeyReadOnly opens it.
TEST_F(Registry, ReadOnlyKeyVersusOpenKeyReadOnly)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)", SDDL_REVISION_1, &sd,
                                                                     nullptr));
    SECURITY_ATTRIBUTES sa = {sizeof(sa), sd, FALSE};
    HKEY key = nullptr;
    std::string path = KeyPath + "\\ro";
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, &sa,
                                             &key, nullptr));
    RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("read me"), 8);
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd);
    RegCloseKey(key);
    LocalFree(sd);

    HKEY probe = nullptr;
    bool enforced = RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &probe) != ERROR_SUCCESS;
    if (probe)
        RegCloseKey(probe);
    if (enforced) {
        TRegistry reg;
        EXPECT_FALSE(reg.KeyExists(Abs("ro")));
        EXPECT_FALSE(reg.OpenKey(Abs("ro"), false));
    }
    TRegistryEx ex;
    EXPECT_TRUE(ex.OpenKeyReadOnly(Abs("ro")));
    EXPECT_EQ("read me", ex.ReadString("v"));
    ex.CloseKey();

    // Give the owner full access back so that TearDown can delete the key.
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, WRITE_DAC, &probe) == ERROR_SUCCESS) {
        PSECURITY_DESCRIPTOR all = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KA;;;WD)", SDDL_REVISION_1, &all,
                                                                 nullptr)) {
            RegSetKeySecurity(probe, DACL_SECURITY_INFORMATION, all);
            LocalFree(all);
        }
        RegCloseKey(probe);
    }
    if (!enforced)
        GTEST_SKIP() << "this system does not enforce key security; only OpenKeyReadOnly was checked";
}

// A key that cannot be opened for reading gives the registry-access error,
// its "\n" markers left for the message box, naming the key.
TEST_F(Registry, SystemValueAccessError)
{
    RawSet("sys", "v", REG_SZ, "value", 6);
    EXPECT_EQ("value", ReadSystemValue(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", KeyPath + "\\sys", "v"));
    EXPECT_EQ("", ReadSystemValue(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", KeyPath + "\\sys", "missing"));
    const std::string expected = "Cannot access system registry infromation in:\\nHKEY_CURRENT_USER\\" + KeyPath +
                                 "\\nothere\\n\\nPlease make sure that you have a proper access rights to the system.";
    EXPECT_EQ(expected,
              MessageOf([&] { ReadSystemValue(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", KeyPath + "\\nothere", "v"); }));
    EXPECT_FALSE(RawKeyExists("nothere"));

    // A key whose security grants nothing: same error.
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, (KeyPath + "\\sys").c_str(), 0, WRITE_DAC, &key));
    PSECURITY_DESCRIPTOR none = nullptr, all = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P", SDDL_REVISION_1, &none, nullptr));
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KA;;;WD)", SDDL_REVISION_1, &all, nullptr));
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, none);
    std::string denied =
        MessageOf([&] { ReadSystemValue(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", KeyPath + "\\sys", "v"); });
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, all);
    RegCloseKey(key);
    LocalFree(none);
    LocalFree(all);
    EXPECT_EQ(0u, denied.find("Cannot access system registry infromation in:\\nHKEY_CURRENT_USER\\")) << denied;
}
