// The table selection page: the source database's tables in an available
// and a selected list, buttons that move entries between them, and stored
// queries (a name and a SELECT statement) converted like tables. Next hands
// the selection to the converter.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "g_text.h"
#include "g_wiz_pg.h"
#include "g_wiz_sh.h"
#include "kvr_query_dlg.h"
#include "tk_log.h"

// Control ids of the table selection dialog.
inline constexpr int idc_tables_text = 1337;
inline constexpr int idc_tables_available_label = 1334;
inline constexpr int idc_tables_available = 1317;
inline constexpr int idc_tables_add = 1101;
inline constexpr int idc_tables_add_all = 1102;
inline constexpr int idc_tables_remove = 1111;
inline constexpr int idc_tables_remove_all = 1110;
inline constexpr int idc_tables_add_query = 1114;
inline constexpr int idc_tables_selected_label = 1312;
inline constexpr int idc_tables_selected = 1318;
inline constexpr int idc_tables_up = 1117;
inline constexpr int idc_tables_down = 1118;

class sel_tables_page : public wizard_page<127, wizb_back | wizb_next, psp_has_help> {
public:
    using name_query = std::pair<std::wstring, std::wstring>;

    // prompt: asked when Next is pressed with nothing selected (empty: never).
    sel_tables_page(const std::wstring& prompt, bool b_reorder, QWidget* parent = nullptr);

    // Moves each named entry found in the available list to the selected one.
    virtual void select_names(const std::vector<name_query>& pairs);
    // Whether the entry of that name is a stored query.
    virtual bool is_query(const std::wstring& name) const;
    // An entry moved to the selected list / back to the available list.
    virtual void on_selected(const std::wstring& name);
    virtual void on_unselected(const std::wstring& name);
    // A table (not a query) of the selected list was double-clicked.
    virtual void on_table_double_click(const std::wstring& name);

    // One entry from the available list to the selected one, and back.
    void add_item(int index);
    void remove_item(int index);
    // Index of the available entry equal to the name (case-sensitive), -1.
    int find_available(const std::wstring& name) const;
    // Both lists emptied, names offered in the available list.
    void do_page_init();

    void on_add();
    void on_add_all();
    void on_delete();
    void on_del_all();
    void on_move_up();
    void on_move_down();

    // First step of Next: asks the prompt for an empty selection; then names
    // holds the selected plain tables. False keeps the page.
    bool store_selection(bool ask = true);

    gui_list_box* available_list() const { return m_available; }
    gui_list_box* selected_list() const { return m_selected; }
    const std::wstring& prompt() const { return m_prompt; }

    // On activation the names offered; after Next the selected tables.
    std::vector<std::wstring> names;

protected:
    // A double-click in the selected list.
    virtual void on_selected_double_click();

private:
    bool m_reorder;
    std::wstring m_prompt;
    gui_list_box* m_available = nullptr;
    gui_list_box* m_selected = nullptr;
};

// Name of a query in a list of pairs; -1 when it is not there.
int tables_find_pair(const std::vector<sel_tables_page::name_query>& pairs, const std::wstring& name);

// Queries held as (name, query) pairs beside the two lists.
template <class TConverter, uint32_t IDH_QUERY, uint32_t IDH_MAPPING>
class sel_tables_page_ex : public sel_tables_page {
public:
    sel_tables_page_ex(const std::wstring& prompt, bool b_reorder, QWidget* parent = nullptr)
        : sel_tables_page(prompt, b_reorder, parent) {
        on_click(idc_tables_add_query, [this] { on_add_query(); });
    }

    // Queries not yet in either list join the selected list; tables are
    // moved from the available list when they are there.
    void select_names(const std::vector<name_query>& pairs) override {
        for (const name_query& pair : pairs) {
            if (!pair.second.empty()) {
                const QString name = gui_qstr(pair.first);
                if (available_list()->find_string_exact(name) < 0 && selected_list()->find_string_exact(name) < 0) {
                    selected_list()->set_marked(selected_list()->add_string(name), true);
                    m_selected_queries.push_back(pair);
                }
            } else {
                if (tk_log_wants(2)) tk_wlog(2, L"Processing '%s'", pair.first.c_str());
                int index = find_available(pair.first);
                if (index >= 0) add_item(index);
            }
        }
    }

