// "Add Query": a name to store the result as and a SELECT statement, with a
// test that asks the server whether it accepts the statement (the statement
// is only prepared, never run).
#pragma once
#include <cstdint>
#include <string>

#include "g_dialog.h"

// Control ids of the query dialog.
inline constexpr uint32_t idd_query = 128;
inline constexpr int idc_query_name = 1019;
inline constexpr int idc_query_text = 1020;
inline constexpr int idc_query_ok = 1;
inline constexpr int idc_query_cancel = 2;
inline constexpr int idc_query_test = 129;
inline constexpr int idc_query_help = 9;

class query_dlg_base : public gui_dialog {
public:
    // After OK (1): the name (blanks around it removed) and the query
    // (leading blanks removed).
    const std::wstring& name() const { return m_name; }
    const std::wstring& query() const { return m_query; }

    // The query check on a text: an empty text passes; leading blanks (tab,
    // line feed, carriage return, space) are removed unless the text is all
    // blanks; then it passes when it starts with "SELECT" in any case.
    static bool is_select_text(std::wstring& query);
    // The check on the query edit's text, which is kept as the query.
    bool is_select_query();

    void on_ok();
    void on_test();
    void on_help();

protected:
    // True when the server accepts the query; else its reason (may be empty).
    // A server that cannot be reached throws.
    using query_checker = bool (*)(const std::wstring& query, std::string& reason);
    query_dlg_base(uint32_t help_topic, const std::wstring& name, const std::wstring& query, QWidget* owner,
                   query_checker check);
    void on_init() override;
    // Escape and the close box mean Cancel.
    void reject() override;

private:
    uint32_t m_help_topic;
    std::wstring m_name;
    std::wstring m_query;
    query_checker m_check;
};

template <class TConverter, uint32_t IDH>
class set_query_dlg : public query_dlg_base {
public:
    set_query_dlg(const std::wstring& name, const std::wstring& query, QWidget* owner = nullptr)
        : query_dlg_base(IDH, name, query, owner, &check) {}

private:
    static bool check(const std::wstring& query, std::string& reason) {
        return TConverter::ptr()->check_query(query, reason);
    }
};
