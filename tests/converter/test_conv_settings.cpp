// Converter settings: defaults, the port rule, connection settings, the
// registry and settings profiles.
#include <clocale>
#include <cstdlib>
#include <optional>
#include <tuple>

#include "conv_test_util.h"
#include "param_names.h"
#include "tk_log.h"
#include "tk_regk.h"
#include "udb_prof.h"

namespace {

using conv_test::read_file;
using conv_test::temp_dir;

// Points XDG_CONFIG_HOME at a temporary folder for the test's life.
class temp_config_home {
public:
    temp_config_home() {
        if (const char* v = std::getenv("XDG_CONFIG_HOME")) saved_ = v;
        ::setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
    }
    ~temp_config_home() {
        if (saved_)
            ::setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }
    std::string key_file() const { return dir_.path() + "/Software/Vantorel/Fennrow.reg"; }

private:
    temp_dir dir_;
    std::optional<std::string> saved_;
};

FENNROW_SERVER_TESTS(ConverterSettings);

TEST(ConverterSettings, FreshConverterHasTheDefaults) {
    temp_config_home home;  // no key: the wizard starts from the defaults too
    for (kellvar_program program : {kellvar_program::console, kellvar_program::gui}) {
        conv_test::recording_handler c_handler;
        kellvar_converter c(program, c_handler);
        EXPECT_EQ(c.mode, 0);
        EXPECT_TRUE(c.include_field_names);
        EXPECT_EQ(c.delimiter_index, 1u);
        EXPECT_EQ(c.port, "3306");
        EXPECT_FALSE(c.blob2text);
        EXPECT_FALSE(c.definitions_only);
        EXPECT_FALSE(c.done.load());
        EXPECT_EQ(c.errors_reported.load(), 0u);
        EXPECT_EQ(c.console_run, program == kellvar_program::console);
        EXPECT_EQ(c.remember_settings, program == kellvar_program::gui);
    }
}

TEST(ConverterSettings, SecondConverterOrHandlerIsRefused) {
    conv_test::recording_handler handler;
    auto first = std::make_unique<kellvar_converter>(kellvar_program::console, handler);
    EXPECT_EQ(&first->handler(), &handler);
    EXPECT_THROW(kellvar_converter(kellvar_program::console, handler), tk_mail_assertion);
    EXPECT_EQ(kellvar_converter::peek(), first.get());
    // A second handler is no longer ignored in silence.
    EXPECT_THROW(conv_test::recording_handler(), tk_mail_assertion);
    EXPECT_EQ(error_handler::peek(), &handler);
    first.reset();
    EXPECT_EQ(kellvar_converter::peek(), nullptr);
}

struct port_case {
    const char* text;
    int32_t number;  // 0: "Invalid port number"
};

std::ostream& operator<<(std::ostream& os, const port_case& c) { return os << "'" << c.text << "'"; }

const port_case port_cases[] = {
    {"3306", 3306},   {"  3306", 3306}, {"\t80", 80},      {"3306abc", 3306}, {"1", 1},
    {"65535", 65535}, {"00080", 80},    {"3306 ", 3306},   {"65536", 0},      {"0", 0},
    {"000", 0},       {"", 0},          {"abc", 0},        {"-1", 0},         {"+3306", 0},
    {"99999999999999999999", 0},        {" ", 0},          {"x3306", 0},
};

class PortRule : public ::testing::TestWithParam<port_case> {};

TEST_P(PortRule, ReadsLeadingDigitsFrom1To65535) {
    const port_case& c = GetParam();
    EXPECT_EQ(mysql_converter_impl::parse_port(c.text), c.number) << "port text '" << c.text << "'";
}

TEST(ConverterSettings, ConnectRefusesABadPortBeforeTryingTheServer) {
    for (const port_case& c : port_cases) {
        if (c.number != 0) continue;
        conv_test::recording_handler conv_handler;
        kellvar_converter conv(kellvar_program::console, conv_handler);
        conv.port = c.text;  // set as it stands: even a blank text reaches the rule
        try {
            conv.connect_mysql_server();
            ADD_FAILURE() << "no exception for port '" << c.text << "'";
        } catch (const tk_exception& e) {
            EXPECT_STREQ(e.what(), "Invalid port number") << c.text;
            EXPECT_EQ(e.level(), 1u);
        }
        EXPECT_FALSE(conv.engine.is_connected());
    }
}

TEST(ConverterSettings, PortRuleIgnoresTheUserLocale) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    EXPECT_EQ(mysql_converter_impl::parse_port(" 3306"), 3306);
    EXPECT_EQ(mysql_converter_impl::parse_port("3.306"), 3);
    std::setlocale(LC_ALL, saved.c_str());
}

