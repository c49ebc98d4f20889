// Fields, records and schemas: lookups, sizes, ownership and reuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "udb_record.h"
#include "udb_schema.h"

namespace {

udb_field text_field(const std::wstring& name, const std::wstring& text, uint32_t size = 0) {
    return udb_field(name, size, ole_variant(text));
}

// Counts destructions, to show who deletes fields.
struct counted_field : udb_field {
    counted_field(const std::wstring& name, int* deaths) : udb_field(name, 0, ole_variant(name)), deaths_(deaths) {}
    ~counted_field() override { ++*deaths_; }
    int* deaths_;
};

}  // namespace

struct size_case {
    const char* what;
    ole_variant value;
    uint32_t declared;
    uint32_t expected;
};

TEST(udb_field, size_follows_the_value) {
    ole_variant null_value;
    null_value.set_null();
    ole_variant int_value;
    int_value.set_i4(7);
    const size_case cases[] = {
        {"text counts characters, not the declared size", ole_variant(std::wstring(L"Grüße")), 100, 5},
        {"empty text", ole_variant(std::wstring()), 30, 0},
        {"byte array counts elements", ole_variant(std::vector<uint8_t>{0, 1, 2}), 50, 3},
        {"empty byte array", ole_variant(std::vector<uint8_t>{}), 50, 0},
        {"number: declared size", int_value, 4, 4},
        {"double: declared size", ole_variant(2.5), 8, 8},
        {"null: declared size", null_value, 11, 11},
        {"empty: declared size", ole_variant(), 9, 9},
    };
    for (const auto& c : cases) {
        udb_field f(L"f", c.declared, c.value);
        EXPECT_EQ(f.get_size(), c.expected) << c.what;
        EXPECT_EQ(f.get_type(), c.value.type()) << c.what;
    }
}

// A field's short cell (an INT written by the field itself, other values by
// the value) is the cell text the value gives, within the short cell's room.
TEST(udb_field, short_cell_is_the_cell_text) {
    std::vector<ole_variant> values;
    std::vector<ole_text_form> forms;
    for (int32_t v : {0, 1, -1, 9, 10, -10, 99, 100, 12345678, -123456789, 1000000000, INT32_MAX, INT32_MIN}) {
        values.emplace_back();
        values.back().set_i4(v);
        values.emplace_back();
        values.back().set_int(v);  // the same number, not an I4
    }
    values.emplace_back();
    values.back().set_i8(INT64_MIN);
    values.emplace_back();
    values.back().set_null();
    const double inf = std::numeric_limits<double>::infinity();
    for (double v : {0.1, -2.5, 1e300, -1.5e-8, 123456789.0, 9.3e18, 1e21, 5e-324, -0.0, inf, -inf,
                     1.0000000000000002, -1189299134.6999125}) {
        values.emplace_back();
        values.back().set_r8(v);
        values.emplace_back();
        values.back().set_r4(static_cast<float>(v));
    }
    values.emplace_back();
    values.back().set_r4(std::numeric_limits<float>::quiet_NaN());
    for (size_t n : {0, 1, 24, 31}) {
        std::vector<uint8_t> bytes(n);
        for (size_t k = 0; k < n; ++k) bytes[k] = static_cast<uint8_t>(k * 37 + 250);
        values.emplace_back();
        values.back().set_binary(bytes.data(), bytes.size());
    }
    forms.resize(values.size());
    for (uint64_t m : {0ull, 5ull, 1891384ull, 4294967295ull, 4294967296ull}) {
        for (uint8_t scale : {0, 2, 9}) {
            for (uint8_t digits : {2, 4, 10}) {
                if (scale > digits) continue;
                plat::decimal d;
                d.lo64 = m;
                d.scale = scale;
                d.sign = m % 2 ? plat::DECIMAL_NEG : 0;
                values.emplace_back();
                values.back().set_decimal(d);
                forms.push_back({ole_text_form::decimal, digits});
            }
        }
    }
    for (size_t i = 0; i < values.size(); ++i) {
        const ole_variant& v = values[i];
        udb_field f(L"f", 0, v);
        f.set_text_form(forms[i]);
        char buf[ole_variant::short_cell_room + 1];
        std::fill(buf, buf + sizeof buf, '#');
        const char* end = f.put_short_cell(buf);
        ASSERT_NE(end, nullptr);
        std::string cell;
        f.append_utf8_cell(cell);
        EXPECT_EQ(std::string(static_cast<const char*>(buf), end), cell) << "type " << v.type();
        EXPECT_EQ(buf[ole_variant::short_cell_room], '#');
        if (v.type() != VT_DECIMAL) {
            EXPECT_EQ(*end, '#');  // a decimal may use its room after the text
        }
    }
    // A NaN double is written as 0 by the general way, which logs it; 32
    // bytes or more are no short cell.
    ole_variant nan, bytes32;
    nan.set_r8(std::numeric_limits<double>::quiet_NaN());
    const std::vector<uint8_t> bytes(32, 0xAB);
    bytes32.set_binary(bytes.data(), bytes.size());
    char buf[ole_variant::short_cell_room];
    EXPECT_EQ(udb_field(L"f", 0, nan).put_short_cell(buf), nullptr);
    EXPECT_EQ(udb_field(L"f", 0, bytes32).put_short_cell(buf), nullptr);
}

