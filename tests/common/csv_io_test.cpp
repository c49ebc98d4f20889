#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "csv_in.h"
#include "csv_out.h"
#include "csv_test_util.h"
#include "tk_excep.h"
#include "utf8.h"

using csv_test::read_bytes;
using csv_test::temp_dir;
using csv_test::write_bytes;

namespace {

std::vector<std::string> read_all(const std::string& path, std::string_view delim) {
    csv_input in;
    in.open(std::wstring(path.begin(), path.end()));
    std::vector<std::string> out;
    std::string rec;
    while (in.read_record(rec, delim)) out.push_back(rec);
    EXPECT_TRUE(in.at_end());
    return out;
}

TEST(CsvInput, RecordsGoOnInsideQuotes) {
    temp_dir dir;
    const std::string f = dir.file("t.csv");
    write_bytes(f,
                "\xEF\xBB\xBF"
                "h1;h2\r\n"
                "\"a\r\nb\";c\r\n"
                "\"x\ny\"\r\n"
                "\r\n"
                "\"ends\r\"\r\n"
                "bare\rcr\r\n"
                "lf only\n"
                "last");
    EXPECT_EQ(read_all(f, ";"), (std::vector<std::string>{"h1;h2", "\"a\r\nb\";c", "\"x\ny\"", "", "\"ends\r\"",
                                                          "bare\rcr", "lf only", "last"}));
}

TEST(CsvInput, OpenQuoteRunsToTheEndOfTheFile) {
    temp_dir dir;
    const std::string f = dir.file("t.csv");
    write_bytes(f, "a\r\n\"never\r\nclosed\r\n");
    EXPECT_EQ(read_all(f, ";"), (std::vector<std::string>{"a", "\"never\r\nclosed\r"}));
}

TEST(CsvInput, NoLineLengthLimitAndRewind) {
    temp_dir dir;
    const std::string f = dir.file("t.csv");
    const std::string big(300000, 'z');
    write_bytes(f, "\xEF\xBB\xBF" + big + "\r\n\"" + big + "\n" + big + "\"\r\n");
    csv_input in;
    in.open(dir.wfile("t.csv"));
    std::string rec;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(in.read_record(rec, ";"));
        EXPECT_EQ(rec, big);  // byte-order mark skipped each time
        ASSERT_TRUE(in.read_record(rec, ";"));
        EXPECT_EQ(rec, "\"" + big + "\n" + big + "\"");
        EXPECT_FALSE(in.read_record(rec, ";"));
        EXPECT_TRUE(in.at_end());
        in.rewind();
    }
}

TEST(CsvInput, ReadFailureEndsTheFile) {
    temp_dir dir;
    csv_input in;
    // A folder opens for reading but every read fails (EISDIR).
    ASSERT_NO_THROW(in.open(dir.wpath()));
    std::string rec;
    EXPECT_FALSE(in.read_record(rec, ";"));
    EXPECT_TRUE(in.at_end());
    EXPECT_FALSE(in.read_record(rec, ";"));
}

TEST(CsvInput, MissingFileIsAnError) {
    temp_dir dir;
    csv_input in;
    try {
        in.open(dir.wfile("missing.csv"));
        FAIL() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
        EXPECT_EQ(e.message().rfind("Error opening CSV file", 0), 0u) << e.message();
    }
}

TEST(CsvOutput, BuffersAndWritesEverythingOnClose) {
    temp_dir dir;
    const std::string f = dir.file("o.csv");
    std::string expected;
    {
        csv_output out;
        out.open(dir.wfile("o.csv"));
        for (int i = 0; i < 50000; ++i) {
            std::string line = "line " + std::to_string(i) + std::string(static_cast<size_t>(i % 97), 'q') + "\r\n";
            out.buffer() += line;
            expected += line;
            out.commit();
        }
        // Not flushed per line: less than a block may still be pending.
        EXPECT_LT(out.buffer().size(), csv_output::block_size);
        out.close();
        EXPECT_FALSE(out.is_open());
    }
    EXPECT_EQ(read_bytes(f), expected);
}

