#include "tk_excep.h"

#include "last_error.h"
#include "tk_log.h"
#include "tk_utils.h"

#include <cstdio>

tk_exception::tk_exception(const std::string& text, uint32_t level)
    : message_(text.empty() ? "Unknown exception" : text), level_(level) {}

tk_exception::tk_exception(const std::wstring& text, uint32_t level) : level_(level) {
    char* ansi = nullptr;
    if (tk_unicode_to_ansi2(text.c_str(), &ansi) && ansi) message_ = ansi;
    delete[] ansi;
    if (message_.empty()) message_ = "Unknown exception";
}

tk_exception::tk_exception(uint32_t level) : message_("Unknown exception"), level_(level) {}

tk_exception_ex::tk_exception_ex(const std::string& prefix, uint32_t level)
    : tk_exception(std::string("Unknown exception"), 1) {
    level_ = level;
    code_ = plat::get_last_error();
    std::string text = plat::system_error_text(code_);
    if (!text.empty()) {
        message_ = prefix + text;
        tk_log(2, "GetLastError: %s", text.c_str());
    }
}

tk_exception_ex::tk_exception_ex() : tk_exception_ex(std::string(), 1) {}

std::string make_err_meggase(const char* source_file, uint32_t line) {
    if (!source_file) source_file = "";
    tk_log(2, "make_err_meggase(%s, %d)", source_file, static_cast<int>(line));
    std::string text = std::string(source_file) + "\\" + std::to_string(line);
    tk_log(2, "result=%s", text.c_str());
    static const char digits[] = "0123456789abcdef";
    std::string msg = "Internal error: \ncode=";
    for (unsigned char c : text) {
        msg.push_back(digits[c >> 4]);
        msg.push_back(digits[c & 0x0F]);
    }
    return msg;
}

tk_mail_assertion::tk_mail_assertion(const char* source_file, uint32_t line)
    : tk_exception(make_err_meggase(source_file, line), 2) {
    tk_log(2, "tk_mail_assertion::ctor(%s)", source_file ? source_file : "");
}

ole_cast_exception::ole_cast_exception()
    : tk_exception(std::string("Cannot cast from source type to destination type"), 0) {}

ole_type_exception::ole_type_exception()
    : tk_exception(std::string("The operating type is not supported yet"), 1) {}

tk_final_exception::tk_final_exception() { tk_log(2, "tk_final_exception::ctor"); }