INSTANTIATE_TEST_SUITE_P(Table, PortRule, ::testing::ValuesIn(port_cases),
                         [](const auto& info) { return test_names::indexed(info.index, info.param.text); });

TEST(ConverterSettings, StoreMysqlSettingsTrimsAndDefaultsThePort) {
    conv_test::recording_handler conv_handler;
    kellvar_converter conv(kellvar_program::console, conv_handler);
    conv.store_mysql_settings("  db.example ", " user  ", " pass word ", " 3307 ");
    EXPECT_EQ(conv.host, "db.example");
    EXPECT_EQ(conv.user, "user");
    EXPECT_EQ(conv.password, "pass word");
    EXPECT_EQ(conv.port, "3307");
    conv.store_mysql_settings("h", "u", "p", "   ");
    EXPECT_EQ(conv.port, "3306");
    conv.store_mysql_settings("", "", "", "");
    EXPECT_EQ(conv.host, "");
    EXPECT_EQ(conv.port, "3306");
}

TEST(ConverterSettings, RegistryRoundTrip) {
    temp_config_home home;
    {
        conv_test::recording_handler conv_handler;
        kellvar_converter conv(kellvar_program::gui, conv_handler);
        conv.host = "db.example";
        conv.user = "Jörg";
        conv.password = "pw=1\\2";
        conv.port = "3307";
        conv.source = L"Lager_ü";
        conv.destination = L"/tmp/some folder/out";
        conv.delimiter_index = 2;
        conv.include_field_names = false;
        conv.blob2text = true;
    }  // stored when destroyed
    ASSERT_TRUE(conv_test::exists(home.key_file()));
    conv_test::recording_handler again_handler;
    kellvar_converter again(kellvar_program::gui, again_handler);
    EXPECT_EQ(again.host, "db.example");
    EXPECT_EQ(again.user, "Jörg");
    EXPECT_EQ(again.password, "pw=1\\2");
    EXPECT_EQ(again.port, "3307");
    EXPECT_EQ(again.source, L"Lager_ü");
    EXPECT_EQ(again.destination, L"/tmp/some folder/out");
    EXPECT_EQ(again.delimiter_index, 2u);
    EXPECT_FALSE(again.include_field_names);
    EXPECT_TRUE(again.blob2text);
}

TEST(ConverterSettings, RegistryDelimiterOutOfRangeReadsAsDefault) {
    temp_config_home home;
    {
        tk_reg_key key;
        ASSERT_EQ(key.create(tk_hkey_current_user(), kellvar_registry_key), 0u);
        ASSERT_EQ(key.set_value(7u, "n_comma"), 0u);
        ASSERT_EQ(key.set_value(0u, "inc_fnames"), 0u);
    }
    conv_test::recording_handler conv_handler;
    kellvar_converter conv(kellvar_program::gui, conv_handler);
    EXPECT_EQ(conv.delimiter_index, 1u);
    EXPECT_FALSE(conv.include_field_names);  // the other values are read
    EXPECT_EQ(conv.port, "3306");            // missing: the default
}

