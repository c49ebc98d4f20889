#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "tk_excep.h"
#include "tk_log.h"
#include "udb_conv.h"
#include "udb_prof.h"
#include "utf8.h"

namespace {

struct test_converter : udb_converter {
    bool check_query(const std::wstring&) override { return true; }
};

using entries = std::vector<udb_converter::name_query>;

class ConverterProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/fennrow-conv-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/p.kvr";
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    // Loads the text as a profile file into conv.
    void load_text(udb_converter& conv, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
        udb_profile p;
        ASSERT_TRUE(p.load(plat::utf8_decode(path)));
        ASSERT_TRUE(conv.load_profile(p));
    }

    std::string dir, path;
};

TEST(ConverterFields, FreshConverter) {
    test_converter c;
    EXPECT_EQ(c.mode, 0);
    EXPECT_FALSE(c.definitions_only);
    EXPECT_FALSE(c.skip_indexes);
    EXPECT_EQ(c.progress.table_count, 0u);
    EXPECT_EQ(c.progress.record_count, 0u);
    EXPECT_EQ(c.progress.current_table.get(), L"");
    EXPECT_TRUE(c.table_queries.empty());
    c.set_mode(2);
    EXPECT_EQ(c.mode, 2);
}

struct generic_case {
    const char* name;
    std::string lines;  // after the section line
    int mode;
    bool definitions_only;
    bool skip_indexes;
};

class GenericSettings : public ConverterProfileTest, public ::testing::WithParamInterface<generic_case> {};

// Every case starts from mode 1, definitions only on, skip indexes off.
TEST_P(GenericSettings, AreReadAsTheTableSays) {
    const generic_case& c = GetParam();
    test_converter conv;
    conv.mode = 1;
    conv.definitions_only = true;
    load_text(conv, "[Generic settings]\r\n" + c.lines);
    EXPECT_EQ(conv.mode, c.mode);
    EXPECT_EQ(conv.definitions_only, c.definitions_only);
    EXPECT_EQ(conv.skip_indexes, c.skip_indexes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GenericSettings,
    ::testing::Values(generic_case{"Nothing", "", 1, true, false},
                      generic_case{"Mode2", "mode=2\r\n", 2, true, false},
                      generic_case{"Mode0", "mode=0\r\n", 0, true, false},
                      generic_case{"EmptyModeKeeps", "mode=\r\n", 1, true, false},
                      generic_case{"EmptyFlagKeeps", "only definitions=\r\nskip indexes=\r\n", 1, true, false},
                      generic_case{"ZeroClears", "only definitions=0\r\n", 1, false, false},
                      generic_case{"AnyOtherTextSets", "only definitions=no\r\nskip indexes=no\r\n", 1, true, true},
                      generic_case{"OneSets", "skip indexes=1\r\n", 1, true, true},
                      generic_case{"OtherSectionIgnored", "\r\n[generic settings]\r\nmode=2\r\nskip indexes=1\r\n", 1,
                                   true, false}),
    [](const ::testing::TestParamInfo<generic_case>& info) { return std::string(info.param.name); });

TEST_F(ConverterProfileTest, ModeOutOfRangeIsRefusedAndChangesNothing) {
    for (const char* bad : {"3", "12", "a", "-1", "/"}) {
        test_converter conv;
        conv.mode = 1;
        std::ofstream(path, std::ios::binary)
            << "[Selected Tables]\r\norders\r\n[Generic settings]\r\nsrc=shop\r\nmode=" << bad << "\r\n";
        udb_profile p;
        ASSERT_TRUE(p.load(plat::utf8_decode(path)));
        try {
            conv.load_profile(p);
            ADD_FAILURE() << "mode " << bad << " accepted";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level(), 1u);
            EXPECT_STREQ(e.what(), "Invalid merge/overwrite mode");
        }
        EXPECT_EQ(conv.mode, 1);
        EXPECT_EQ(conv.source, L"");
        EXPECT_TRUE(conv.table_queries.empty());
    }
}

