#include "g_finish.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

#include "g_f_dlg.h"
#include "g_text.h"
#include "g_wiz_sh.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "wformat.h"

namespace {

constexpr const char* source_file = "g_finish";
const QString finish_default_title = QStringLiteral("Conversion is Completed");

// Appends at the end of the edit as a user's typing would: caret to the end,
// scrolled into view, the selection replaced.
void append_text(QPlainTextEdit& edit, const QString& text) {
    QTextCursor cursor = edit.textCursor();
    cursor.movePosition(QTextCursor::End);
    edit.setTextCursor(cursor);
    edit.ensureCursorVisible();
    edit.insertPlainText(text);
}

}  // namespace

void finish_build_dialog(wizard_page_common& page) {
    auto* root = new QVBoxLayout(&page);
    root->setContentsMargins(20, 20, 20, 20);
    root->addWidget(gui_make_static(&page, idc_finish_title, finish_default_title));
    root->addSpacing(12);
    QLabel* result = gui_make_static(&page, idc_finish_result, QString());
    result->setWordWrap(true);
    root->addWidget(result);
    auto* errors = new QPlainTextEdit(&page);
    errors->setObjectName(QString::number(idc_finish_errors));
    errors->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    errors->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    errors->hide();
    root->addWidget(errors, 1);
    root->addStretch(0);
    auto* row = new QHBoxLayout();
    row->addWidget(gui_make_button(&page, idc_finish_store, QStringLiteral("&Save Settings...")));
    row->addStretch(1);
    root->addSpacing(12);
    root->addLayout(row);
}

void finish_show_result(wizard_page_common& page, const finish_outcome& outcome, const std::wstring& success_text,
                        const std::wstring& error_text) {
    auto* title = page.control<QLabel>(idc_finish_title);
    auto* result = page.control<QLabel>(idc_finish_result);
    auto* edit = page.control<QPlainTextEdit>(idc_finish_errors);
    if (!result || !edit) return;
    if (title) title->setText(outcome.stopped ? gui_qstr(std::wstring(finish_stopped_title)) : finish_default_title);
    edit->clear();
    edit->setReadOnly(false);
    if (outcome.errors.empty() && !outcome.run_failed && !outcome.stopped) {
        edit->hide();
        // A run of nothing is no success.
        if (outcome.nothing_converted) {
            tk_log(2, "Display nothing-converted message");
            if (title) title->setText(gui_qstr(std::wstring(finish_nothing_title)));
            result->setText(gui_qstr(std::wstring(finish_nothing_text)));
            return;
        }
        tk_log(2, "Display success-message");
        result->setText(gui_qstr(success_text));
        return;
    }
    tk_log(2, "Display errors");
    result->setText(gui_qstr(outcome.stopped ? std::wstring(finish_stopped_text) : error_text));
    edit->show();
    for (const std::string& error : outcome.errors) {
        std::string line = error;
        std::replace(line.begin(), line.end(), '\n', ' ');
        append_text(*edit, gui_qstr(line));
        append_text(*edit, QStringLiteral("\n\n"));
    }
    if (outcome.errors_left_out > 0) {
        append_text(*edit, QStringLiteral("\u2026 and %1 more").arg(outcome.errors_left_out));
        append_text(*edit, QStringLiteral("\n\n"));
    }
    if (outcome.errors.empty() && outcome.errors_left_out == 0 && (outcome.run_failed || !outcome.stopped)) {
        append_text(*edit, gui_qstr(std::wstring(finish_unlisted_error_text)));
        append_text(*edit, QStringLiteral("\n\n"));
    }
    if (outcome.stopped && !outcome.not_converted.empty()) {
        append_text(*edit, gui_qstr(std::wstring(finish_not_converted_heading)) + QStringLiteral("\n"));
        for (const auto& [name, query] : outcome.not_converted)
            append_text(*edit, gui_qstr(name) + (query.empty() ? QString() : QStringLiteral(" (query)")) +
                                   QStringLiteral("\n"));
    }
    edit->setReadOnly(true);
    // The list is read from its first line.
    QTextCursor top = edit->textCursor();
    top.movePosition(QTextCursor::Start);
    edit->setTextCursor(top);
    edit->verticalScrollBar()->setValue(0);
}

void finish_page_init(wizard_page_common& page, const std::wstring& success_text, const std::wstring& error_text,
                      finish_outcome outcome) {
    tk_log(2, "gui_finish_page::page_init");
    if (auto* title = page.control<QLabel>(idc_finish_title)) title->setFont(page.title_font());
    wizard_shell* shell = wizard_shell::ptr();
    // Neither back nor away: only Finish is left.
    shell->enable_button(idc_cancel, false);
    shell->enable_button(idc_help, false);
    outcome.errors = shell->error_list();
    outcome.errors_left_out = shell->errors_left_out();
    finish_show_result(page, outcome, success_text, error_text);
}

std::wstring finish_profile_filter(const std::wstring& extension) {
    return plat::wformat(L"Profile Files (.%s)|*.%s|All Files (*.*)|*.*|", extension.c_str(), extension.c_str());
}

void finish_store_profile(QWidget* owner, const std::wstring& extension, bool (*store)(const std::wstring& path)) {
    const std::wstring filter = finish_profile_filter(extension);
    if (tk_log_wants(1)) tk_wlog(1, L"gui_finish_page_t::on_store(%s)", filter.c_str());
    if (extension.size() < 3 || extension.size() > 4) throw tk_mail_assertion(source_file, 141);
    save_file_dialog dlg(owner, gui_bar_filter(filter), L"Select Profile", std::wstring(), extension);
    if (!dlg.show()) return;
    if (!store(dlg.file_name())) wizard_shell::error(L"The profile could not be written: " + dlg.file_name());
}