TEST(udb_field, copy_keeps_name_size_and_value) {
    udb_field a(L"Name", 12, ole_variant(std::wstring(L"value")));
    udb_field b(a);
    EXPECT_EQ(b.get_name(), L"Name");
    EXPECT_EQ(b.get_declared_size(), 12u);
    EXPECT_EQ(b.get_type(), VT_BSTR);
    EXPECT_EQ(b.get_bstr(), L"value");
    udb_field empty;
    EXPECT_EQ(empty.get_name(), L"");
    EXPECT_EQ(empty.get_size(), 0u);
    EXPECT_EQ(empty.get_type(), VT_EMPTY);
}

TEST(udb_record, lookups_ignore_case_and_take_the_first_match) {
    udb_record r;
    r.push_back(new udb_field(text_field(L"id", L"1")));
    r.push_back(new udb_field(text_field(L"Straße", L"first")));
    r.push_back(new udb_field(text_field(L"STRASSE", L"other")));
    r.push_back(new udb_field(text_field(L"STRAßE", L"second")));

    EXPECT_TRUE(r.find_field(L"ID"));
    EXPECT_TRUE(r.find_field(L"straße"));
    EXPECT_EQ(r.get_field(L"STRAßE").get_bstr(), L"first");
    EXPECT_EQ(r.find_index(L"strasse"), 2);
    EXPECT_FALSE(r.find_field(L"i"));
    EXPECT_FALSE(r.find_field(L"id "));

    const udb_field& missing = r.get_field(L"nope");
    EXPECT_EQ(missing.get_name(), L"");
    EXPECT_EQ(missing.get_type(), VT_EMPTY);
    EXPECT_EQ(missing.get_size(), 0u);
    EXPECT_EQ(r.find_index(L"nope"), -1);
}