TEST_F(ConverterProfileTest, ListSectionsAreAppended) {
    test_converter conv;
    conv.table_queries = {{L"first", L""}};
    load_text(conv,
              "[Selected Tables]\r\norders\r\ntop10=select * from orders limit 10\r\n\r\n"
              "[Available Queries]\r\ntop10=select * from orders limit 10\r\n\r\n"
              "[Selected Views]\r\nv_sales=\r\n\r\n");
    EXPECT_EQ(conv.table_queries,
              (entries{{L"first", L""}, {L"orders", L""}, {L"top10", L"select * from orders limit 10"}}));
    EXPECT_EQ(conv.available_queries, (entries{{L"top10", L"select * from orders limit 10"}}));
    EXPECT_EQ(conv.selected_views, (entries{{L"v_sales", L""}}));

    // A table is stored again as its name alone.
    udb_profile out;
    ASSERT_TRUE(conv.store_profile(out));
    EXPECT_NE(out.to_text().find("[Selected Tables]\r\nfirst\r\norders\r\ntop10=select * from orders limit 10\r\n\r\n"),
              std::string::npos)
        << out.to_text();
}

TEST_F(ConverterProfileTest, EmptySourceAndDestinationKeepTheFields) {
    test_converter conv;
    conv.source = L"old";
    conv.destination = L"/old";
    load_text(conv, "[Generic settings]\r\nsrc=\r\ndest=\r\n");
    EXPECT_EQ(conv.source, L"old");
    EXPECT_EQ(conv.destination, L"/old");
    load_text(conv, "[Generic settings]\r\nsrc=new\r\ndest=/new\r\n");
    EXPECT_EQ(conv.source, L"new");
    EXPECT_EQ(conv.destination, L"/new");
}

TEST_F(ConverterProfileTest, GenericSettingsAreStoredInOrder) {
    test_converter conv;
    conv.source = L"shop";
    conv.destination = L"/tmp/out";
    conv.skip_indexes = true;
    conv.mode = 2;
    udb_profile p;
    ASSERT_TRUE(conv.store_profile(p));
    EXPECT_NE(p.to_text().find("[Generic settings]\r\nsrc=shop\r\ndest=/tmp/out\r\nlogfile=\r\n"
                               "skip indexes=1\r\nonly definitions=0\r\nmode=2\r\n\r\n"),
              std::string::npos)
        << p.to_text();
}

TEST_F(ConverterProfileTest, StoreThenLoadGivesBackTheSettings) {
    test_converter a;
    a.source = L"sh\u00F6p";
    a.destination = L"/data/\u20AC exports";
    a.mode = 1;
    a.definitions_only = true;
    a.skip_indexes = false;
    a.table_queries = {{L"orders", L""}, {L"big", L"select a\r\nfrom b\nwhere c"}, {L"items", L""}};
    a.available_queries = {{L"big", L"select 1"}, {L"small", L"select 2"}};
    a.selected_views = {{L"v1", L""}};
    udb_profile p;
    ASSERT_TRUE(a.store_profile(p));
    ASSERT_TRUE(p.store(plat::utf8_decode(path)));
    EXPECT_EQ(a.table_queries.size(), 3u);  // storing leaves the lists as they are

    udb_profile q;
    ASSERT_TRUE(q.load(plat::utf8_decode(path)));
    test_converter b;
    ASSERT_TRUE(b.load_profile(q));
    EXPECT_EQ(b.source, a.source);
    EXPECT_EQ(b.destination, a.destination);
    EXPECT_EQ(b.mode, 1);
    EXPECT_TRUE(b.definitions_only);
    EXPECT_FALSE(b.skip_indexes);
    EXPECT_EQ(b.table_queries, a.table_queries);
    EXPECT_EQ(b.available_queries, a.available_queries);
    EXPECT_EQ(b.selected_views, a.selected_views);
}

TEST_F(ConverterProfileTest, LogFileIsHandedToTheLogger) {
    tk_logger logger(nullptr, false, 3, false);
    test_converter conv;
    std::string log = dir + "/run.log";
    load_text(conv, "[Generic settings]\r\nlogfile=" + log + "\r\n");
    EXPECT_EQ(conv.log_file, log);
    EXPECT_TRUE(logger.enabled);
    EXPECT_EQ(logger.path, log);

    // Stored back as it is, and a folder is refused by the logger's checks.
    udb_profile p;
    conv.store_profile(p);
    EXPECT_EQ(p.get_value(L"Generic settings", L"logfile"), plat::utf8_decode(log));
    test_converter other;
    std::ofstream(path, std::ios::binary) << "[Generic settings]\r\nlogfile=" << dir << "\r\n";
    udb_profile bad;
    ASSERT_TRUE(bad.load(plat::utf8_decode(path)));
    EXPECT_THROW(other.load_profile(bad), tk_exception);
}

}  // namespace
