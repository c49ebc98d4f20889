// The field rule's quick scan and rewrite against the plain byte-by-byte
// rule, and the values whose text never needs quotes.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "csv_format.h"
#include "csv_test_util.h"
#include "csv_util.h"
#include "tk_log.h"
#include "udb_record.h"
#include "utf8.h"

using csv_test::read_bytes;
using csv_test::temp_dir;

namespace {

// The rule written out plainly: quotes when the field holds a double quote,
// CR, LF or the whole delimiter; every double quote doubled.
std::string reference_field(const std::string& value, const std::string& delim) {
    bool need = value.find_first_of("\"\r\n") != std::string::npos ||
                (!delim.empty() && value.find(delim) != std::string::npos);
    if (!need) return value;
    std::string out = "\"";
    for (char c : value) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

TEST(CsvQuoteFast, MatchesThePlainRuleAtEveryLengthAndOffset) {
    std::mt19937 rng(2024);
    const char alphabet[] = {'a', 'b', ' ', '"', '\r', '\n', '|', '+', ';', ',', '\xC3', '\xA4', '\0'};
    const std::string delims[] = {"|+", ";", ",", "", "ab"};
    for (int round = 0; round < 20000; ++round) {
        const std::string& delim = delims[round % 5];
        std::string value;
        const size_t n = rng() % 70;
        for (size_t i = 0; i < n; ++i)
            value += rng() % 4 ? static_cast<char>('a' + rng() % 26) : alphabet[rng() % sizeof alphabet];
        // Text before the field and buffers that are full to the byte or
        // have room after it: the scan reads in blocks of sixteen.
        std::string out(rng() % 40, 'p');
        if (round % 3 == 0) out.shrink_to_fit();
        else out.reserve(out.size() + n + rng() % 64);
        const std::string before = out;
        csv_append_field_utf8(out, value, delim);
        ASSERT_EQ(out, before + reference_field(value, delim))
            << "value " << ::testing::PrintToString(value) << " delimiter " << delim;
        // The one-pass copy that also checks the UTF-8: the same field, or
        // nothing and false for ill-formed text.
        std::string checked = before;
        const bool well_formed = plat::utf8_valid(value);
        ASSERT_EQ(csv_append_checked_field(checked, value, delim), well_formed)
            << "value " << ::testing::PrintToString(value);
        ASSERT_EQ(checked, well_formed ? out : before)
            << "value " << ::testing::PrintToString(value) << " delimiter " << delim;
    }
}

TEST(CsvQuoteFast, DelimiterSplitAcrossABlockBorder) {
    for (size_t at = 10; at < 40; ++at) {
        std::string value(at, 'x');
        value += "|+";
        value.append(5, 'y');
        std::string out;
        out.reserve(256);
        csv_append_field_utf8(out, value, "|+");
        EXPECT_EQ(out, "\"" + value + "\"") << at;
        std::string half = std::string(at, 'x') + "|";
        std::string out2;
        out2.reserve(256);
        csv_append_field_utf8(out2, half, "|+");
        EXPECT_EQ(out2, half) << at;
    }
}

TEST(CsvQuoteFast, PlainTextIsSafeUnlessTheDelimiterCanBeInIt) {
    for (const char* d : {"|+", ";", ",", "\t", "#", "/"}) EXPECT_TRUE(csv_plain_text_is_safe(d)) << d;
    for (const char* d : {"-", ".", "0", "7", "e", "x", "n", "A", ":", " ", "+", "-|"})
        EXPECT_FALSE(csv_plain_text_is_safe(d)) << d;
}

ole_variant value_of(int kind) {
    ole_variant v;
    switch (kind) {
    case 0: v.set_i4(-5); break;
    case 1: v.set_r8(-1.5e-300); break;
    case 2: v.set_date(ole_date("2020-01-02 03:04:05.5")); break;
    case 3: v.set_r8(0.5); break;
    case 4: v.attach_binary(std::vector<uint8_t>{0x0A, 0xBC}); break;
    default: v.set_bool(true); break;
    }
    return v;
}

// Numbers, dates and bytes are quoted by the same rule as strings when the
// delimiter is a character their text can hold.
TEST(CsvQuoteFast, NumbersAreQuotedWhenTheDelimiterIsInTheirText) {
    struct quote_case {
        const wchar_t* delimiter;
        int kind;
        const char* field;
    };
    const quote_case cases[] = {
        {L"-", 0, "\"-5\""},
        {L";", 0, "-5"},
        {L"e", 1, "\"-1.5e-300\""},
        {L"+", 1, "-1.5e-300"},
        {L":", 2, "\"2020-01-02 03:04:05.500000\""},
        {L" ", 2, "\"2020-01-02 03:04:05.500000\""},
        {L",", 2, "2020-01-02 03:04:05.500000"},
        {L".", 3, "\"0.5\""},
        {L"x", 4, "\"0x0ABC\""},
        {L"B", 4, "\"0x0ABC\""},
        {L"1", 5, "\"1\""},
    };
    for (const auto& c : cases) {
        temp_dir dir;
        const std::string want = c.field;
        {
            csv_file f(dir.wfile("q.csv"), c.delimiter);
            udb_record r;
            r.push_back(new udb_field(L"v", 0, value_of(c.kind)));
            f.append_record(r);
            f.close();
        }
        EXPECT_EQ(read_bytes(dir.file("q.csv")), std::string(csv_bom) + want + "\r\n")
            << "kind " << c.kind;
    }
}

// A text cell as a stream receives it (checked while written) gives the
// same line as the same text checked at once: multi-byte characters beside
// quotes and delimiters, ill-formed bytes, zero bytes, line breaks.
TEST(CsvQuoteFast, ReceivedTextWritesLikeCheckedText) {
    using namespace std::string_literals;
    const std::string cells[] = {
        "",
        "plain text",
        "\xC3\xA9\"\xC3\xA9",
        "\xE2\x82\xAC|+\xE2\x82\xAC",
        "a;\xF0\x9F\x98\x80;b",
        "line\r\nbreak\xC3\xA4",
        "zero\0inside"s,
        "\0"s,
        "ill\xC3" "formed \"quoted\"",
        "\xE2\x82",
        "0123456789abcdef\xFF",
        "\xED\xA0\x80;",
        std::string(20, 'x') + "\xC3\xA9\"|" + "+\"",
    };
    for (const wchar_t* delimiter : {L"|+", L";", L",", L"x"}) {
        for (const std::string& cell : cells) {
            std::string lines[2];
            for (int received = 0; received < 2; ++received) {
                ole_variant v;
                if (received) v.set_utf8_text(cell);
                else v.attach_string(cell);
                temp_dir dir;
                {
                    csv_file f(dir.wfile("q.csv"), delimiter);
                    udb_record r;
                    r.push_back(new udb_field(L"a", 0, v));
                    r.push_back(new udb_field(L"b", 0, v));
                    f.append_record(r);
                    f.close();
                }
                lines[received] = read_bytes(dir.file("q.csv"));
            }
            EXPECT_EQ(lines[1], lines[0]) << ::testing::PrintToString(cell);
        }
    }
}

std::string hex_text(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "0x";
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Cells too large for the line buffer are written in pieces: the line is
// the one the whole-cell rule gives, whatever falls on a piece's border.
TEST(CsvQuoteFast, LargeCellsWrittenInPiecesMatchTheRule) {
    constexpr size_t piece = 64u << 10;
    struct large_case {
        const char* name;
        size_t size;
        size_t at;         // where the special bytes go
        std::string mark;  // what goes there
    };
    const large_case cases[] = {
        {"plain", 300000, 0, ""},
        {"quote on a piece border", 300000, piece - 1, "\"\""},
        {"quote first in a piece", 300000, piece, "\""},
        {"character split by a border", 300000, 2 * piece - 1, "\xE2\x82\xAC"},
        {"delimiter split by a border", 300000, 3 * piece - 1, "|+"},
        {"semicolon", 300000, 3 * piece - 1, ";"},
        {"line break", 300000, piece + 7, "\r\n"},
        {"zero byte", 300000, 5, std::string(1, '\0')},
        {"just below the size", (256u << 10) - 1, 9, "\""},
    };
    for (const wchar_t* delimiter : {L"|+", L";", L"x"}) {
        const std::string delim = delimiter[0] == L'x' ? "x" : delimiter[0] == L';' ? ";" : "|+";
        for (const large_case& c : cases) {
            std::string text(c.size, 'a');
            for (size_t i = 0; i < text.size(); i += 97) text[i] = static_cast<char>('b' + i % 20);
            text.replace(c.at, c.mark.size(), c.mark);
            std::vector<uint8_t> bytes(c.size / 2);
            for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
            ole_variant big_text, small_text, big_bytes, number;
            big_text.attach_string(text);
            small_text.attach_string("a\"b");
            big_bytes.attach_binary(bytes);
            number.set_i4(7);
            temp_dir dir;
            {
                csv_file f(dir.wfile("q.csv"), delimiter);
                udb_record r;
                r.push_back(new udb_field(L"n", 0, number));
                r.push_back(new udb_field(L"t", 0, big_text));
                r.push_back(new udb_field(L"s", 0, small_text));
                r.push_back(new udb_field(L"b", 0, big_bytes));
                r.push_back(new udb_field(L"e", 0, ole_variant(std::wstring())));
                f.append_record(r);
                f.append_record(r);
                f.close();
            }
            const std::string line = "7" + delim + reference_field(text, delim) + delim +
                                     reference_field("a\"b", delim) + delim +
                                     reference_field(hex_text(bytes), delim) + delim + "\r\n";
            const std::string got = read_bytes(dir.file("q.csv"));
            EXPECT_TRUE(got == std::string(csv_bom) + line + line) << c.name << ", delimiter " << delim;
        }
    }
}

}  // namespace

namespace {

// Every special byte (and some that are not) at every position of texts of
// 1 to 40 bytes: the plain copy takes exactly the plain texts, and copies
// them as the checked writer does.
TEST(CsvCopyPlain, EachSpecialByteAtEachPosition) {
    const char d0s[] = {',', ';', '|', 'x', ' '};
    const unsigned char bytes[] = {'"', '\r', '\n', ',', ';', '|', 'x', 0x80, 0xC3, 0xE2, 0xFF, 0x7F, 0, 'a', '+', ' ',
                                   '!', '#', '\t', '\v'};
    for (char d0 : d0s) {
        const std::string delim(1, d0);
        for (size_t n = 1; n <= 40; ++n) {
            for (size_t at = 0; at < n; ++at) {
                for (unsigned char b : bytes) {
                    std::string value(n, 'a');
                    for (size_t k = 0; k < n; ++k) value[k] = static_cast<char>('A' + k % 26);
                    value[at] = static_cast<char>(b);
                    const bool special = b >= 0x80 || b == '"' || b == '\r' || b == '\n' || b == static_cast<unsigned char>(d0);
                    char dst[48];
                    std::fill(dst, dst + sizeof dst, '#');
                    const bool plain = csv_copy_plain(dst, value, d0);
                    ASSERT_EQ(plain, !special) << n << " " << at << " " << int(b) << " " << d0;
                    if (!plain) continue;
                    ASSERT_EQ(std::string(dst, n), value);
                    ASSERT_EQ(dst[n], '#');
                    std::string checked;
                    ASSERT_TRUE(csv_append_checked_field(checked, value, delim));
                    ASSERT_EQ(checked, value);
                }
            }
        }
    }
}

// Whole lines: received texts with special bytes at every position, next to
// numbers, dates and decimals, give each field's own text under the rule;
// the same with a delimiter longer than a word and with the detail log on.
TEST(CsvCopyPlain, LinesMatchTheFieldRuleForEveryDelimiter) {
    std::mt19937 rng(5);
    const char specials[] = {'"', '\r', '\n', ',', ';', '|', '+', 'x', '\0'};
    struct lines_case {
        const wchar_t* delimiter;
        bool logged;
    };
    for (const lines_case c : {lines_case{L"|+", false}, {L";", false}, {L",", false}, {L"x", false},
                               {L"<long|sep>", false}, {L";", true}, {L"<long|sep>", true}}) {
        const wchar_t* const delimiter = c.delimiter;
        const bool logged = c.logged;
        const std::string delim = plat::utf8_encode(delimiter);
        temp_dir dir;
        std::string expected = "\xEF\xBB\xBF";
        {
            std::unique_ptr<tk_logger> logger;
            if (logged) logger = std::make_unique<tk_logger>(dir.file("log.txt").c_str(), true, 1, false);
            csv_file f(dir.wfile("l.csv"), delimiter);
            for (size_t n = 0; n <= 33; ++n) {
                for (size_t at = 0; at <= n; ++at) {
                    std::string text(n, 'q');
                    if (at < n) text[at] = specials[rng() % sizeof specials];
                    if (n > 3 && at == 0) text.replace(1, 2, "\xC3\xA9");
                    std::vector<ole_variant> values(6);
                    values[0].set_utf8_text(text);
                    values[1].set_i4(static_cast<int32_t>(rng()) >> (rng() % 32));
                    ole_date d;
                    d.kind = ole_date::date_time;
                    d.time.year = static_cast<uint16_t>(rng() % 10001);
                    d.time.month = static_cast<uint16_t>(rng() % 13);
                    d.time.day = static_cast<uint16_t>(rng() % 32);
                    d.time.hour = static_cast<uint16_t>(rng() % 24);
                    values[2].set_date(d);
                    plat::decimal dec;
                    dec.lo64 = rng() >> (rng() % 32);
                    dec.scale = static_cast<uint8_t>(rng() % 3);
                    dec.sign = rng() % 2 ? plat::DECIMAL_NEG : 0;
                    values[3].set_decimal(dec);
                    values[4].set_utf8_text(text + "x,;|+");
                    // Longer than a short cell.
                    values[5].set_utf8_text(std::string(40 + 3 * n, 'w') + text);
                    const ole_text_form forms[] = {{}, {}, {ole_text_form::datetime, 0}, {ole_text_form::decimal, 2}, {}, {}};
                    udb_record r;
                    for (size_t i = 0; i < values.size(); ++i) {
                        auto* field = new udb_field(L"c", 0, values[i]);
                        field->set_text_form(forms[i]);
                        r.push_back(field);
                        std::string cell;
                        values[i].append_utf8_cell(cell, forms[i]);
                        if (i > 0) expected += delim;
                        expected += reference_field(cell, delim);
                    }
                    r.push_back(nullptr);
                    expected += delim + "\r\n";
                    f.append_record(r);
                }
            }
            f.close();
        }
        EXPECT_EQ(read_bytes(dir.file("l.csv")), expected) << delim << (logged ? ", logged" : "");
        if (logged) {
            EXPECT_NE(read_bytes(dir.file("log.txt")).find("csv_file::write_csv_field("), std::string::npos);
        }
    }
}

}  // namespace
