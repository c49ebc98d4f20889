#include "error_handler.h"

#include "tk_log.h"
#include "tk_utils.h"
#include "utf8.h"
#include "wformat.h"

error_handler::error_handler() : suppress(false) {
    tk_log(2, "error_handler::empty ctor");
}

error_handler::error_handler(uint32_t count, const tk_error_row* rows)
    : suppress(false), messages(count, rows) {
    tk_log(2, "error_handler::ctor");
}

error_handler::~error_handler() = default;

void error_handler::set_context(const std::wstring& table, int record) {
    std::string text = tk_to_ansi(plat::wformat(L"%s, record #%d", table.c_str(), record), tk_cp_ansi);
    std::lock_guard<std::mutex> g(m_lock);
    m_context = std::move(text);
}

void error_handler::set_context(const std::wstring& table) {
    // The whole name: the report escapes what the console must not see raw.
    std::string text = plat::utf8_encode(table);
    std::lock_guard<std::mutex> g(m_lock);
    m_context = std::move(text);
}

void error_handler::clear_context() {
    std::lock_guard<std::mutex> g(m_lock);
    m_context.clear();
}

std::string error_handler::get_context() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_context;
}

std::string error_handler::report_text(const tk_exception& e) const {
    std::string text = get_context();
    if (!text.empty()) text += ": ";
    std::string friendly = messages.convert(e.code());
    text += friendly.empty() ? std::string(e.what()) : friendly;
    return text;
}
