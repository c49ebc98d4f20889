#include "kvr_tables_pg.h"

#include <algorithm>

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "g_err_tab.h"
#include "g_seam.h"
#include "kvr_busy.h"
#include "kvr_conv.h"
#include "kvr_query_dlg.h"
#include "tk_excep.h"
#include "tk_log.h"

const char* const tables_not_listed_text =
    "The tables of the source database could not be listed.\n"
    "Go back and check the connection and the database name.";

int tables_find_pair(const std::vector<sel_tables_page::name_query>& pairs, const std::wstring& name) {
    for (size_t i = 0; i < pairs.size(); ++i)
        if (pairs[i].first == name) return static_cast<int>(i);
    return -1;
}

// The two lists and the moving between them.

sel_tables_page::sel_tables_page(const std::wstring& prompt, bool b_reorder, QWidget* parent)
    : wizard_page(parent), m_reorder(b_reorder), m_prompt(prompt) {
    tk_log(2, "sel_tables_page::ctor(b_reorder=%d)", b_reorder ? 1 : 0);
    auto* root = new QVBoxLayout(this);
    root->addWidget(gui_make_static(this, idc_tables_text, QString()));
    auto* grid = new QGridLayout();
    QLabel* available_label = gui_make_static(this, idc_tables_available_label, QString());
    QLabel* selected_label = gui_make_static(this, idc_tables_selected_label, QString());
    m_available = new gui_list_box(idc_tables_available, true, true, this);
    m_selected = new gui_list_box(idc_tables_selected, true, true, this);
    // Stored queries are told from tables by this mark.
    m_available->set_mark_suffix(QStringLiteral("  (query)"));
    m_selected->set_mark_suffix(QStringLiteral("  (query)"));
    available_label->setBuddy(m_available);
    selected_label->setBuddy(m_selected);
    grid->addWidget(available_label, 0, 0);
    grid->addWidget(selected_label, 0, 2);
    grid->addWidget(m_available, 1, 0);
    auto* middle = new QVBoxLayout();
    middle->addStretch(1);
    middle->addWidget(gui_make_button(this, idc_tables_add, QStringLiteral("A&dd >")));
    middle->addWidget(gui_make_button(this, idc_tables_add_all, QStringLiteral("Add a&ll >")));
    middle->addSpacing(8);
    middle->addWidget(gui_make_button(this, idc_tables_remove, QStringLiteral("< &Remove")));
    middle->addWidget(gui_make_button(this, idc_tables_remove_all, QStringLiteral("< Re&move all")));
    middle->addSpacing(8);
    QPushButton* add_query = gui_make_button(this, idc_tables_add_query, QStringLiteral("Add &Query"));
    add_query->hide();
    middle->addWidget(add_query);
    middle->addStretch(1);
    grid->addLayout(middle, 1, 1);
    grid->addWidget(m_selected, 1, 2);
    auto* order = new QVBoxLayout();
    order->addStretch(1);
    QPushButton* up = gui_make_button(this, idc_tables_up, QStringLiteral("^"));
    QPushButton* down = gui_make_button(this, idc_tables_down, QStringLiteral("v"));
    up->hide();
    down->hide();
    order->addWidget(up);
    order->addWidget(down);
    order->addStretch(1);
    grid->addLayout(order, 1, 3);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    root->addLayout(grid, 1);

    on_click(idc_tables_add, [this] { on_add(); });
    on_click(idc_tables_add_all, [this] { on_add_all(); });
    on_click(idc_tables_remove, [this] { on_delete(); });
    on_click(idc_tables_remove_all, [this] { on_del_all(); });
    on_click(idc_tables_up, [this] { on_move_up(); });
    on_click(idc_tables_down, [this] { on_move_down(); });
    connect(m_available, &QListWidget::itemDoubleClicked, this, [this] { gui_guarded([this] { on_add(); }); });
    connect(m_selected, &QListWidget::itemDoubleClicked, this,
            [this] { gui_guarded([this] { on_selected_double_click(); }); });
}

void sel_tables_page::select_names(const std::vector<name_query>& pairs) {
    for (const name_query& pair : pairs) {
        int index = find_available(pair.first);
        if (index >= 0) add_item(index);
    }
}

bool sel_tables_page::is_query(const std::wstring&) const { return false; }
void sel_tables_page::on_selected(const std::wstring&) {}
void sel_tables_page::on_unselected(const std::wstring&) {}
void sel_tables_page::on_table_double_click(const std::wstring&) {}
void sel_tables_page::on_selected_double_click() {}

void sel_tables_page::add_item(int index) {
    QString text;
    if (!m_available->get_text(index, text)) return;
    const bool marked = m_available->is_marked(index);
    m_selected->set_marked(m_selected->add_string(text), marked);
    if (!m_available->delete_string(index)) return;
    const std::wstring name = gui_wstr(text);
    if (is_query(name)) on_selected(name);
}

