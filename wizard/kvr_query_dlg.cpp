#include "kvr_query_dlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "g_busy.h"
#include "g_err_tab.h"
#include "g_text.h"
#include "g_wiz_pg.h"
#include "g_wiz_sh.h"
#include "kvr_busy.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"

namespace {

constexpr wchar_t blanks[] = L"\t\n\r ";

}  // namespace

query_dlg_base::query_dlg_base(uint32_t help_topic, const std::wstring& name, const std::wstring& query,
                               QWidget* owner, query_checker check)
    : gui_dialog(idd_query, owner), m_help_topic(help_topic), m_name(name), m_query(query), m_check(check) {
    setWindowTitle(QStringLiteral("Add Query"));
    auto* root = new QVBoxLayout(this);
    auto* grid = new QGridLayout();
    QLineEdit* name_edit = gui_make_edit(this, idc_query_name);
    name_edit->setMaxLength(2048);
    auto* query_edit = new gui_text_edit(this);
    query_edit->setObjectName(QString::number(idc_query_text));
    query_edit->setTabChangesFocus(true);
    query_edit->setMinimumSize(420, 160);
    gui_add_field_row(grid, 0, this, QStringLiteral("&Store as Table:"), name_edit);
    gui_add_field_row(grid, 1, this, QStringLiteral("&Query:"), query_edit, Qt::AlignTop);
    root->addLayout(grid, 1);
    auto* row = new QHBoxLayout();
    QPushButton* test = gui_make_button(this, idc_query_test, QStringLiteral("&Test Query"));
    row->addWidget(test);
    row->addStretch(1);
    const ok_cancel_help buttons = add_ok_cancel_help(row, idc_query_ok, idc_query_cancel, idc_query_help);
    root->addLayout(row);
    connect(buttons.ok, &QPushButton::clicked, this, [this] { gui_guarded([this] { on_ok(); }); });
    connect(buttons.cancel, &QPushButton::clicked, this, [this] { reject(); });
    connect(test, &QPushButton::clicked, this, [this] { gui_guarded([this] { on_test(); }); });
    connect(buttons.help, &QPushButton::clicked, this, [this] { gui_guarded([this] { on_help(); }); });
}

void query_dlg_base::on_init() {
    tk_log(1, "set_query_dlg::on_init");
    control<QLineEdit>(idc_query_name)->setText(gui_qstr(m_name));
    control<QPlainTextEdit>(idc_query_text)->setPlainText(gui_qstr(m_query));
    center_and_raise();
}

void query_dlg_base::reject() {
    // While the query is tested, Cancel ends the test only.
    if (gui_busy_cancel()) return;
    tk_log(1, "set_query_dlg::on_cancel");
    done(idc_query_cancel);
}

bool query_dlg_base::is_select_text(std::wstring& query) {
    if (query.empty()) return true;
    const auto first = query.find_first_not_of(blanks);
    if (first != std::wstring::npos) query.erase(0, first);
    if (query.size() < 6) return false;
    for (size_t i = 0; i < 6; ++i) {
        wchar_t c = query[i];
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        if (c != L"SELECT"[i]) return false;
    }
    return true;
}

bool query_dlg_base::is_select_query() {
    m_query = gui_wstr(control<QPlainTextEdit>(idc_query_text)->toPlainText());
    return is_select_text(m_query);
}

void query_dlg_base::on_ok() {
    tk_log(1, "set_query_dlg::on_ok");
    m_name = tk_trim(gui_wstr(control<QLineEdit>(idc_query_name)->text()));
    if (m_name.empty()) {
        wizard_shell::message(L"Table name is empty!");
        return;
    }
    if (!is_select_query()) {
        wizard_shell::error(std::wstring(L"The query must start with SELECT."));
        return;
    }
    if (m_query.empty()) {
        wizard_shell::error(std::wstring(L"Query is empty!"));
        return;
    }
    done(idc_query_ok);
}

void query_dlg_base::on_test() {
    tk_log(1, "set_query_dlg::on_test");
    const std::wstring typed = gui_wstr(control<QPlainTextEdit>(idc_query_text)->toPlainText());
    std::wstring checked = typed;
    if (!is_select_text(checked)) {
        wizard_shell::error(std::wstring(L"The query must start with SELECT."));
        return;
    }
    if (checked.empty()) {
        wizard_shell::error(std::wstring(L"Query is empty!"));
        return;
    }
    bool accepted = false;
    std::string reason;
    if (m_check) {
        // The server may be slow or gone: the dialog stays usable and Cancel
        // cuts the test.
        QList<QWidget*> blocked;
        for (int id : {idc_query_name, idc_query_text, idc_query_ok, idc_query_test, idc_query_help})
            blocked.append(control<QWidget>(id));
        const query_checker check = m_check;
        try {
            if (!kvr_server_call([&] { accepted = check(typed, reason); }, blocked)) return;
        } catch (const tk_exception& e) {
            // No answer is no verdict on the query.
            wizard_shell::error(gui_server_failure_text(e));
            return;
        }
    }
    if (accepted) {
        wizard_shell::message(L"The query is correct.");
        return;
    }
    std::wstring text = L"The query has a syntax error. It must be a correct SQL SELECT statement.";
    if (!reason.empty()) text += L"\n\n" + gui_wstr(QString::fromUtf8(reason.c_str()));
    wizard_shell::error(text);
}

void query_dlg_base::on_help() { wizard_shell::display_help(m_help_topic); }