    bool is_query(const std::wstring& name) const override {
        return tables_find_pair(m_selected_queries, name) >= 0 || tables_find_pair(m_available_queries, name) >= 0;
    }

    void on_selected(const std::wstring& name) override { do_add_query(name); }

    void on_unselected(const std::wstring& name) override {
        int index = tables_find_pair(m_selected_queries, name);
        if (index < 0) return;
        m_available_queries.push_back(m_selected_queries[index]);
        m_selected_queries.erase(m_selected_queries.begin() + index);
    }

    void do_add_query(const std::wstring& name) {
        if (tk_log_wants(2)) tk_wlog(2, L"sel_tables_page_ex::do_add_query(%s)", name.c_str());
        if (tables_find_pair(m_selected_queries, name) >= 0) return;
        int index = tables_find_pair(m_available_queries, name);
        if (index < 0) return;
        const name_query pair = m_available_queries[index];
        if (tk_log_wants(2)) tk_wlog(2, L"Adding pair: '%s','%s'", pair.first.c_str(), pair.second.c_str());
        m_selected_queries.push_back(pair);
        m_available_queries.erase(m_available_queries.begin() + index);
    }

    // "&Add Query": the dialog until it is cancelled or gives a name that
    // the selected list does not hold (in any case).
    void on_add_query() {
        tk_log(2, "sel_tables_page::on_add_query");
        std::wstring name;
        std::wstring query;
        for (;;) {
            set_query_dlg<TConverter, IDH_QUERY> dlg(name, query, window());
            if (dlg.run() != idc_query_ok) return;
            name = dlg.name();
            query = dlg.query();
            if (selected_list()->find_string_exact(gui_qstr(name)) < 0) {
                selected_list()->set_marked(selected_list()->add_string(gui_qstr(name)), true);
                m_selected_queries.emplace_back(name, query);
                return;
            }
            wizard_shell::message(L"Duplicate table name. Try again.");
        }
    }

    // A double-click on a selected query opens it in the dialog.
    void on_edit_query() {
        tk_log(2, "sel_tables_page_ex::on_edit_query");
        const int row = selected_list()->currentRow();
        QString text;
        if (row < 0 || !selected_list()->get_text(row, text)) {
            tk_log(1, "Nothing is selected!");
            return;
        }
        const std::wstring name = gui_wstr(text);
        const int index = tables_find_pair(m_selected_queries, name);
        if (index < 0) {
            tk_log(1, "It's not a query, show type mapping");
            on_table_double_click(name);
            return;
        }
        set_query_dlg<TConverter, IDH_QUERY> dlg(m_selected_queries[index].first, m_selected_queries[index].second,
                                                 window());
        if (dlg.run() != idc_query_ok) return;
        m_selected_queries[index] = name_query(dlg.name(), dlg.query());
        selected_list()->delete_string(row);
        selected_list()->set_marked(selected_list()->add_string(gui_qstr(dlg.name())), true);
    }

    std::vector<name_query>& selected_queries() { return m_selected_queries; }
    std::vector<name_query>& available_queries() { return m_available_queries; }

protected:
    void on_selected_double_click() override { on_edit_query(); }

    std::vector<name_query> m_selected_queries;
    std::vector<name_query> m_available_queries;
};

class kellvar_converter;

class kvr_sel_tables_page : public sel_tables_page_ex<kellvar_converter, 1025, 1025> {
public:
    explicit kvr_sel_tables_page(const std::wstring& prompt = L"There are no tables selected. Continue anyway?",
                                 bool b_reorder = false, QWidget* parent = nullptr);

    bool page_init() override;
    int on_next() override;
    // Back keeps the selection for the next visit (no question asked).
    int on_back() override;
    void on_help() override;

private:
    void store_into_converter();

    // The lists were filled on this visit; a page whose set-up failed hands
    // nothing to the converter.
    bool m_lists_ready = false;
};