void sel_tables_page::remove_item(int index) {
    QString text;
    if (!m_selected->get_text(index, text)) return;
    const bool marked = m_selected->is_marked(index);
    m_available->set_marked(m_available->add_string(text), marked);
    if (!m_selected->delete_string(index)) return;
    const std::wstring name = gui_wstr(text);
    if (is_query(name)) on_unselected(name);
}

int sel_tables_page::find_available(const std::wstring& name) const { return m_available->find_exact_case(gui_qstr(name)); }

void sel_tables_page::do_page_init() {
    tk_log(2, "sel_tables_page::do_page_init");
    m_available->clear();
    m_selected->clear();
    for (const std::wstring& name : names) m_available->add_string(gui_qstr(name));
    if (m_available->count() > 0) {
        tk_log(2, "Highlight 1st row");
        m_available->select_only(0);
    }
    if (m_reorder) {
        tk_log(2, "Activating re-order buttons");
        show_ctrl(idc_tables_up, true);
        show_ctrl(idc_tables_down, true);
    }
}

namespace {

// Moves the selected entries of one list with move(index); then the entry
// after the moved ones is selected, or, when the list is empty, the first
// entry of the other list.
void move_selected(gui_list_box* from, gui_list_box* to, const char* what, const std::function<void(int)>& move) {
    const QList<int> selected = from->selected_indexes();
    tk_log(2, "n_sel=%d", static_cast<int>(selected.size()));
    if (selected.isEmpty()) return;
    int moved = 0;
    for (int index : selected) {
        tk_log(2, "%s item #%d", what, index);
        move(index - moved);
        ++moved;
    }
    if (from->count() > 0) {
        from->select_only(std::min(selected.back() - moved + 1, from->count() - 1));
    } else {
        to->clear_sel();
        to->setFocus();
        to->select_only(0);
    }
}

}  // namespace

void sel_tables_page::on_add() {
    tk_log(2, "sel_tables_page::on_add");
    move_selected(m_available, m_selected, "Adding", [this](int i) { add_item(i); });
}

void sel_tables_page::on_add_all() {
    tk_log(2, "sel_tables_page::on_add_all");
    while (m_available->count() > 0) add_item(0);
    m_selected->setFocus();
    m_selected->setCurrentRow(0);
}

void sel_tables_page::on_delete() {
    tk_log(2, "sel_tables_page::on_delete");
    move_selected(m_selected, m_available, "Deleting", [this](int i) { remove_item(i); });
}

void sel_tables_page::on_del_all() {
    tk_log(2, "sel_tables_page::on_del_all");
    while (m_selected->count() > 0) remove_item(0);
    m_available->setFocus();
    m_available->setCurrentRow(0);
}

void sel_tables_page::on_move_up() {
    tk_log(2, "sel_tables_page::on_move_up");
    const int row = m_selected->currentRow();
    if (row <= 0) return;
    QListWidgetItem* item = m_selected->takeItem(row);
    m_selected->insertItem(row - 1, item);
    m_selected->setCurrentRow(row - 1);
}

void sel_tables_page::on_move_down() {
    tk_log(2, "sel_tables_page::on_move_down");
    const int row = m_selected->currentRow();
    if (row < 0 || row + 1 >= m_selected->count()) return;
    QListWidgetItem* item = m_selected->takeItem(row);
    m_selected->insertItem(row + 1, item);
    m_selected->setCurrentRow(row + 1);
}

bool sel_tables_page::store_selection(bool ask) {
    if (ask && m_available->count() > 0 && m_selected->count() == 0 && !m_prompt.empty()) {
        if (!wizard_shell::question(m_prompt, mb_defbutton2)) return false;
    }
    names.clear();
    for (int i = 0; i < m_selected->count(); ++i) {
        QString text;
        if (!m_selected->get_text(i, text)) return false;
        const std::wstring name = gui_wstr(text);
        if (!is_query(name)) names.push_back(name);
    }
    return true;
}

// Queries held beside the two lists.

template <class TConverter, uint32_t IDH_QUERY, uint32_t IDH_MAPPING>
sel_tables_page_ex<TConverter, IDH_QUERY, IDH_MAPPING>::sel_tables_page_ex(const std::wstring& prompt, bool b_reorder,
                                                                         QWidget* parent)
    : sel_tables_page(prompt, b_reorder, parent) {
    on_click(idc_tables_add_query, [this] { on_add_query(); });
}

