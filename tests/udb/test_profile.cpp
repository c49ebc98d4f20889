#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tk_excep.h"
#include "udb_prof.h"
#include "utf8.h"
#include "unprivileged.h"

namespace {

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

class ProfileFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/fennrow-prof-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/settings.kvr";
    }
    void TearDown() override { std::system(("chmod -R u+rwx '" + dir + "'; rm -rf '" + dir + "'").c_str()); }

    // Writes bytes to the profile path and loads them into a fresh profile.
    udb_profile load_bytes(const std::string& bytes) {
        write_bytes(path, bytes);
        udb_profile p;
        EXPECT_TRUE(p.load(wide(path)));
        return p;
    }

    std::string dir, path;
};

using entries = udb_profile::entry_list;

TEST(Profile, FreshProfileHoldsTheFourEmptySections) {
    udb_profile p;
    ASSERT_EQ(p.sections().size(), 4u);
    for (const wchar_t* name : {L"Available Queries", L"Selected Tables", L"Selected Views", L"Generic settings"}) {
        auto it = p.sections().find(name);
        ASSERT_NE(it, p.sections().end()) << plat::utf8_encode(name);
        EXPECT_TRUE(it->second.empty());
    }
    EXPECT_TRUE(p.get_selected_tables().empty());
    EXPECT_TRUE(p.get_available_queries().empty());
    EXPECT_TRUE(p.get_selected_views().empty());
}

TEST(Profile, SetValueAppendsAndGetValueReadsTheFirst) {
    udb_profile p;
    p.set_value(L"Generic settings", L"src", L"first");
    p.set_value(L"Generic settings", L"src", L"second");
    p.set_value(L"New section", L"k", L"v");
    EXPECT_EQ(p.get_value(L"Generic settings", L"src"), L"first");
    EXPECT_EQ(p.sections().at(L"Generic settings").size(), 2u);
    EXPECT_EQ(p.get_value(L"New section", L"k"), L"v");
    EXPECT_EQ(p.get_value(L"New section", L"K"), L"");
    EXPECT_EQ(p.get_value(L"Missing", L"k"), L"");
    p.add_section(L"New section");  // an existing section keeps its entries
    EXPECT_EQ(p.get_value(L"New section", L"k"), L"v");
}

TEST(Profile, StoredTextIsExact) {
    udb_profile p;
    p.set_value(L"Selected Tables", L"orders", L"");
    p.set_value(L"Selected Tables", L"top10", L"select * from t limit 10");
    p.set_value(L"Generic settings", L"src", L"shop");
    p.set_value(L"Generic settings", L"logfile", L"");
    p.set_value(L"MySQL settings", L"host", L"db.example");
    p.set_value(L"CSV settings", L"CSV delimiter", L"1");
    p.set_value(L"Available Queries", L"q", L"");
    p.set_value(L"Selected Views", L"v", L"\u00C4\u20AC");
    const std::string expected =
        "[Available Queries]\r\nq=\r\n\r\n"
        "[CSV settings]\r\nCSV delimiter=1\r\n\r\n"
        "[Generic settings]\r\nsrc=shop\r\nlogfile=\r\n\r\n"
        "[MySQL settings]\r\nhost=db.example\r\n\r\n"
        "[Selected Tables]\r\norders\r\ntop10=select * from t limit 10\r\n\r\n"
        "[Selected Views]\r\nv=\xC3\x84\xE2\x82\xAC\r\n\r\n";
    EXPECT_EQ(p.to_text(), expected);
}

// Texts that a plain line carries are written as they stand, backslashes
// included: such a profile reads as every earlier one did.
TEST(Profile, TextsThatFitTheirLineAreWrittenAsTheyStand) {
    udb_profile p;
    p.set_value(L"Selected Tables", L"t\\x", L"");
    p.set_value(L"Selected Tables", L"q", L"select 'a\\nb', \"[x]\" from t where a = 'b'");
    p.set_value(L"Generic settings", L"dest", L"C:\\data\\");
    const std::string text = p.to_text();
    EXPECT_EQ(text.rfind("[Available Queries]\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("\r\nt\\x\r\nq=select 'a\\nb', \"[x]\" from t where a = 'b'\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\ndest=C:\\data\\\r\n"), std::string::npos) << text;
}

