#include "sql_query_kind.h"

#include <algorithm>
#include <iterator>

namespace {

// The statements that only read.
constexpr std::string_view reading_kinds[] = {"SELECT", "WITH", "VALUES", "SHOW", "EXPLAIN", "DESCRIBE", "DESC"};
// Functions that take or give up locks of the session, which outlive any
// transaction.
constexpr std::string_view lock_functions[] = {"GET_LOCK", "RELEASE_LOCK", "RELEASE_ALL_LOCKS"};

constexpr std::string_view refused = "The query is refused: only a statement that reads is run";

struct token {
    enum kind_t { end, word, quoted_name, open_paren, other };
    kind_t kind = end;
    std::string text;  // a word or name, upper-case
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

bool is_word_char(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
           u >= 0x80;
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

class lexer {
public:
    explicit lexer(std::string_view q) : q_(q) {}

    token next() {
        skip_blanks_and_comments();
        token t;
        if (i_ >= q_.size()) return t;
        const char c = q_[i_];
        if (c == '\'' || c == '"') {
            skip_string(c);
            t.kind = token::other;
        } else if (c == '`') {
            t.kind = token::quoted_name;
            for (++i_; i_ < q_.size(); ++i_) {
                if (q_[i_] == '`') {
                    if (i_ + 1 < q_.size() && q_[i_ + 1] == '`') {
                        t.text.push_back('`');
                        ++i_;
                        continue;
                    }
                    ++i_;
                    break;
                }
                t.text.push_back(upper(q_[i_]));
            }
        } else if (is_word_char(c)) {
            t.kind = token::word;
            while (i_ < q_.size() && is_word_char(q_[i_])) t.text.push_back(upper(q_[i_++]));
        } else {
            t.kind = c == '(' ? token::open_paren : token::other;
            t.text.assign(1, c);
            ++i_;
        }
        return t;
    }

private:
    bool at(std::string_view s) const { return q_.substr(i_, s.size()) == s; }

    void skip_blanks_and_comments() {
        while (i_ < q_.size()) {
            const char c = q_[i_];
            if (is_blank(c)) {
                ++i_;
            } else if (c == '#' || (at("--") && (i_ + 2 == q_.size() || static_cast<unsigned char>(q_[i_ + 2]) <= ' '))) {
                while (i_ < q_.size() && q_[i_] != '\n') ++i_;
            } else if (at("/*!") || at("/*M!")) {
                // The server runs what a versioned comment holds: it is read
                // as part of the statement.
                i_ += at("/*!") ? 3 : 4;
                while (i_ < q_.size() && q_[i_] >= '0' && q_[i_] <= '9') ++i_;
                ++versioned_;
            } else if (at("/*")) {
                const size_t close = q_.find("*/", i_ + 2);
                i_ = close == std::string_view::npos ? q_.size() : close + 2;
            } else if (versioned_ > 0 && at("*/")) {
                i_ += 2;
                --versioned_;
            } else {
                return;
            }
        }
    }

    void skip_string(char quote) {
        for (++i_; i_ < q_.size(); ++i_) {
            if (q_[i_] == '\\') {
                ++i_;
            } else if (q_[i_] == quote) {
                if (i_ + 1 < q_.size() && q_[i_ + 1] == quote) {
                    ++i_;
                    continue;
                }
                ++i_;
                return;
            }
        }
    }

    std::string_view q_;
    size_t i_ = 0;
    int versioned_ = 0;
};

template <size_t N>
bool listed(const std::string_view (&list)[N], const std::string& word) {
    return std::find(std::begin(list), std::end(list), word) != std::end(list);
}

}  // namespace

std::string sql_reading_problem(std::string_view query) {
    lexer lex(query);
    token t = lex.next();
    // An empty statement is the server's to refuse.
    if (t.kind == token::end) return std::string();
    if (t.kind != token::open_paren && !(t.kind == token::word && listed(reading_kinds, t.text)))
        return std::string(refused) + ", and this one begins with " + (t.text.empty() ? "a literal" : t.text);
    token before;
    for (; t.kind != token::end; before = std::move(t), t = lex.next()) {
        if (t.kind != token::open_paren) continue;
        if ((before.kind == token::word || before.kind == token::quoted_name) && listed(lock_functions, before.text))
            return std::string(refused) + ", and this one calls " + before.text;
    }
    return std::string();
}

std::string sql_no_rows_reason(std::string_view statement) {
    lexer lex(statement);
    token t = lex.next();
    // Semicolons alone end no statement either.
    while (t.kind == token::other && t.text == ";") t = lex.next();
    if (t.kind == token::end) return "The query is empty: it holds only blanks and comments";
    if (t.kind == token::word && t.text == "CALL")
        return "A procedure call (CALL) is not converted: its rows are not the result of one statement";
    return "The statement returned no rows";
}
