#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_files.h"
#include "tk_excep.h"
#include "tk_regk.h"

namespace {

namespace fs = std::filesystem;

const char* const key_path = "Software\\Vantorel\\Fennrow";

using fennrow_test::read_file;

using fennrow_test::write_file;

mode_t mode_of(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

// Keeps an environment variable and puts it back afterwards.
class saved_env {
public:
    explicit saved_env(const char* name) : name_(name) {
        if (const char* v = std::getenv(name)) value_ = v;
    }
    ~saved_env() {
        if (value_) setenv(name_, value_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> value_;
};

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/fennrow-reg-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        config = dir + "/config";
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        key_file = config + "/Software/Vantorel/Fennrow.reg";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    saved_env keep_xdg{"XDG_CONFIG_HOME"};
    saved_env keep_home{"HOME"};
    std::string dir, config, key_file;
};

struct settings {
    bool blob2text = false;
    std::wstring dest;
    std::string host;
    bool inc_fnames = true;
    uint32_t n_comma = 1;
    std::string port = "3306";
    std::string pswd;
    std::wstring src;
    std::string user;
};

// The converter's list of calls: one list both loads and stores.
int exchange_all(tk_serializer& s, settings& v, bool store) {
    int ok = 0;
    ok += s.exchange("blob2text", v.blob2text, store);
    ok += s.exchange(L"dest", v.dest, store);
    ok += s.exchange("host", v.host, store);
    ok += s.exchange("inc_fnames", v.inc_fnames, store);
    ok += s.exchange("n_comma", v.n_comma, store);
    ok += s.exchange("port", v.port, store);
    ok += s.exchange("pswd", v.pswd, store);
    ok += s.exchange(L"src", v.src, store);
    ok += s.exchange("user", v.user, store);
    return ok;
}

TEST_F(RegistryTest, RoundTripKeepsEveryValueAndTheStoreIsPrivate) {
    settings out;
    out.blob2text = true;
    out.dest = L"/home/\u00E9l\u00E8ve/\u30C7\u30FC\u30BF \U0001F600";
    out.host = "db.example";
    out.inc_fnames = false;
    out.n_comma = 2;
    out.port = "3307";
    out.pswd = "p\\a=ss\nwo\r\nrd\t#";
    out.src = L"shop\\db";
    out.user = " spaced user ";
    {
        tk_serializer s(key_path);
        uint32_t disposition = 0;
        ASSERT_EQ(s.key().create(tk_hkey_current_user(), key_path, nullptr, 0, tk_key_all_access,
                                 nullptr, &disposition),
                  0u);
        EXPECT_EQ(disposition, tk_reg_created_new_key);
        EXPECT_EQ(s.key().file(), key_file);
        EXPECT_EQ(exchange_all(s, out, true), 9);
    }

    settings in;
    tk_serializer s(key_path);
    uint32_t disposition = 0;
    ASSERT_EQ(s.key().create(tk_hkey_current_user(), key_path, nullptr, 0, tk_key_all_access,
                             nullptr, &disposition),
              0u);
    EXPECT_EQ(disposition, tk_reg_opened_existing_key);
    EXPECT_EQ(exchange_all(s, in, false), 9);
    EXPECT_EQ(in.blob2text, out.blob2text);
    EXPECT_EQ(in.dest, out.dest);
    EXPECT_EQ(in.host, out.host);
    EXPECT_EQ(in.inc_fnames, out.inc_fnames);
    EXPECT_EQ(in.n_comma, out.n_comma);
    EXPECT_EQ(in.port, out.port);
    EXPECT_EQ(in.pswd, out.pswd);
    EXPECT_EQ(in.src, out.src);
    EXPECT_EQ(in.user, out.user);

    EXPECT_EQ(mode_of(key_file), 0600u);
    for (const char* folder : {"", "/Software", "/Software/Vantorel"})
        EXPECT_EQ(mode_of(config + folder), 0700u) << folder;
}

TEST_F(RegistryTest, TextValuesNeverReachTheFileRaw) {
    tk_serializer s(key_path);
    ASSERT_EQ(s.open_key(), 0u);
    std::string tricky = "line1\nline2\r\nback\\slash\x01";
    std::wstring wtricky = L"a\nb\\n=\u00FC";
    std::string bad_utf8 = "\xC3(\xFF";
    ASSERT_TRUE(s.exchange("a", tricky, true));
    ASSERT_TRUE(s.exchange(L"b=c\nd", wtricky, true));
    ASSERT_TRUE(s.exchange("c", bad_utf8, true));

    std::string text = read_file(key_file);
    // A header line and one line per value, nothing else.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find('\x01'), std::string::npos);
    EXPECT_NE(text.find("text a=line1\\nline2\\r\\nback\\\\slash\\x01\n"), std::string::npos) << text;
    EXPECT_NE(text.find("text b\\=c\\nd=a\\nb\\\\n=\xC3\xBC\n"), std::string::npos) << text;
    EXPECT_NE(text.find("text c=\\xC3(\\xFF\n"), std::string::npos) << text;

    std::string a, c;
    std::wstring b;
    ASSERT_TRUE(s.exchange("a", a, false));
    ASSERT_TRUE(s.exchange(L"b=c\nd", b, false));
    ASSERT_TRUE(s.exchange("c", c, false));
    EXPECT_EQ(a, tricky);
    EXPECT_EQ(b, wtricky);
    EXPECT_EQ(c, bad_utf8);
}

TEST_F(RegistryTest, ValueOfAnotherTypeReadsAsMissing) {
    tk_serializer s(key_path);
    ASSERT_EQ(s.open_key(), 0u);
    uint32_t number = 5;
    std::string text = "text";
    ASSERT_TRUE(s.exchange("number", number, true));
    ASSERT_TRUE(s.exchange("text", text, true));

    std::string as_text = "keep";
    std::wstring as_wide = L"keep";
    EXPECT_FALSE(s.exchange("number", as_text, false));
    EXPECT_FALSE(s.exchange(L"number", as_wide, false));
    EXPECT_EQ(as_text, "keep");
    EXPECT_EQ(as_wide, L"keep");

    uint32_t as_number = 77;
    bool as_bool = false;
    EXPECT_FALSE(s.exchange("text", as_number, false));
    EXPECT_FALSE(s.exchange("text", as_bool, false));
    EXPECT_EQ(as_number, 77u);
    EXPECT_FALSE(as_bool);

    char buf[16];
    uint32_t size = sizeof buf;
    EXPECT_EQ(s.key().get_value(buf, "number", &size), static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(s.key().get_value(as_number, "absent"), static_cast<uint32_t>(ENOENT));
}

TEST_F(RegistryTest, BoolReadsAnyNonZeroNumberAsTrue) {
    tk_serializer s(key_path);
    ASSERT_EQ(s.open_key(), 0u);
    for (uint32_t stored : {0u, 1u, 7u, 0xFFFFFFFFu}) {
        ASSERT_EQ(s.key().set_value(stored, "flag"), 0u);
        bool flag = stored == 0;
        ASSERT_TRUE(s.exchange("flag", flag, false));
        EXPECT_EQ(flag, stored != 0) << stored;
    }
    bool yes = true;
    ASSERT_TRUE(s.exchange("flag", yes, true));
    uint32_t raw = 0;
    ASSERT_EQ(s.key().get_value(raw, "flag"), 0u);
    EXPECT_EQ(raw, 1u);
}

TEST_F(RegistryTest, UnopenedOrUnopenableKeyExchangesNothing) {
    // The configuration folder's place is taken by a file: the key cannot be made.
    write_file(config, "not a folder");
    tk_serializer broken(key_path);
    EXPECT_EQ(broken.open_key(), static_cast<uint32_t>(ENOTDIR));
    tk_serializer never_opened(key_path);

    for (tk_serializer* s : {&broken, &never_opened}) {
        EXPECT_FALSE(s->is_open());
        for (bool store : {false, true}) {
            settings v;
            v.host = "h";
            v.dest = L"d";
            EXPECT_EQ(exchange_all(*s, v, store), 0);
            EXPECT_EQ(v.host, "h");
            EXPECT_EQ(v.dest, L"d");
            EXPECT_EQ(v.port, "3306");
            EXPECT_EQ(v.n_comma, 1u);
            EXPECT_TRUE(v.inc_fnames);
        }
    }
    EXPECT_EQ(read_file(config), "not a folder");
}

TEST_F(RegistryTest, ChangeReplacesTheFileAtomically) {
    tk_serializer s(key_path);
    ASSERT_EQ(s.open_key(), 0u);
    std::string first = "first";
    ASSERT_TRUE(s.exchange("host", first, true));
    std::string before = read_file(key_file);

    // A reader that opened the file before the change keeps a whole old file.
    int old_fd = ::open(key_file.c_str(), O_RDONLY);
    ASSERT_GE(old_fd, 0);
    struct stat st_before {};
    ASSERT_EQ(::fstat(old_fd, &st_before), 0);

    std::string second = "second";
    ASSERT_TRUE(s.exchange("host", second, true));
    uint32_t port = 3306;
    ASSERT_TRUE(s.exchange("port", port, true));

    std::string old_text(4096, '\0');
    ssize_t n = ::pread(old_fd, old_text.data(), old_text.size(), 0);
    ::close(old_fd);
    ASSERT_GE(n, 0);
    old_text.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(old_text, before);

    struct stat st_after {};
    ASSERT_EQ(::stat(key_file.c_str(), &st_after), 0);
    EXPECT_NE(st_after.st_ino, st_before.st_ino);
    EXPECT_EQ(st_after.st_mode & 07777, 0600u);

    std::string now;
    ASSERT_TRUE(s.exchange("host", now, false));
    EXPECT_EQ(now, "second");
    // No temporary file is left beside the key.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(config + "/Software/Vantorel"))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"Fennrow.reg"});
}

TEST_F(RegistryTest, WriteMakesALooseFilePrivate) {
    fs::create_directories(config + "/Software/Vantorel");
    write_file(key_file, "u32 n_comma=2\n");
    ASSERT_EQ(::chmod(key_file.c_str(), 0644), 0);
    tk_serializer s(key_path);
    uint32_t disposition = 0;
    ASSERT_EQ(s.key().create(tk_hkey_current_user(), key_path, nullptr, 0, tk_key_all_access,
                             nullptr, &disposition),
              0u);
    EXPECT_EQ(disposition, tk_reg_opened_existing_key);
    std::string pswd = "secret";
    ASSERT_TRUE(s.exchange("pswd", pswd, true));
    EXPECT_EQ(mode_of(key_file), 0600u);
    uint32_t n_comma = 0;
    ASSERT_TRUE(s.exchange("n_comma", n_comma, false));
    EXPECT_EQ(n_comma, 2u);
}

TEST_F(RegistryTest, ReadsAreBoundedByTheStoredSize) {
    tk_reg_key key;
    ASSERT_EQ(key.create(tk_hkey_current_user(), key_path), 0u);
    ASSERT_EQ(key.set_value("hello", "n"), 0u);
    ASSERT_EQ(key.set_value(L"h\u00E9", L"w"), 0u);

    uint32_t size = 0;
    ASSERT_EQ(key.get_value(static_cast<char*>(nullptr), "n", &size), 0u);
    EXPECT_EQ(size, 6u);
    char small[8];
    std::memset(small, '#', sizeof small);
    size = 5;
    EXPECT_EQ(key.get_value(small, "n", &size), static_cast<uint32_t>(ERANGE));
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(small[0], '#');  // nothing written past the caller's size
    size = sizeof small;
    ASSERT_EQ(key.get_value(small, "n", &size), 0u);
    EXPECT_EQ(size, 6u);
    EXPECT_STREQ(small, "hello");
    EXPECT_EQ(small[6], '#');

    size = 0;
    ASSERT_EQ(key.get_value(static_cast<wchar_t*>(nullptr), L"w", &size), 0u);
    EXPECT_EQ(size, 3 * sizeof(wchar_t));
    wchar_t wide[4] = {L'#', L'#', L'#', L'#'};
    size = 2 * sizeof(wchar_t);
    EXPECT_EQ(key.get_value(wide, L"w", &size), static_cast<uint32_t>(ERANGE));
    EXPECT_EQ(wide[0], L'#');
    size = sizeof wide;
    ASSERT_EQ(key.get_value(wide, L"w", &size), 0u);
    EXPECT_EQ(std::wstring(wide), L"h\u00E9");
    EXPECT_EQ(wide[3], L'#');

    // A stored empty text is a value: it reads as empty, the variable changes.
    ASSERT_EQ(key.set_value("", "empty"), 0u);
    size = 0;
    ASSERT_EQ(key.get_value(static_cast<char*>(nullptr), "empty", &size), 0u);
    EXPECT_EQ(size, 1u);
}

TEST_F(RegistryTest, NamesIgnoreCaseAndOneValueHasOneLine) {
    tk_serializer s(key_path);
    ASSERT_EQ(s.open_key(), 0u);
    std::string a = "one", b = "two";
    ASSERT_TRUE(s.exchange("Host", a, true));
    ASSERT_TRUE(s.exchange("HOST", b, true));
    std::wstring w = L"\u00C9t\u00E9";
    ASSERT_TRUE(s.exchange(L"\u00C9T\u00C9", w, true));
    std::wstring back;
    ASSERT_TRUE(s.exchange(L"\u00E9t\u00E9", back, false));
    EXPECT_EQ(back, w);
    std::string got;
    ASSERT_TRUE(s.exchange("host", got, false));
    EXPECT_EQ(got, "two");
    std::string text = read_file(key_file);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text;
    EXPECT_NE(text.find("text Host=two\n"), std::string::npos) << text;
}

TEST_F(RegistryTest, NumbersAndNamesDoNotDependOnTheLocale) {
    struct locale_guard {
        std::string saved = std::setlocale(LC_ALL, nullptr);
        ~locale_guard() { std::setlocale(LC_ALL, saved.c_str()); }
    } guard;
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    {
        tk_serializer s(key_path);
        ASSERT_EQ(s.open_key(), 0u);
        uint32_t big = 4000000000u;
        std::wstring w = L"Stra\u00DFe";
        ASSERT_TRUE(s.exchange("big", big, true));
        ASSERT_TRUE(s.exchange(L"\u00C4nderung", w, true));
        uint32_t back = 0;
        std::wstring wback;
        EXPECT_TRUE(s.exchange("BIG", back, false));
        EXPECT_TRUE(s.exchange(L"\u00E4nderung", wback, false));
        EXPECT_EQ(back, big);
        EXPECT_EQ(wback, w);
        EXPECT_NE(read_file(key_file).find("u32 big=4000000000\n"), std::string::npos);
    }
}

TEST_F(RegistryTest, LinesThatCannotBeReadAreMissingValues) {
    fs::create_directories(config + "/Software/Vantorel");
    write_file(key_file,
               "# hand edited\r\n"
               "u32 good=42\r\n"
               "u32 big=4294967296\n"
               "u32 neg=-1\n"
               "u32 hex=0x10\n"
               "u32 spaced= 5\n"
               "text esc=bad\\q\n"
               "text cut=\\x4\n"
               "text zero=a\\x00b\n"
               "bool other=1\n"
               "garbage\n"
               "text ok=v\\x41\\=\\\\\n");
    tk_serializer s(key_path);
    ASSERT_EQ(s.open_key(), 0u);
    uint32_t n = 0;
    ASSERT_TRUE(s.exchange("good", n, false));
    EXPECT_EQ(n, 42u);
    for (const char* name : {"big", "neg", "hex", "spaced", "other"}) {
        uint32_t v = 9;
        EXPECT_FALSE(s.exchange(name, v, false)) << name;
        EXPECT_EQ(v, 9u);
    }
    for (const char* name : {"esc", "cut", "zero", "garbage"}) {
        std::string v = "keep";
        EXPECT_FALSE(s.exchange(name, v, false)) << name;
        EXPECT_EQ(v, "keep");
    }
    std::string ok;
    ASSERT_TRUE(s.exchange("ok", ok, false));
    EXPECT_EQ(ok, "vA=\\");
}

TEST_F(RegistryTest, WithoutXdgConfigHomeTheStoreIsUnderHome) {
    std::string home = dir + "/home";
    ASSERT_TRUE(fs::create_directory(home));
    setenv("HOME", home.c_str(), 1);
    for (const char* xdg : {static_cast<const char*>(nullptr), "", "relative/dir"}) {
        if (xdg) setenv("XDG_CONFIG_HOME", xdg, 1);
        else unsetenv("XDG_CONFIG_HOME");
        tk_serializer s(key_path);
        ASSERT_EQ(s.open_key(), 0u);
        EXPECT_EQ(s.key().file(), home + "/.config/Software/Vantorel/Fennrow.reg");
    }
    EXPECT_EQ(mode_of(home + "/.config"), 0700u);
}

TEST_F(RegistryTest, KeyPathsThatNameNoFileAreRefused) {
    for (const char* bad : {"", "Software\\\\Fennrow", "\\Software", "Software\\", "Software\\..\\x",
                            "Software\\.", "Soft/ware"}) {
        tk_reg_key key;
        EXPECT_EQ(key.create(tk_hkey_current_user(), bad), static_cast<uint32_t>(EINVAL)) << bad;
        EXPECT_FALSE(key.is_open());
    }
    EXPECT_FALSE(fs::exists(config));
}

TEST_F(RegistryTest, CreateReplacesTheOpenKeyOnlyOnSuccess) {
    tk_reg_key key;
    ASSERT_EQ(key.create(tk_hkey_current_user(), "Software\\A"), 0u);
    ASSERT_EQ(key.set_value(1u, "x"), 0u);
    EXPECT_EQ(key.create(tk_hkey_current_user(), "Bad\\..\\Key"), static_cast<uint32_t>(EINVAL));
    ASSERT_TRUE(key.is_open());
    EXPECT_EQ(key.file(), config + "/Software/A.reg");
    ASSERT_EQ(key.create(tk_hkey_current_user(), "Software\\B"), 0u);
    uint32_t v = 0;
    EXPECT_EQ(key.get_value(v, "x"), static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(key.close(), 0u);
    EXPECT_EQ(key.close(), 0u);
    EXPECT_EQ(key.get_value(v, "x"), static_cast<uint32_t>(EBADF));
}

struct assertion_case {
    const char* what;
    uint32_t line;
    std::function<void(tk_reg_key& open, tk_reg_key& closed)> call;
};

TEST_F(RegistryTest, MisusedKeyRaisesItsAssertions) {
    char buf[8];
    wchar_t wbuf[8];
    uint32_t size = sizeof buf;
    uint32_t number = 0;
    const assertion_case cases[] = {
        {"create without root", 64, [](tk_reg_key& k, tk_reg_key&) { k.create(nullptr, "Software\\X"); }},
        {"u32 read without name", 98, [&](tk_reg_key& k, tk_reg_key&) { k.get_value(number, nullptr); }},
        {"narrow read without size", 115, [&](tk_reg_key& k, tk_reg_key&) { k.get_value(buf, "n", nullptr); }},
        {"narrow read without name", 116,
         [&](tk_reg_key& k, tk_reg_key&) { k.get_value(buf, static_cast<const char*>(nullptr), &size); }},
        {"wide read without size", 132, [&](tk_reg_key& k, tk_reg_key&) { k.get_value(wbuf, L"n", nullptr); }},
        {"wide read without name", 133,
         [&](tk_reg_key& k, tk_reg_key&) { k.get_value(wbuf, static_cast<const wchar_t*>(nullptr), &size); }},
        {"u32 write on closed key", 149, [](tk_reg_key&, tk_reg_key& c) { c.set_value(1u, "n"); }},
        {"narrow write without text", 156,
         [](tk_reg_key& k, tk_reg_key&) { k.set_value(static_cast<const char*>(nullptr), "n"); }},
        {"narrow write on closed key", 157, [](tk_reg_key&, tk_reg_key& c) { c.set_value("t", "n"); }},
        {"wide write without text", 164,
         [](tk_reg_key& k, tk_reg_key&) { k.set_value(static_cast<const wchar_t*>(nullptr), L"n"); }},
        {"wide write on closed key", 165, [](tk_reg_key&, tk_reg_key& c) { c.set_value(L"t", L"n"); }},
    };
    tk_reg_key open, closed;
    ASSERT_EQ(open.create(tk_hkey_current_user(), key_path), 0u);
    for (const auto& c : cases) {
        try {
            c.call(open, closed);
            ADD_FAILURE() << c.what << ": no assertion";
        } catch (const tk_mail_assertion& e) {
            EXPECT_EQ(e.message(), make_err_meggase("tk_regk", c.line)) << c.what;
            EXPECT_EQ(e.level(), 2u);
        }
    }
}

}  // namespace