TEST(udb_record, lookups_ignore_case_under_a_german_locale) {
    const char* old = setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    if (!setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 not installed";
    udb_record r;
    r.push_back(new udb_field(text_field(L"Ärger", L"x")));
    bool found = r.find_field(L"äRGER");
    setlocale(LC_ALL, saved.c_str());
    EXPECT_TRUE(found);
}

TEST(udb_record, total_size_skips_empty_values_but_counts_nulls) {
    udb_record r;
    EXPECT_EQ(r.get_total_size(), 0u);
    ole_variant null_value;
    null_value.set_null();
    r.push_back(new udb_field(L"t", 100, ole_variant(std::wstring(L"abc"))));      // 3
    r.push_back(new udb_field(L"e", 50, ole_variant()));                            // left out
    r.push_back(new udb_field(L"n", 4, null_value));                                // 4
    r.push_back(static_cast<udb_field*>(nullptr));                                  // skipped
    r.push_back(new udb_field(L"b", 9, ole_variant(std::vector<uint8_t>(7, 1))));   // 7
    EXPECT_EQ(r.get_total_size(), 14u);
}

TEST(udb_record, owns_and_deletes_its_fields) {
    int deaths = 0;
    {
        udb_record r;
        r.push_back(new counted_field(L"a", &deaths));
        r.push_back(std::make_unique<counted_field>(L"b", &deaths));
        EXPECT_EQ(deaths, 0);
    }
    EXPECT_EQ(deaths, 2);

    deaths = 0;
    udb_record r;
    r.push_back(new counted_field(L"a", &deaths));
    r.push_back(new counted_field(L"b", &deaths));
    r.push_back(new counted_field(L"c", &deaths));
    r.truncate(1);
    EXPECT_EQ(deaths, 2);
    EXPECT_EQ(r.size(), 1u);
    r.reset();
    EXPECT_EQ(deaths, 3);
    EXPECT_TRUE(r.empty());
}

TEST(udb_record, copies_are_deep_and_moves_transfer) {
    int deaths = 0;
    auto original = std::make_unique<udb_record>();
    original->push_back(new counted_field(L"a", &deaths));
    udb_record copy(*original);
    ASSERT_EQ(copy.size(), 1u);
    EXPECT_NE(copy[0], (*original)[0]);
    copy[0]->value() = ole_variant(std::wstring(L"changed"));
    EXPECT_EQ((*original)[0]->get_bstr(), L"a");
    original.reset();
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(copy[0]->get_name(), L"a");  // still alive after the original went

    udb_record assigned;
    assigned.push_back(new counted_field(L"x", &deaths));
    assigned = copy;  // the old field goes
    EXPECT_EQ(deaths, 2);
    EXPECT_EQ(assigned.get_field(L"a").get_bstr(), L"changed");

    udb_record moved(std::move(assigned));
    EXPECT_EQ(moved.size(), 1u);
    EXPECT_TRUE(assigned.empty());
}

TEST(udb_record, reuse_keeps_field_objects_row_after_row) {
    int made = 0;
    auto make = [&made](size_t i) {
        ++made;
        return new udb_field(L"F" + std::to_wstring(i + 1), 0, ole_variant());
    };
    udb_record r;
    r.reuse(3, make);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(made, 3);
    std::vector<udb_field*> first(r.begin(), r.end());
    for (int row = 0; row < 5; ++row) {
        r.reuse(3, make);
        for (size_t i = 0; i < r.size(); ++i) r[i]->value().set_i4(row * 10 + static_cast<int>(i));
    }
    EXPECT_EQ(made, 3);
    EXPECT_EQ(std::vector<udb_field*>(r.begin(), r.end()), first);
    EXPECT_EQ(r[2]->to_long(), 42);
    r.reuse(1, make);
    EXPECT_EQ(r.size(), 1u);
    r.reuse(2, make);
    EXPECT_EQ(made, 4);
    EXPECT_EQ(r[1]->get_name(), L"F2");
}

TEST(udb_record, index_past_the_end_is_out_of_range) {
    udb_record r;
    EXPECT_THROW(r[0], std::out_of_range);
    r.push_back(new udb_field(text_field(L"a", L"x")));
    EXPECT_NO_THROW(r.at(0));
    EXPECT_THROW(r.at(1), std::out_of_range);
}

TEST(t_ftd, constructor_takes_not_null_before_auto_increment) {
    t_ftd d(255, L"name", VT_BSTR, true, false, ole_variant(std::wstring(L"def")), 3, L"varchar(255)");
    EXPECT_EQ(d.size, 255u);
    EXPECT_EQ(d.name, L"name");
    EXPECT_EQ(d.vartype, VT_BSTR);
    EXPECT_TRUE(d.b_not_null);
    EXPECT_FALSE(d.auto_increment);
    EXPECT_EQ(d.def_value.get_bstr(), L"def");
    EXPECT_EQ(d.reserved, 3u);
    EXPECT_EQ(d.native_type, L"varchar(255)");
    EXPECT_EQ(d.precision, 0);
    EXPECT_EQ(d.scale, 0);
    EXPECT_EQ(d.description, L"");
}

class schema_fixture : public ::testing::Test {
protected:
    void SetUp() override {
        s.push_back(new t_ftd(10, L"id", VT_I4, true, true, ole_variant(), 0, L""));
        s.push_back(static_cast<t_ftd*>(nullptr));
        s.push_back(new t_ftd(40, L"name", VT_BSTR, false, false, ole_variant(), 0, L""));
        s.push_back(new t_ftd(80, L"NAME", VT_DATE, false, false, ole_variant(), 0, L""));
    }
    udb_schema s;
};

TEST_F(schema_fixture, lookups_ignore_case_skip_gaps_and_take_the_first_match) {
    EXPECT_TRUE(s.find_field(L"ID"));
    EXPECT_TRUE(s.find_field(L"Name"));
    EXPECT_FALSE(s.find_field(L"nam"));
    EXPECT_EQ(s.get_field1(L"NaMe").size, 40u);
    EXPECT_EQ(s.get_field2(L"name").vartype, VT_BSTR);
    EXPECT_EQ(s.get_field_size(L"NAME"), 40);
    EXPECT_EQ(s.get_field_type(L"Id"), VT_I4);
    EXPECT_EQ(s.find_index(L"name"), 2);
}

TEST_F(schema_fixture, unknown_names) {
    EXPECT_EQ(s.get_field_type(L"missing"), VT_NULL);
    EXPECT_EQ(s.get_field_size(L"missing"), -1);
    const t_ftd& d = s.get_field1(L"missing");
    EXPECT_EQ(d.name, L"");
    EXPECT_EQ(d.size, 0u);
    EXPECT_EQ(d.vartype, VT_EMPTY);
    EXPECT_FALSE(d.b_not_null);
    EXPECT_FALSE(d.auto_increment);
}

TEST_F(schema_fixture, writes_into_a_missed_descriptor_reach_nobody) {
    t_ftd& miss = s.get_field1(L"missing");
    miss.vartype = VT_BSTR;
    miss.size = 255;
    miss.b_not_null = true;
    miss.name = L"leak";
    // The next miss starts clean, and the write reached no listed descriptor.
    const t_ftd& again = s.get_field2(L"other");
    EXPECT_EQ(again.vartype, VT_EMPTY);
    EXPECT_EQ(again.size, 0u);
    EXPECT_FALSE(again.b_not_null);
    EXPECT_EQ(again.name, L"");
    EXPECT_FALSE(s.find_field(L"leak"));
    EXPECT_EQ(s.size(), 4u);
    // Another schema has its own scratch descriptor.
    udb_schema other;
    t_ftd& mine = other.get_field1(L"x");
    mine.size = 7;
    EXPECT_EQ(s.get_field1(L"y").size, 0u);
    EXPECT_EQ(mine.size, 7u);
}

TEST_F(schema_fixture, copies_are_deep) {
    auto copy = std::make_unique<udb_schema>(s);
    ASSERT_EQ(copy->size(), 4u);
    EXPECT_EQ((*copy)[1], nullptr);
    EXPECT_NE((*copy)[0], s[0]);
    (*copy)[0]->size = 99;
    EXPECT_EQ(s[0]->size, 10u);
    udb_schema moved(std::move(*copy));
    copy.reset();
    EXPECT_EQ(moved.get_field_size(L"id"), 99);
    EXPECT_THROW(moved.at(4), std::out_of_range);
    moved.clear();
    EXPECT_TRUE(moved.empty());
}

TEST(udb_schema, constructor_flag_and_counters) {
    udb_schema a(false);
    EXPECT_FALSE(a.flag);
    EXPECT_EQ(a.counter1, 1u);
    EXPECT_EQ(a.counter2, 1u);
    udb_schema b;
    EXPECT_TRUE(b.flag);
}
