#include "tk_cmdli.h"

#include <algorithm>
#include <cstring>

#include "tk_excep.h"

TCmdLine::TCmdLine(const tk_cmd_option* options) : m_options(options) {}

TCmdLine::~TCmdLine() = default;

void TCmdLine::parse_arg(const char* arg) {
    if (!arg) arg = "";
    for (const tk_cmd_option* o = m_options; o && o->text; ++o) {
        const size_t n = std::strlen(o->text);
        if (std::strncmp(arg, o->text, n) != 0) continue;
        if (n == 0) break;  // the end entry begins every argument
        m_id = o->id;
        m_value.assign(arg + n);
        return;
    }
    // No limit on how many arguments fail to match: all are kept.
    m_id = tk_cmd_unmatched;
    m_value.assign(arg);
    m_unmatched.emplace_back(arg);
}

ansi_cmd_line::ansi_cmd_line(int argc, char** argv, const tk_cmd_option* options)
    : TCmdLine(options), m_current(argv), m_left(argc > 1 && argv ? argc - 1 : 0) {
    if (m_left > 0) {
        ++m_current;
        parse_arg(*m_current);
    }
}

void ansi_cmd_line::hide_value() {
    if (m_left <= 0 || !*m_current) return;
    char* arg = *m_current;
    const size_t n = std::strlen(arg);
    const size_t v = std::min(value().size(), n);
    std::fill(arg + (n - v), arg + n, 'x');
}

void ansi_cmd_line::next() {
    if (m_left <= 0) throw tk_mail_assertion("tk_cmdli.cpp", 60);
    --m_left;
    ++m_current;
    if (m_left > 0) parse_arg(*m_current);
}
