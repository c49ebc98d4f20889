#include <gtest/gtest.h>

#include <cerrno>

#include "keystore.h"
#include "utf8.h"

namespace {

using plat::reg_type;
using plat::reg_value;

reg_value text(std::string s) {
    reg_value v;
    v.type = reg_type::text;
    v.text = std::move(s);
    return v;
}

reg_value number(uint32_t n) {
    reg_value v;
    v.type = reg_type::u32;
    v.number = n;
    return v;
}

TEST(KeyStoreFormat, AnyNameAndTextSurviveAsOneValidUtf8LinePerValue) {
    std::string all_bytes;
    for (int c = 1; c < 256; ++c) all_bytes.push_back(static_cast<char>(c));
    const plat::reg_entries values = {
        {"", number(0)},
        {"max", number(0xFFFFFFFFu)},
        {"a=b\\c\nd\re", text("=x=\\\\n\n\r\r\n")},
        {"# not a comment", text("  leading and trailing  ")},
        {"bytes", text(all_bytes)},
        {"\xED\xA0\x80 surrogate bytes", text("\xF4\x90\x80\x80 above U+10FFFF, \xC0\xAF overlong")},
        {"u\xC3\xA9\xF0\x9F\x98\x80", text("")},
    };
    std::string file = plat::reg_format("Software\\Vantorel\\Fennrow", values);
    EXPECT_TRUE(plat::utf8_valid(file));
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 1 + static_cast<long>(values.size()));
    for (char c : file) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\n') << int(c);

    plat::reg_entries back = plat::reg_parse(file);
    ASSERT_EQ(back.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(back[i].first, values[i].first) << i;
        EXPECT_EQ(back[i].second.type, values[i].second.type) << i;
        EXPECT_EQ(back[i].second.number, values[i].second.number) << i;
        EXPECT_EQ(back[i].second.text, values[i].second.text) << i;
    }
}

TEST(KeyStoreFormat, LaterDuplicateWinsIgnoringCase) {
    plat::reg_entries back = plat::reg_parse("text Name=a\nu32 NAME=3\ntext other=b\n");
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].first, "Name");
    EXPECT_EQ(back[0].second.type, reg_type::u32);
    EXPECT_EQ(back[0].second.number, 3u);
}

TEST(KeyStoreFormat, KeyPathsMapToFilesUnderTheFolder) {
    std::string file;
    ASSERT_EQ(plat::reg_key_file("/home/u/.config/", "Software\\Vantorel\\Fennrow", file), 0u);
    EXPECT_EQ(file, "/home/u/.config/Software/Vantorel/Fennrow.reg");
    ASSERT_EQ(plat::reg_key_file("/", "Top", file), 0u);
    EXPECT_EQ(file, "/Top.reg");
    for (std::string_view bad : {std::string_view(""), std::string_view("a\\\\b"), std::string_view(".."),
                                 std::string_view("a\\..\\b"), std::string_view("a/b"),
                                 std::string_view("a\0b", 3), std::string_view("a\\")}) {
        EXPECT_EQ(plat::reg_key_file("/x", bad, file), static_cast<uint32_t>(EINVAL)) << bad;
    }
    EXPECT_EQ(plat::reg_key_file("", "a", file), static_cast<uint32_t>(EINVAL));
}

}  // namespace
