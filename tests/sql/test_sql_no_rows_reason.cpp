// The refusal of a stored query that gives no result set names what it is.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sql_query_kind.h"

namespace {

TEST(NoRowsReason, TellsTheKindOfStatement) {
    const std::string call = "A procedure call (CALL) is not converted: its rows are not the result of one statement";
    const std::string empty = "The query is empty: it holds only blanks and comments";
    const std::string other = "The statement returned no rows";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"CALL p()", call},
        {"  call p", call},
        {"-- first\n/* then */ # and\nCaLl `p`(1)", call},
        {"CALLED_TABLE", other},
        {"SET @a = (CALL)", other},
        {"UPDATE t SET a = 1", other},
        {"", empty},
        {" \t\r\n", empty},
        {"-- nothing but a comment", empty},
        {"# one\n-- two\n/* three */ ;", empty},
        {"/* unclosed", empty},
        // Text the server runs is no comment.
        {"/*!50000 CALL p() */", call},
        {"/*M! SELECT 1 */", other},
        {"--x", other},
    };
    for (const auto& [text, reason] : cases) EXPECT_EQ(sql_no_rows_reason(text), reason) << text;
}

}  // namespace
