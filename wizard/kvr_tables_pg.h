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

// Shown when the source database's tables cannot be listed.
extern const char* const tables_not_listed_text;

// Name of a query in a list of pairs; -1 when it is not there.
int tables_find_pair(const std::vector<sel_tables_page::name_query>& pairs, const std::wstring& name);

// Queries held as (name, query) pairs beside the two lists. Its members are
// defined (and the program's page instantiated) in kvr_tables_pg.cpp.
template <class TConverter, uint32_t IDH_QUERY, uint32_t IDH_MAPPING>
class sel_tables_page_ex : public sel_tables_page {
public:
    sel_tables_page_ex(const std::wstring& prompt, bool b_reorder, QWidget* parent = nullptr);

    // Queries not yet in either list join the selected list; tables are
    // moved from the available list when they are there.
    void select_names(const std::vector<name_query>& pairs) override;

    bool is_query(const std::wstring& name) const override;

    void on_selected(const std::wstring& name) override { do_add_query(name); }

    void on_unselected(const std::wstring& name) override;

    void do_add_query(const std::wstring& name);

    // "&Add Query": the dialog until it is cancelled or gives a name that
    // the selected list does not hold (in any case).
    void on_add_query();

    // A double-click on a selected query opens it in the dialog.
    void on_edit_query();

    std::vector<name_query>& selected_queries() { return m_selected_queries; }
    std::vector<name_query>& available_queries() { return m_available_queries; }

protected:
    void on_selected_double_click() override { on_edit_query(); }

    std::vector<name_query> m_selected_queries;
    std::vector<name_query> m_available_queries;
};

class kellvar_converter;
extern template class sel_tables_page_ex<kellvar_converter, 1025, 1025>;

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
    // nothing to the converter. A listing that fails keeps the page from
    // being entered at all.
    bool m_lists_ready = false;
};