// A text that its line would change is escaped, and the file says so first.
TEST(Profile, TextsThatDoNotFitTheirLineAreEscaped) {
    udb_profile p;
    p.set_value(L"Selected Tables", L"[sect]", L"");
    p.set_value(L"Selected Tables", L"q", L"select a -- all\r\nwhere b = '\\'\n ");
    p.set_value(L"Selected Tables", L" a=b ", L"");
    const std::string text = p.to_text();
    EXPECT_EQ(text.rfind("escaped texts\r\n[Available Queries]\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("[Selected Tables]\r\n\\[sect]\r\nq=select a -- all\\r\\nwhere b = '\\\\'\\n\\s\r\n"
                        "\\sa\\=b\\s\r\n"),
              std::string::npos)
        << text;
}

TEST_F(ProfileFileTest, StoreWritesTheTextAndLoadReadsItBack) {
    udb_profile p;
    p.set_value(L"Selected Tables", L"orders", L"");
    p.set_value(L"Selected Tables", L"q", L"select 1");
    p.set_value(L"Generic settings", L"dest", L"/data/\u00FCber");
    ASSERT_TRUE(p.store(wide(path)));
    EXPECT_EQ(read_bytes(path), p.to_text());

    udb_profile back;
    ASSERT_TRUE(back.load(wide(path)));
    EXPECT_EQ(back.get_selected_tables(), (entries{{L"orders", L""}, {L"q", L"select 1"}}));
    EXPECT_EQ(back.get_value(L"Generic settings", L"dest"), L"/data/\u00FCber");
}

TEST_F(ProfileFileTest, StoredFileIsPrivateToItsOwner) {
    udb_profile p;
    p.set_value(L"MySQL settings", L"password", L"secret");
    ASSERT_TRUE(p.store(wide(path)));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A readable existing file is replaced and made private.
    std::string other = dir + "/old.kvr";
    write_bytes(other, std::string(5000, 'x'));
    ASSERT_EQ(chmod(other.c_str(), 0644), 0);
    ASSERT_TRUE(p.store(wide(other)));
    ASSERT_EQ(stat(other.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(read_bytes(other), p.to_text());
}

TEST_F(ProfileFileTest, StoreAnswersFalseWhenNothingCanBeWritten) {
    udb_profile p;
    EXPECT_FALSE(p.store(wide(dir + "/no/such/folder/p.kvr")));
    EXPECT_FALSE(p.store(wide(dir)));  // a folder
    struct stat before {}, after {};
    ASSERT_EQ(stat("/dev/full", &before), 0);
    EXPECT_FALSE(p.store(L"/dev/full"));  // opens, but every write fails
    ASSERT_EQ(stat("/dev/full", &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);  // a device keeps its mode
    if (geteuid() != 0) {
        std::string ro = dir + "/ro";
        ASSERT_EQ(mkdir(ro.c_str(), 0500), 0);
        EXPECT_FALSE(p.store(wide(ro + "/p.kvr")));
    }
}

TEST_F(ProfileFileTest, MissingProfileIsALevelOneError) {
    for (const std::string& missing : {dir + "/none.kvr", dir}) {
        udb_profile p;
        try {
            p.load(wide(missing));
            ADD_FAILURE() << "no exception for " << missing;
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level(), 1u);
            EXPECT_STREQ(e.what(), "Profile does not exist. Please verify the correct path/name was given.");
        }
    }
}

TEST_F(ProfileFileTest, UnreadableProfileIsALevelOneErrorWithTheReason) {
    if (fennrow_test::rerun_unprivileged()) return;
    write_bytes(path, "[Generic settings]\r\nsrc=x\r\n");
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    udb_profile p;
    try {
        p.load(wide(path));
        ADD_FAILURE() << "an unreadable profile was loaded";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
        EXPECT_EQ(std::string(e.what()), "Cannot read profile " + path + ": Permission denied");
    }
}

TEST_F(ProfileFileTest, ProfileOver16MiBIsRefused) {
    for (const off_t size : {off_t(udb_profile_max_bytes), off_t(udb_profile_max_bytes) + 1}) {
        write_bytes(path, "[Generic settings]\nsrc=x\n");
        ASSERT_EQ(truncate(path.c_str(), size), 0);  // the rest is zero bytes
        udb_profile p;
        if (size == off_t(udb_profile_max_bytes)) {
            EXPECT_TRUE(p.load(wide(path)));
            EXPECT_EQ(p.get_value(L"Generic settings", L"src"), L"x");
            continue;
        }
        try {
            p.load(wide(path));
            ADD_FAILURE() << "a profile of " << size << " bytes was accepted";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level(), 1u);
            EXPECT_EQ(std::string(e.what()), "The profile " + path + " is larger than 16 MiB");
        }
    }
}

TEST_F(ProfileFileTest, LinesOutsideASectionAreRefused) {
    for (const char* text : {"src=x\r\n[Generic settings]\r\n", "\xEF\xBB\xBF orders\n[Selected Tables]\n",
                             "\n\n   \nq=1\n", "[\n[Generic settings]\n"}) {
        write_bytes(path, text);
        udb_profile p;
        try {
            p.load(wide(path));
            ADD_FAILURE() << "accepted: " << text;
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level(), 1u);
            EXPECT_EQ(std::string(e.what()).rfind("Invalid profile file", 0), 0u) << e.what();
        }
    }
}

