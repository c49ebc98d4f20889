#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "csv_format.h"
#include "csv_test_util.h"
#include "csv_util.h"
#include "tk_excep.h"
#include "udb_record.h"
#include "udb_schema.h"

using csv_test::read_bytes;
using csv_test::temp_dir;

namespace {

// Values and records -----------------------------------------------------------

ole_variant text(const std::wstring& s) {
    ole_variant v;
    v.attach_wstring(s);
    return v;
}
ole_variant i4(int32_t n) {
    ole_variant v;
    v.set_i4(n);
    return v;
}
ole_variant r8(double d) {
    ole_variant v;
    v.set_r8(d);
    return v;
}
ole_variant null_value() {
    ole_variant v;
    v.set_null();
    return v;
}

udb_record make_record(const std::vector<ole_variant>& values) {
    udb_record rec;
    for (size_t i = 0; i < values.size(); ++i)
        rec.push_back(new udb_field(L"c" + std::to_wstring(i), 0, values[i]));
    return rec;
}

udb_schema make_schema(const std::vector<std::wstring>& names) {
    udb_schema s;
    for (const auto& n : names) {
        t_ftd d;
        d.name = n;
        d.vartype = VT_BSTR;
        s.push_back(d);
    }
    return s;
}

const std::string bom = "\xEF\xBB\xBF";

// A case name for a delimiter index.
std::string delimiter_name(uint32_t index) {
    static const char* const names[] = {"pipe_plus", "semicolon", "comma"};
    return index < 3 ? names[index] : "index" + std::to_string(index);
}

// Exact bytes ---------------------------------------------------------------------

struct bytes_case {
    uint32_t delimiter;
    const char* header;
    const char* body;
};

class CsvFileBytes : public testing::TestWithParam<bytes_case> {};

TEST_P(CsvFileBytes, HeaderRecordsQuotingAndLineEnds) {
    const auto& c = GetParam();
    const std::vector<udb_record> records = {
        make_record({i4(42), text(L"a;b"), text(L"a,b"), text(L"a|+b"), text(L"a|b")}),
        make_record({r8(2.5), text(L"say \"hi\""), text(L""), null_value(), text(L"line1\nline2")}),
        make_record({}),
        make_record({text(L" blank "), text(L"\u00e4\U0001F600"), text(L"cr\r"), text(L"\r\n")}),
    };
    const udb_schema schema = make_schema({L"id", L"x;y", L"z"});
    for (bool header : {false, true}) {
        temp_dir dir;
        const std::wstring path = dir.wfile("t.csv");
        {
            auto file = header ? std::make_unique<csv_file>(path, csv_get_delimiter(c.delimiter), schema)
                               : std::make_unique<csv_file>(path, csv_get_delimiter(c.delimiter));
            for (const auto& r : records) file->append_record(r);
            file->close();
        }
        EXPECT_EQ(read_bytes(dir.file("t.csv")), bom + (header ? c.header : "") + c.body) << "header " << header;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Delimiters, CsvFileBytes,
    testing::Values(
        bytes_case{1, "id;\"x;y\";z\r\n",
                   "42;\"a;b\";a,b;a|+b;a|b\r\n"
                   "2.5;\"say \"\"hi\"\"\";;;\"line1\nline2\"\r\n"
                   "\r\n"
                   " blank ;\xc3\xa4\xf0\x9f\x98\x80;\"cr\r\";\"\r\n\"\r\n"},
        bytes_case{2, "id,x;y,z\r\n",
                   "42,a;b,\"a,b\",a|+b,a|b\r\n"
                   "2.5,\"say \"\"hi\"\"\",,,\"line1\nline2\"\r\n"
                   "\r\n"
                   " blank ,\xc3\xa4\xf0\x9f\x98\x80,\"cr\r\",\"\r\n\"\r\n"},
        bytes_case{0, "id|+x;y|+z\r\n",
                   "42|+a;b|+a,b|+\"a|+b\"|+a|b\r\n"
                   "2.5|+\"say \"\"hi\"\"\"|+|+|+\"line1\nline2\"\r\n"
                   "\r\n"
                   " blank |+\xc3\xa4\xf0\x9f\x98\x80|+\"cr\r\"|+\"\r\n\"\r\n"}),
    [](const testing::TestParamInfo<bytes_case>& info) { return delimiter_name(info.param.delimiter); });

TEST(CsvFile, EmptyTableAndEmptySchema) {
    temp_dir dir;
    {
        csv_file f(dir.wfile("a.csv"), csv_delimiters[1]);
        f.close();
    }
    {
        csv_file f(dir.wfile("b.csv"), csv_delimiters[1], udb_schema());
        f.close();
    }
    EXPECT_EQ(read_bytes(dir.file("a.csv")), bom);
    EXPECT_EQ(read_bytes(dir.file("b.csv")), bom + "\r\n");
}

TEST(CsvFile, OpeningReplacesTheContents) {
    temp_dir dir;
    csv_test::write_bytes(dir.file("t.csv"), "old;contents\r\nmore\r\n");
    {
        csv_file f(dir.wfile("t.csv"), csv_delimiters[2]);
        f.append_record(make_record({i4(1)}));
        f.close();
    }
    EXPECT_EQ(read_bytes(dir.file("t.csv")), bom + "1\r\n");
}

// Numbers --------------------------------------------------------------------------

std::string written(const ole_variant& v) {
    temp_dir dir;
    {
        csv_file f(dir.wfile("n.csv"), csv_delimiters[1]);
        f.append_record(make_record({v}));
        f.close();
    }
    std::string s = read_bytes(dir.file("n.csv"));
    EXPECT_EQ(s.compare(0, 3, bom), 0);
    EXPECT_GE(s.size(), 5u);
    return s.substr(3, s.size() - 5);
}

struct number_case {
    double value;
    const char* text;
};

void check_numbers() {
    const number_case doubles[] = {
        {3.0, "3"}, {2.5, "2.5"}, {0.1, "0.1"}, {12345.67, "12345.67"}, {-1.25, "-1.25"},
        {123456789.123, "123456789.123"}, {2147483647.0, "2147483647"}, {3000000000.0, "3000000000"},
        {-3000000000.0, "-3000000000"}, {9007199254740992.0, "9007199254740992"}, {3e-7, "0.0000003"},
        {0.000123, "0.000123"}, {1.0 / 3.0, "0.3333333333333333"}, {1e300, "1e+300"},
    };
    for (const auto& c : doubles) EXPECT_EQ(written(r8(c.value)), c.text) << c.value;

    ole_variant f4;
    f4.set_r4(0.1f);
    EXPECT_EQ(written(f4), "0.1");
    f4.set_r4(16777216.0f);
    EXPECT_EQ(written(f4), "16777216");

    ole_variant i8;
    i8.set_i8(std::numeric_limits<int64_t>::min());
    EXPECT_EQ(written(i8), "-9223372036854775808");
    ole_variant u8;
    u8.set_ui8(std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(written(u8), "18446744073709551615");

    plat::currency cy;
    cy.int64 = std::numeric_limits<int64_t>::max();
    ole_variant vcy;
    vcy.set_cy(cy);
    EXPECT_EQ(written(vcy), "922337203685477.5807");

    plat::decimal dec;
    ASSERT_EQ(plat::dec_from_text("-79228162514264337593543950.335", dec), 0);
    ole_variant vdec;
    vdec.set_decimal(dec);
    EXPECT_EQ(written(vdec), "-79228162514264337593543950.335");
}

TEST(CsvFileNumbers, ExactTextWithoutLossOfPrecision) { check_numbers(); }

TEST(CsvFileNumbers, ExactTextUnderADecimalCommaLocale) {
    csv_test::comma_locale loc;
    if (!loc.active()) GTEST_SKIP() << "no locale with a decimal comma installed";
    check_numbers();
}

TEST(CsvFileNumbers, EveryDoubleReadsBackTheSame) {
    temp_dir dir;
    std::mt19937_64 gen(20240611);
    std::vector<double> values = {std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::max(),
                                  -std::numeric_limits<double>::min(), 4.35, 0.3, 1e21, 1e22, 123456789012345678.0};
    for (int i = 0; i < 2000; ++i) {
        uint64_t bits = gen();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (std::isfinite(d)) values.push_back(d);
        values.push_back(static_cast<double>(static_cast<int64_t>(gen() >> (gen() % 64))) / (1 << (gen() % 20)));
    }
    {
        csv_file f(dir.wfile("d.csv"), csv_delimiters[1]);
        for (double d : values) f.append_record(make_record({r8(d)}));
        f.close();
    }
    csv_file in(csv_file::for_reading, dir.wfile("d.csv"), csv_delimiters[1]);
    in.reset();
    in.next();
    for (double d : values) {
        ASSERT_FALSE(in.is_eof());
        const std::wstring w = in.get_current_line();
        const std::string s(w.begin(), w.end());
        EXPECT_EQ(s.find_first_not_of("0123456789-+.e"), std::string::npos) << s;
        double back = 0;
        auto r = std::from_chars(s.data(), s.data() + s.size(), back);
        EXPECT_TRUE(r.ec == std::errc() && r.ptr == s.data() + s.size()) << s;
        EXPECT_EQ(std::memcmp(&back, &d, sizeof d) == 0 || (d == 0 && back == 0), true) << s << " for " << d;
        in.next();
    }
    EXPECT_TRUE(in.is_eof());
}

// Round trip -------------------------------------------------------------------------

std::vector<std::wstring> awkward_values() {
    return {L"",           L"plain",        L"\"",          L"\"\"",        L"\"starts quoted\" then",
            L"a;b",        L"a,b",          L"a|+b",        L"|+",          L"a|b+c",
            L"|",          L"+",            L"line\nbreak", L"cr\rlf\r\n",  L"\r\n",
            L"\n",         L"trailing cr\r", L" blanks ",   L"tab\there",   L"\u00e4\u00f6\u00fc\u00df\u20ac",
            L"\U0001F600\U00010348", L"\u8868;\"\u8868\"", std::wstring(100000, L'x'),
            std::wstring(50000, L'"') + L";\n" + std::wstring(50000, L'\U0001F600')};
}

class CsvRoundTrip : public testing::TestWithParam<uint32_t> {};

TEST_P(CsvRoundTrip, EveryValueReadsBackByteForByte) {
    const wchar_t* delim = csv_get_delimiter(GetParam());
    const std::vector<std::wstring> values = awkward_values();
    temp_dir dir;
    std::vector<std::wstring> header_names = {L"na\"me", L"x;y,z|+w", L"\u00e4"};
    {
        csv_file f(dir.wfile("r.csv"), delim, make_schema(header_names));
        // One value per record, then all values in one record.
        for (const auto& v : values) f.append_record(make_record({text(v)}));
        std::vector<ole_variant> all;
        for (const auto& v : values) all.push_back(text(v));
        f.append_record(make_record(all));
        f.close();
    }
    csv_file in(csv_file::for_reading, dir.wfile("r.csv"), delim);
    in.reset();
    in.next();
    ASSERT_FALSE(in.is_eof());
    {
        const csv_record* h = in.get_record();
        ASSERT_EQ(h->size(), header_names.size());
        for (size_t i = 0; i < header_names.size(); ++i) EXPECT_EQ((*h)[i]->get_bstr(), header_names[i]);
    }
    for (const auto& v : values) {
        in.next();
        ASSERT_FALSE(in.is_eof());
        const csv_record* r = in.get_record();
        ASSERT_EQ(r->size(), 1u);
        EXPECT_EQ((*r)[0]->get_bstr(), v) << "value of " << v.size() << " characters";
        EXPECT_EQ((*r)[0]->get_name(), L"F1");
        EXPECT_EQ((*r)[0]->get_type(), VT_BSTR);
    }
    in.next();
    ASSERT_FALSE(in.is_eof());
    const csv_record* all = in.get_record();
    ASSERT_EQ(all->size(), values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ((*all)[i]->get_bstr(), values[i]) << "field " << i;
        EXPECT_EQ((*all)[i]->get_name(), L"F" + std::to_wstring(i + 1));
    }
    in.next();
    EXPECT_TRUE(in.is_eof());
}

INSTANTIATE_TEST_SUITE_P(Delimiters, CsvRoundTrip, testing::Values(0u, 1u, 2u),
                         [](const testing::TestParamInfo<unsigned>& info) { return delimiter_name(info.param); });

// Reader -------------------------------------------------------------------------------

TEST(CsvReader, SchemaNamesFieldsAndLimitsTheirNumber) {
    temp_dir dir;
    csv_test::write_bytes(dir.file("s.csv"), "a;b;c\r\nonly\r\n");
    csv_file in(csv_file::for_reading, dir.wfile("s.csv"), csv_delimiters[1]);
    in.get_schema() = make_schema({L"first", L"second"});
    in.reset();
    in.next();
    const csv_record* r = in.get_record();
    ASSERT_EQ(r->size(), 2u);
    EXPECT_EQ((*r)[0]->get_name(), L"first");
    EXPECT_EQ((*r)[1]->get_name(), L"second");
    EXPECT_EQ((*r)[1]->get_bstr(), L"b");
    EXPECT_EQ((*r)[1]->get_size(), 1u);
    in.next();
    r = in.get_record();
    ASSERT_EQ(r->size(), 1u);
    EXPECT_EQ((*r)[0]->get_bstr(), L"only");
}

TEST(CsvReader, EndOfFileResetAndPrev) {
    temp_dir dir;
    csv_test::write_bytes(dir.file("e.csv"), bom + "x\r\n\r\n");
    csv_file in(csv_file::for_reading, dir.wfile("e.csv"), csv_delimiters[1]);
    for (int round = 0; round < 2; ++round) {
        in.reset();
        in.next();
        ASSERT_FALSE(in.is_eof());
        EXPECT_EQ(in.get_current_line(), L"x");  // the byte-order mark is not part of the text
        in.next();
        ASSERT_FALSE(in.is_eof());  // an empty last record is still a record
        EXPECT_EQ(in.get_record()->size(), 1u);
        EXPECT_EQ(in.get_record()->at(0)->get_bstr(), L"");
        in.next();
        EXPECT_TRUE(in.is_eof());
        in.next();
        EXPECT_TRUE(in.is_eof());
    }
    try {
        in.prev();
        FAIL() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 2u);
        EXPECT_EQ(e.message(), make_err_meggase("common/csv_util", 340));
    }
}

// Failures --------------------------------------------------------------------------------

TEST(CsvFileFailures, UnopenableFileIsAnErrorAtOnce) {
    temp_dir dir;
    const std::wstring path = dir.wfile("missing/t.csv");
    for (bool header : {false, true}) {
        try {
            if (header)
                csv_file f(path, csv_delimiters[1], make_schema({L"a"}));
            else
                csv_file f(path, csv_delimiters[1]);
            FAIL() << "no exception";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level(), 1u);
            EXPECT_EQ(e.message().rfind("Error opening CSV file", 0), 0u) << e.message();
        }
    }
    EXPECT_THROW(csv_file(csv_file::for_reading, path, csv_delimiters[1]), tk_exception);
}

TEST(CsvFileFailures, BadDelimiterIsRefused) {
    temp_dir dir;
    for (const wchar_t* d : {static_cast<const wchar_t*>(nullptr), L"", L"\"", L"\n", L"\u00e4"})
        EXPECT_THROW(csv_file(dir.wfile("t.csv"), d), tk_exception);
}

TEST(CsvFileFailures, DiskFullIsReportedOnceAndNeverAFinishedTable) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    {
        // Small table: the failure shows when the file is closed.
        csv_file f(L"/dev/full", csv_delimiters[1], make_schema({L"a"}));
        f.append_record(make_record({text(L"x")}));
        try {
            f.close();
            FAIL() << "close reported nothing";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level(), 1u);
            EXPECT_EQ(e.message().rfind("Error writing CSV file", 0), 0u) << e.message();
        }
    }
    {
        // Large table: the failure shows when a block is written ...
        csv_file f(L"/dev/full", csv_delimiters[1]);
        const udb_record big = make_record({text(std::wstring(csv_output::block_size, L'b'))});
        try {
            f.append_record(big);
            FAIL() << "no exception";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level(), 1u);
        }
        // ... and later records end the table without a second report.
        try {
            f.append_record(make_record({text(L"y")}));
            FAIL() << "no exception";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level(), 0u);
        }
        EXPECT_NO_THROW(f.close());
    }
}