TEST(ConverterSettings, ConsoleConverterLeavesTheRegistryAlone) {
    temp_config_home home;
    {
        conv_test::recording_handler conv_handler;
        kellvar_converter conv(kellvar_program::console, conv_handler);
        conv.host = "somewhere";
    }
    EXPECT_FALSE(conv_test::exists(home.key_file()));
}

// A profile file's text as the converter stores it.
std::string stored_profile(kellvar_converter& conv, const temp_dir& dir, const std::string& name) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(conv.store_profile_file(tk_from_utf8(path)));
    return read_file(path);
}

TEST(ConverterProfile, StoreKeepsQueriesAndWritesEachOnOneLine) {
    temp_dir dir;
    conv_test::recording_handler handler;
    auto saved = std::make_unique<kellvar_converter>(kellvar_program::console, handler);
    kellvar_converter& conv = *saved;
    const std::wstring query = L"SELECT a\r\nFROM b\nWHERE c\rAND d";
    conv.table_queries = {{L"q1", query}, {L"t1", L""}, {L"q2", L"SELECT 1"}};
    conv.source = L"src";
    conv.destination = L"/tmp/out";
    conv.store_mysql_settings("h", "u", "p w", "3310");
    conv.include_field_names = false;
    conv.delimiter_index = 0;

    const std::string first = stored_profile(conv, dir, "a.prf");
    ASSERT_EQ(conv.table_queries.size(), 3u);
    EXPECT_EQ(conv.table_queries[0].second, query);
    // A second save writes the same file.
    EXPECT_EQ(stored_profile(conv, dir, "b.prf"), first);

    // One line per entry; the line breaks are escaped, so the file says so.
    EXPECT_EQ(first.rfind("escaped texts\r\n", 0), 0u) << first;
    EXPECT_NE(first.find("[Selected Tables]\r\nq1=SELECT a\\r\\nFROM b\\nWHERE c\\rAND d\r\nq2=SELECT 1\r\nt1\r\n"),
              std::string::npos)
        << first;
    EXPECT_NE(first.find("[CSV settings]\r\nInclude field names=0\r\nCSV delimiter=0\r\n"), std::string::npos)
        << first;
    EXPECT_NE(first.find("password=p w\r\n"), std::string::npos) << first;

    // One converter at a time.
    saved.reset();
    kellvar_converter loaded(kellvar_program::console, handler);
    ASSERT_TRUE(loaded.load_profile_file(tk_from_utf8(dir.file("a.prf"))));
    const std::vector<udb_converter::name_query> want = {
        {L"q1", query}, {L"q2", L"SELECT 1"}, {L"t1", L""}};
    EXPECT_EQ(loaded.table_queries, want);
    EXPECT_EQ(loaded.source, L"src");
    EXPECT_EQ(loaded.destination, L"/tmp/out");
    EXPECT_EQ(loaded.host, "h");
    EXPECT_EQ(loaded.user, "u");
    EXPECT_EQ(loaded.password, "p w");
    EXPECT_EQ(loaded.port, "3310");
    EXPECT_FALSE(loaded.include_field_names);
    EXPECT_EQ(loaded.delimiter_index, 0u);
}

udb_profile profile_with(const std::vector<std::tuple<std::wstring, std::wstring, std::wstring>>& values) {
    udb_profile p;
    for (const auto& [section, key, value] : values) p.set_value(section, key, value);
    return p;
}

struct delimiter_case {
    const wchar_t* text;
    int index;  // -1: refused
};

std::ostream& operator<<(std::ostream& os, const delimiter_case& c) { return os << "'" << tk_to_utf8(c.text) << "'"; }

const delimiter_case delimiter_cases[] = {
    {L"0", 0}, {L"1", 1}, {L"2", 2}, {L" 2", 2}, {L"2x", 2}, {L"3", -1}, {L"-1", -1},
    {L"x", -1}, {L"12", -1}, {L"4294967298", -1},
};

class ProfileDelimiter : public ::testing::TestWithParam<delimiter_case> {};