TEST_F(ProfileFileTest, PlainLinesAreTablesAndKeptAsPlainList) {
    udb_profile p = load_bytes("[Selected Tables]\r\norders\r\ntop10=select 1\r\n  items  \r\n\r\n");
    EXPECT_EQ(p.get_selected_tables(), (entries{{L"orders", L""}, {L"top10", L"select 1"}, {L"items", L""}}));
    ASSERT_EQ(p.plain_lists().count(L"Selected Tables"), 1u);
    EXPECT_EQ(p.plain_lists().at(L"Selected Tables"), (std::vector<std::wstring>{L"orders", L"items"}));
}

TEST_F(ProfileFileTest, ARepeatedSectionGetsMoreEntries) {
    udb_profile p = load_bytes("[Selected Tables]\na\n[Generic settings]\nsrc=x\n[Selected Tables]\nb\n");
    EXPECT_EQ(p.get_selected_tables(), (entries{{L"a", L""}, {L"b", L""}}));
}

TEST_F(ProfileFileTest, VeryLongLineIsReadWhole) {
    std::wstring query = L"select '" + std::wstring(100000, L'\u00E9') + L"'";
    udb_profile p;
    p.set_value(L"Available Queries", L"big", query);
    ASSERT_TRUE(p.store(wide(path)));
    udb_profile back;
    ASSERT_TRUE(back.load(wide(path)));
    EXPECT_EQ(back.get_available_queries(), (entries{{L"big", query}}));
}

// Names and query texts of every kind survive a store and a load, in their
// order, whatever else the profile holds.
struct stored_text {
    const char* name;
    std::wstring key, value;
};

const stored_text stored_texts[] = {
    {"Plain", L"victim", L""},
    {"Brackets", L"[sect]", L""},
    {"OpeningBracket", L"[x", L""},
    {"Equals", L"a=b", L""},
    {"LeadingBlank", L" lead", L""},
    {"TrailingBlanks", L"trail  ", L""},
    {"Backslashes", L"b\\s\\n\\", L""},
    {"EscapeLookalikes", L"\\s\\=", L"\\r\\n\\[\\\\"},
    {"DashComment", L"q1", L"SELECT * FROM victim -- every row\nWHERE id = 1"},
    {"HashComment", L"q2", L"SELECT * FROM victim # every row\r\nWHERE id = 1"},
    {"QuotedLineBreaks", L"q3", L"SELECT 'a\nb', \"c\r\nd\", 'e\rf'"},
    {"OuterBlanks", L" q4 ", L"  SELECT 1  "},
    {"EqualsInBoth", L"q=5", L"SELECT 1 = 1"},
    {"BracketsInBoth", L"[q6", L"SELECT 1 AS [x]"},
    {"WholeLineInBrackets", L"[q7", L"x]"},
    {"LineBreakInName", L"q\n8", L"SELECT 8"},
    {"OnlyBlanks", L"q9", L"   "},
    {"TrailingBackslash", L"q10", L"SELECT '\\\\' \\"},
};

class ProfileRoundTrip : public ProfileFileTest, public ::testing::WithParamInterface<stored_text> {};