// Lines written in place and lines appended to the buffer, dropped ends and
// blocks written out between them: the file holds what was kept, in order.
TEST(CsvOutput, InPlaceAndAppendedLinesMix) {
    temp_dir dir;
    std::string expected;
    {
        csv_output out;
        out.open(dir.wfile("p.csv"));
        for (int i = 0; i < 60000; ++i) {
            const std::string line = std::to_string(i) + std::string(static_cast<size_t>(i % 300), 'p') + "\r\n";
            const size_t mark = out.pending();
            if (i % 7 == 3) {
                out.buffer() += line;
            } else {
                // In pieces of at most 64 bytes, each with room asked for.
                for (size_t at = 0; at < line.size(); at += 64) {
                    const size_t n = std::min<size_t>(64, line.size() - at);
                    char* p = out.place(n);
                    ASSERT_GE(out.place_end() - p, static_cast<long>(n));
                    std::memcpy(p, line.data() + at, n);
                    out.placed(p + n);
                }
            }
            ASSERT_EQ(out.pending(), mark + line.size());
            if (i % 11 == 5) {
                out.truncate(mark);  // dropped again
            } else {
                expected += line;
            }
            out.commit();
            ASSERT_LT(out.pending(), csv_output::block_size);
        }
        out.close();
    }
    EXPECT_EQ(read_bytes(dir.file("p.csv")), expected);
}

// Files written in turn on one thread, each after a file of other lengths
// (one given up with bytes pending, one with a line of several blocks): each
// holds only its own bytes.
TEST(CsvOutput, FilesInTurnHoldOnlyTheirOwnBytes) {
    temp_dir dir;
    const struct {
        size_t lines, line_size;
        bool discard;
    } files[] = {{3000, 500, false}, {2, 10, false}, {0, 0, false}, {50, 100, true}, {1, 3u << 20, false},
                 {7, 40, false},     {40, 20, true},  {5, 9, false}};
    for (size_t k = 0; k < std::size(files); ++k) {
        SCOPED_TRACE(testing::Message() << "file " << k);
        const std::string name = "f" + std::to_string(k) + ".csv";
        std::string expected;
        {
            csv_output out;
            out.open_partial(dir.wfile(name));
            for (size_t i = 0; i < files[k].lines; ++i) {
                std::string line = std::to_string(k) + ":" + std::to_string(i) + ":";
                line.resize(files[k].line_size, static_cast<char>('a' + k));
                line += "\r\n";
                out.append(line);
                expected += line;
                out.commit();
            }
            if (files[k].discard) out.discard();
            else out.complete();
        }
        if (files[k].discard) {
            EXPECT_FALSE(std::filesystem::exists(dir.file(name)));
            EXPECT_FALSE(std::filesystem::exists(dir.file(name + csv_part_suffix)));
        } else {
            EXPECT_EQ(read_bytes(dir.file(name)), expected);
        }
    }
}

TEST(CsvOutput, OpenTruncatesAnExistingFile) {
    temp_dir dir;
    write_bytes(dir.file("o.csv"), "old contents");
    csv_output out;
    out.open(dir.wfile("o.csv"));
    out.buffer() = "new";
    out.close();
    EXPECT_EQ(read_bytes(dir.file("o.csv")), "new");
}

TEST(CsvOutput, OpenFailures) {
    temp_dir dir;
    std::vector<std::wstring> bad = {dir.wfile("missing/o.csv"), dir.wpath(), L"", std::wstring(L"a\0b", 3)};
    if (::geteuid() != 0) {
        std::filesystem::create_directory(dir.file("ro"));
        ::chmod(dir.file("ro").c_str(), 0555);
        bad.push_back(dir.wfile("ro/o.csv"));
    }
    for (const auto& path : bad) {
        csv_output out;
        try {
            out.open(path);
            ADD_FAILURE() << "opened " << testing::PrintToString(path);
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level(), 1u);
            // The message names the file, when it has a name.
            const bool named = !path.empty() && path.find(L'\0') == std::wstring::npos;
            const std::string prefix = named ? "Error opening CSV file " + plat::utf8_encode(path) + ": "
                                             : std::string("Error opening CSV file: ");
            EXPECT_EQ(e.message().rfind(prefix, 0), 0u) << e.message();
        }
        EXPECT_FALSE(out.is_open());
    }
}

TEST(CsvOutput, DiskFullIsAnError) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    csv_output out;
    out.open(L"/dev/full");
    out.buffer() = "data that cannot be written\r\n";
    out.commit();  // below a block: nothing written yet
    try {
        out.close();
        FAIL() << "close reported nothing";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
        EXPECT_EQ(e.message().rfind("Error writing CSV file /dev/full: ", 0), 0u) << e.message();
    }
    EXPECT_TRUE(out.failed());
    EXPECT_FALSE(out.is_open());
}

}  // namespace