TEST_P(ProfileDelimiter, SelectsTheTableEntryOrRefusesTheProfile) {
    const delimiter_case& c = GetParam();
    conv_test::recording_handler conv_handler;
    kellvar_converter conv(kellvar_program::console, conv_handler);
    conv.source = L"before";
    conv.delimiter_index = 1;
    const udb_profile p = profile_with({{L"CSV settings", L"CSV delimiter", c.text},
                                        {L"Generic settings", L"src", L"after"}});
    if (c.index >= 0) {
        EXPECT_TRUE(conv.load_profile(p));
        EXPECT_EQ(conv.delimiter_index, static_cast<uint32_t>(c.index));
        EXPECT_EQ(conv.source, L"after");
        return;
    }
    try {
        conv.load_profile(p);
        ADD_FAILURE() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_STREQ(e.what(), "Invalid CSV delimiter");
        EXPECT_EQ(e.level(), 1u);
    }
    EXPECT_EQ(conv.delimiter_index, 1u);
    EXPECT_EQ(conv.source, L"before");  // a refused profile changes nothing
}

INSTANTIATE_TEST_SUITE_P(Table, ProfileDelimiter, ::testing::ValuesIn(delimiter_cases),
                         [](const auto& info) { return test_names::indexed(info.index, info.param.text); });

TEST(ConverterProfile, MissingKeysKeepOrClearAsTheSectionsSay) {
    conv_test::recording_handler conv_handler;
    kellvar_converter conv(kellvar_program::console, conv_handler);
    conv.store_mysql_settings("oldhost", "olduser", "oldpw", "3311");
    conv.include_field_names = false;
    conv.delimiter_index = 2;
    conv.dump.dump_create_db = false;
    conv.dump.dump_new_version = true;
    const udb_profile p = profile_with({{L"MySQL settings", L"password", L"newpw"},
                                        {L"MySQL settings", L"dump create database", L"1"},
                                        {L"MySQL settings", L"dump new version", L"0"}});
    ASSERT_TRUE(conv.load_profile(p));
    EXPECT_EQ(conv.host, "");  // no "host" key: cleared
    EXPECT_EQ(conv.user, "olduser");
    EXPECT_EQ(conv.password, "newpw");
    EXPECT_EQ(conv.port, "3311");
    EXPECT_TRUE(conv.dump.dump_create_db);
    EXPECT_FALSE(conv.dump.dump_new_version);
    EXPECT_FALSE(conv.include_field_names);  // no "CSV settings": unchanged
    EXPECT_EQ(conv.delimiter_index, 2u);
}

TEST(ConverterProfile, MissingProfileFileThrows) {
    conv_test::recording_handler conv_handler;
    kellvar_converter conv(kellvar_program::console, conv_handler);
    EXPECT_THROW(conv.load_profile_file(L"/tmp/fn-conv-no-such-dir/none.prf"), tk_exception);
}

// The password reaches neither the log nor anything the log writes about
// settings, the registry or a connection.
TEST(ConverterSettings, PasswordNeverReachesTheLog) {
    temp_dir dir;
    temp_config_home home;
    conv_test::use_empty_home();
    const std::string log_path = dir.file("run.log");
    const fennrow_test::test_server s = fennrow_test::require_test_server();
    {
        tk_logger logger(log_path.c_str(), true, 1, false);
        conv_test::recording_handler conv_handler;
        kellvar_converter conv(kellvar_program::gui, conv_handler);
        conv.store_mysql_settings(s.host, s.user, s.password, std::to_string(s.port));
        conv.connect_mysql_server();
        conv.serialize(true);
        conv.serialize(false);
        udb_profile p;
        conv.store_profile(p);
        conv.load_profile(p);
    }
    const std::string log = read_file(log_path);
    EXPECT_NE(log.find("store_mysql_settings"), std::string::npos) << "the log was not written";
    EXPECT_EQ(log.find(s.password), std::string::npos) << log;
}

}  // namespace