TEST_P(ProfileRoundTrip, EveryTextReadsBackAsStored) {
    const stored_text& c = GetParam();
    for (bool alone : {true, false}) {
        udb_profile p;
        if (!alone)
            for (const stored_text& other : stored_texts) p.set_value(L"Selected Tables", other.key, other.value);
        p.set_value(L"Selected Tables", c.key, c.value);
        p.set_value(L"Available Queries", c.key, c.value.empty() ? L"x" : c.value);
        p.set_value(L"Generic settings", L"src", c.key);
        ASSERT_TRUE(p.store(wide(path)));
        udb_profile back;
        ASSERT_TRUE(back.load(wide(path)));
        EXPECT_EQ(back.get_selected_tables(), p.get_selected_tables()) << read_bytes(path);
        EXPECT_EQ(back.get_available_queries(), p.get_available_queries()) << read_bytes(path);
        EXPECT_EQ(back.get_value(L"Generic settings", L"src"), c.key) << read_bytes(path);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, ProfileRoundTrip, ::testing::ValuesIn(stored_texts),
                         [](const ::testing::TestParamInfo<stored_text>& info) {
                             return std::string(info.param.name);
                         });

struct load_case {
    const char* name;
    std::string file;
    std::wstring section, key, value;
};

class ProfileLoadCase : public ProfileFileTest, public ::testing::WithParamInterface<load_case> {};

TEST_P(ProfileLoadCase, ReadsTheValue) {
    const load_case& c = GetParam();
    udb_profile p = load_bytes(c.file);
    EXPECT_EQ(p.get_value(c.section, c.key), c.value);
}

const std::wstring G = L"Generic settings";

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileLoadCase,
    ::testing::Values(
        load_case{"SpacesAroundEquals", "[Generic settings]\r\n  src = shop  \r\n", G, L"src", L" shop"},
        load_case{"EqualsInValue", "[Generic settings]\r\nq=a=b==c\r\n", G, L"q", L"a=b==c"},
        load_case{"EmptyValue", "[Generic settings]\r\nsrc=\r\n", G, L"src", L""},
        load_case{"LfOnly", "[Generic settings]\nsrc=x\ndest=y\n", G, L"dest", L"y"},
        load_case{"CrLf", "[Generic settings]\r\nsrc=x\r\ndest=y\r\n", G, L"dest", L"y"},
        load_case{"OnlyOneCrDropped", "[Generic settings]\r\nsrc=x\r\r\n", G, L"src", L"x\r"},
        load_case{"NoFinalLineEnd", "[Generic settings]\r\nsrc=x", G, L"src", L"x"},
        load_case{"ByteOrderMark", "\xEF\xBB\xBF[Generic settings]\r\nsrc=x\r\n", G, L"src", L"x"},
        load_case{"Utf8Value", "[Generic settings]\nsrc=\xC3\xA4\xF0\x9F\x98\x80\n", G, L"src", L"\u00E4\U0001F600"},
        load_case{"BadUtf8BecomesReplacement", "[Generic settings]\nsrc=a\xFF" "b\xC3\n", G, L"src",
                  L"a\uFFFDb\uFFFD"},
        load_case{"TabsStay", "[Generic settings]\n\tsrc=x\n", G, L"\tsrc", L"x"},
        load_case{"FirstOfTwoWins", "[Generic settings]\nsrc=1\nsrc=2\n", G, L"src", L"1"},
        load_case{"SectionNameExact", "[generic settings]\nsrc=x\n", G, L"src", L""},
        load_case{"SmallLetterSectionIsItsOwn", "[generic settings]\nsrc=x\n", L"generic settings", L"src", L"x"},
        load_case{"SpacesAroundSectionLine", "  [MySQL settings]  \nhost=h\n", L"MySQL settings", L"host", L"h"},
        // Without the mark a backslash is a backslash.
        load_case{"BackslashesAsWritten", "[Generic settings]\nq=a\\nb\\s\\=\\\\\n", G, L"q", L"a\\nb\\s\\=\\\\"},
        load_case{"MarkOnlyFirst", "[Generic settings]\nescaped texts\nq=a\\nb\n", G, L"q", L"a\\nb"},
        load_case{"MarkedEscapes", "\xEF\xBB\xBF\r\nescaped texts\r\n[Generic settings]\r\nq\\=1=a\\nb\\rc\\s\r\n", G,
                  L"q=1", L"a\nb\rc "},
        load_case{"MarkedUnknownEscapeStays", "escaped texts\n[Generic settings]\nq=a\\x\\\n", G, L"q",
                  L"a\\x\\"}),
    [](const ::testing::TestParamInfo<load_case>& info) { return std::string(info.param.name); });

TEST_F(ProfileFileTest, LoadUnderAGermanLocale) {
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    udb_profile p = load_bytes("[CSV settings]\r\nCSV delimiter=2\r\nname=\xC3\x9F\r\n");
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(p.get_value(L"CSV settings", L"CSV delimiter"), L"2");
    EXPECT_EQ(p.get_value(L"CSV settings", L"name"), L"\u00DF");
}

}  // namespace
