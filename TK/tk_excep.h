// The exception family: every failure travels as one of these.
#pragma once
#include <cstdint>
#include <exception>
#include <string>

class tk_exception : public std::exception {
public:
    tk_exception(const std::string& text, uint32_t level);
    tk_exception(const std::wstring& text, uint32_t level);
    explicit tk_exception(uint32_t level);
    tk_exception(const tk_exception&) = default;
    tk_exception& operator=(const tk_exception&) = default;
    ~tk_exception() override = default;

    const char* what() const noexcept override { return message_.c_str(); }

    const std::string& message() const { return message_; }
    uint32_t code() const { return code_; }
    uint32_t level() const { return level_; }

protected:
    std::string message_;
    uint32_t code_ = 0;
    uint32_t level_ = 0;
};

// Carries the system's text for the thread's last error.
class tk_exception_ex : public tk_exception {
public:
    tk_exception_ex(const std::string& prefix, uint32_t level);
    tk_exception_ex();
};

// Internal check failed: level 2, the text encodes file and line.
class tk_mail_assertion : public tk_exception {
public:
    tk_mail_assertion(const char* source_file, uint32_t line);
};

class ole_cast_exception : public tk_exception {
public:
    ole_cast_exception();
};

class ole_type_exception : public tk_exception {
public:
    ole_type_exception();
};

// The user chose to abort: ends a run quietly. Not a tk_exception.
class tk_final_exception : public std::exception {
public:
    tk_final_exception();
};

// "Internal error: \ncode=" followed by the hex digits of "file\line".
std::string make_err_meggase(const char* source_file, uint32_t line);
