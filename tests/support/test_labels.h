// A test's CTest label, decided by marks beside its own fixture (or its suite
// of TEST()s) instead of lists kept elsewhere:
//   FENNROW_SERVER_TESTS(fixture);             the tests need the server
//   FENNROW_SERVER_WIDE_TESTS(fixture);        ... and change a server-wide
//                                              setting: CTest runs them alone
//   FENNROW_SERVER_WIDE_TEST(fixture, test);   one test of a server fixture does
//   FENNROW_SERVER_WIDE_PARAMS(fixture, end);  the instances whose parameter
//                                              name ends so do
// An unmarked test is a unit test: it runs with FENNROW_TEST_SERVER empty, so
// one that reaches for the server fails; one that changes a server-wide
// setting without its mark fails too (global_setting_scope checks it).
// CTest's discovery lists each label through the test program: a filter
// "fennrow-label:unit" (or "server", "server_wide") selects its tests.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace fennrow_test {

enum class test_label { unit, server, server_wide };

struct label_mark {
    std::string fixture;    // a fixture, or the suite name of TEST()s
    std::string test;       // empty: every test of the fixture
    std::string param_end;  // empty: every instance
    test_label label;
};

inline std::vector<label_mark>& label_marks() {
    static std::vector<label_mark> marks;
    return marks;
}

inline bool add_label_mark(label_mark mark) {
    label_marks().push_back(std::move(mark));
    return true;
}

inline const char* label_name(test_label label) {
    switch (label) {
    case test_label::unit: return "unit";
    case test_label::server: return "server";
    case test_label::server_wide: return "server_wide";
    }
    return "unit";
}

// The label of a test by its GoogleTest names: the suite ("Fixture",
// "Prefix/Fixture" or "Fixture/0") and the test ("Name" or "Name/param").
inline test_label label_of(const std::string& suite, const std::string& name) {
    std::vector<std::string> parts;
    for (size_t at = 0;;) {
        const size_t slash = suite.find('/', at);
        parts.push_back(suite.substr(at, slash == std::string::npos ? std::string::npos : slash - at));
        if (slash == std::string::npos) break;
        at = slash + 1;
    }
    const size_t slash = name.find('/');
    const std::string test = name.substr(0, slash);
    const std::string param = slash == std::string::npos ? std::string() : name.substr(slash + 1);
    test_label label = test_label::unit;
    for (const label_mark& m : label_marks()) {
        if (std::find(parts.begin(), parts.end(), m.fixture) == parts.end()) continue;
        if (!m.test.empty() && m.test != test) continue;
        if (!m.param_end.empty() &&
            (param.size() < m.param_end.size() ||
             param.compare(param.size() - m.param_end.size(), m.param_end.size(), m.param_end) != 0))
            continue;
        label = std::max(label, m.label);
    }
    return label;
}

// The label of the test running now (unit outside a test).
inline test_label current_test_label() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info ? label_of(info->test_suite_name(), info->name()) : test_label::unit;
}

// Turns a filter "fennrow-label:NAME" into the list of the tests of that
// label. Called after InitGoogleTest.
inline void apply_label_filter() {
    const std::string key = "fennrow-label:";
    const std::string filter = GTEST_FLAG_GET(filter);
    if (filter.rfind(key, 0) != 0) return;
    const std::string wanted = filter.substr(key.size());
    if (wanted != "unit" && wanted != "server" && wanted != "server_wide") {
        std::fprintf(stderr, "unknown test label '%s'\n", wanted.c_str());
        std::exit(2);
    }
    std::string selected;
    const ::testing::UnitTest& all = *::testing::UnitTest::GetInstance();
    for (int i = 0; i < all.total_test_suite_count(); ++i) {
        const ::testing::TestSuite& suite = *all.GetTestSuite(i);
        for (int j = 0; j < suite.total_test_count(); ++j) {
            const ::testing::TestInfo& test = *suite.GetTestInfo(j);
            if (wanted != label_name(label_of(suite.name(), test.name()))) continue;
            if (!selected.empty()) selected += ':';
            selected += std::string(suite.name()) + "." + test.name();
        }
    }
    // "-*" selects nothing.
    GTEST_FLAG_SET(filter, selected.empty() ? std::string("-*") : selected);
}

}  // namespace fennrow_test

#define FENNROW_LABEL_JOIN2(a, b) a##b
#define FENNROW_LABEL_JOIN(a, b) FENNROW_LABEL_JOIN2(a, b)
#define FENNROW_LABEL_MARK(fixture, test, param_end, label)                          \
    [[maybe_unused]] static const bool FENNROW_LABEL_JOIN(fennrow_label_mark_, __COUNTER__) = \
        ::fennrow_test::add_label_mark({#fixture, test, param_end, ::fennrow_test::test_label::label})
#define FENNROW_SERVER_TESTS(fixture) FENNROW_LABEL_MARK(fixture, "", "", server)
#define FENNROW_SERVER_WIDE_TESTS(fixture) FENNROW_LABEL_MARK(fixture, "", "", server_wide)
#define FENNROW_SERVER_WIDE_TEST(fixture, test) FENNROW_LABEL_MARK(fixture, #test, "", server_wide)
#define FENNROW_SERVER_WIDE_PARAMS(fixture, param_end) FENNROW_LABEL_MARK(fixture, "", param_end, server_wide)