// A field whose type query fails, standing for any failure in the middle of a record.
class failing_field : public udb_field {
public:
    failing_field() : udb_field(L"bad", 0, text(L"never written")) {}
    VARTYPE get_type() const override { throw ole_cast_exception(); }
};

TEST(CsvFileFailures, RecordIsWrittenWholeOrNotAtAll) {
    temp_dir dir;
    {
        csv_file f(dir.wfile("w.csv"), csv_delimiters[1]);
        f.append_record(make_record({text(L"first")}));
        udb_record bad = make_record({text(L"half"), text(L"line")});
        bad.push_back(new failing_field());
        EXPECT_THROW(f.append_record(bad), ole_cast_exception);
        f.append_record(make_record({text(L"last")}));
        f.close();
    }
    EXPECT_EQ(read_bytes(dir.file("w.csv")), bom + "first\r\nlast\r\n");
}

TEST(CsvFileBuffering, NotFlushedPerRecordAndCompleteAfterClose) {
    temp_dir dir;
    const std::string path = dir.file("b.csv");
    std::string expected = bom;
    {
        csv_file f(dir.wfile("b.csv"), csv_delimiters[1]);
        for (int i = 0; i < 1000; ++i) {
            f.append_record(make_record({i4(i), text(L"v")}));
            expected += std::to_string(i) + ";v\r\n";
        }
        struct stat st;
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 0);  // still in the buffer
        f.close();
    }
    EXPECT_EQ(read_bytes(path), expected);
    // Without close() the destructor still writes everything.
    {
        csv_file f(dir.wfile("c.csv"), csv_delimiters[1]);
        f.append_record(make_record({text(L"kept")}));
    }
    EXPECT_EQ(read_bytes(dir.file("c.csv")), bom + "kept\r\n");
}

}  // namespace