template <class TConverter, uint32_t IDH_QUERY, uint32_t IDH_MAPPING>
void sel_tables_page_ex<TConverter, IDH_QUERY, IDH_MAPPING>::select_names(const std::vector<name_query>& pairs) {
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

template <class TConverter, uint32_t IDH_QUERY, uint32_t IDH_MAPPING>
bool sel_tables_page_ex<TConverter, IDH_QUERY, IDH_MAPPING>::is_query(const std::wstring& name) const {
    return tables_find_pair(m_selected_queries, name) >= 0 || tables_find_pair(m_available_queries, name) >= 0;
}

template <class TConverter, uint32_t IDH_QUERY, uint32_t IDH_MAPPING>
void sel_tables_page_ex<TConverter, IDH_QUERY, IDH_MAPPING>::on_unselected(const std::wstring& name) {
    int index = tables_find_pair(m_selected_queries, name);
    if (index < 0) return;
    m_available_queries.push_back(m_selected_queries[index]);
    m_selected_queries.erase(m_selected_queries.begin() + index);
}

template <class TConverter, uint32_t IDH_QUERY, uint32_t IDH_MAPPING>
void sel_tables_page_ex<TConverter, IDH_QUERY, IDH_MAPPING>::do_add_query(const std::wstring& name) {
    if (tk_log_wants(2)) tk_wlog(2, L"sel_tables_page_ex::do_add_query(%s)", name.c_str());
    if (tables_find_pair(m_selected_queries, name) >= 0) return;
    int index = tables_find_pair(m_available_queries, name);
    if (index < 0) return;
    const name_query pair = m_available_queries[index];
    if (tk_log_wants(2)) tk_wlog(2, L"Adding pair: '%s','%s'", pair.first.c_str(), pair.second.c_str());
    m_selected_queries.push_back(pair);
    m_available_queries.erase(m_available_queries.begin() + index);
}

template <class TConverter, uint32_t IDH_QUERY, uint32_t IDH_MAPPING>
void sel_tables_page_ex<TConverter, IDH_QUERY, IDH_MAPPING>::on_add_query() {
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

template <class TConverter, uint32_t IDH_QUERY, uint32_t IDH_MAPPING>
void sel_tables_page_ex<TConverter, IDH_QUERY, IDH_MAPPING>::on_edit_query() {
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

template class sel_tables_page_ex<kellvar_converter, 1025, 1025>;

// The program's page.

kvr_sel_tables_page::kvr_sel_tables_page(const std::wstring& prompt, bool b_reorder, QWidget* parent)
    : sel_tables_page_ex(prompt, b_reorder, parent) {}

bool kvr_sel_tables_page::page_init() {
    control<QLabel>(idc_tables_text)->setText(QStringLiteral("Select MySQL tables to convert into CSV format."));
    control<QLabel>(idc_tables_available_label)->setText(QStringLiteral("&Available tables:"));
    control<QLabel>(idc_tables_selected_label)->setText(QStringLiteral("&Selected tables:"));
    kellvar_converter* conv = kellvar_converter::ptr();

    // The tables are listed before anything of the page changes. A listing
    // that is cut or fails is not entered: the previous page stays, and the
    // converter's lists (a profile's selection) are left as they are.
    std::vector<std::wstring> tables;
    try {
        if (!kvr_server_call([&] { conv->get_all_tables(tables); }, {})) {
            keep_previous_page();
            return false;
        }
    } catch (const tk_exception& e) {
        tk_log(3, "The tables cannot be listed: %s", e.what());
        wizard_shell::error(std::string(tables_not_listed_text) + "\n\n" + gui_server_failure_text(e));
        keep_previous_page();
        return false;
    } catch (const std::exception& e) {
        tk_log(3, "The tables cannot be listed: %s", e.what());
        wizard_shell::error(std::string(tables_not_listed_text) + "\n\n" + e.what());
        keep_previous_page();
        return false;
    }

    // The page's lists are rebuilt from the converter on every visit.
    m_lists_ready = false;
    m_selected_queries.clear();
    m_available_queries.clear();
    names = std::move(tables);
    available_list()->clear();
    selected_list()->clear();
    do_page_init();
    show_ctrl(idc_tables_add_query, true);

    select_names(conv->table_queries);
    // The tables chosen on an earlier visit are chosen again.
    for (const std::wstring& table : conv->selected_tables) {
        const int index = find_available(table);
        if (index >= 0) add_item(index);
    }
    // Stored queries not chosen are offered in the available list, each once.
    for (const name_query& pair : conv->available_queries) {
        if (pair.second.empty()) continue;
        const QString name = gui_qstr(pair.first);
        if (available_list()->find_string_exact(name) >= 0 || selected_list()->find_string_exact(name) >= 0) continue;
        available_list()->set_marked(available_list()->add_string(name), true);
        m_available_queries.push_back(pair);
    }
    m_lists_ready = true;
    return true;
}

void kvr_sel_tables_page::store_into_converter() {
    kellvar_converter* conv = kellvar_converter::ptr();
    conv->selected_tables = names;
    conv->table_queries = m_selected_queries;
    conv->available_queries = m_available_queries;
}

int kvr_sel_tables_page::on_next() {
    if (!m_lists_ready) {
        wizard_shell::error(std::string(tables_not_listed_text));
        return page_refuse;
    }
    if (!store_selection()) return page_refuse;
    store_into_converter();
    return page_go_on;
}

int kvr_sel_tables_page::on_back() {
    if (m_lists_ready && store_selection(false)) store_into_converter();
    return page_go_on;
}

void kvr_sel_tables_page::on_help() { wizard_shell::display_help(1014); }
