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
    root->addWidget(gui_make_static(&page, idc_finish_title, QStringLiteral("Conversion is Completed")));
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

void finish_show_result(wizard_page_common& page, const std::vector<std::string>& errors, bool run_failed,
                        const std::wstring& success_text, const std::wstring& error_text) {
    auto* result = page.control<QLabel>(idc_finish_result);
    auto* edit = page.control<QPlainTextEdit>(idc_finish_errors);
    if (!result || !edit) return;
    edit->clear();
    edit->setReadOnly(false);
    if (errors.empty() && !run_failed) {
        tk_log(2, "Display success-message");
        result->setText(gui_qstr(success_text));
        edit->hide();
        return;
    }
    tk_log(2, "Display errors");
    result->setText(gui_qstr(error_text));
    edit->show();
    for (const std::string& error : errors) {
        std::string line = error;
        std::replace(line.begin(), line.end(), '\n', ' ');
        append_text(*edit, gui_qstr(line));
        append_text(*edit, QStringLiteral("\n\n"));
    }
    if (errors.empty()) {
        append_text(*edit, gui_qstr(std::wstring(finish_unlisted_error_text)));
        append_text(*edit, QStringLiteral("\n\n"));
    }
    edit->setReadOnly(true);
}

void finish_page_init(wizard_page_common& page, const std::wstring& success_text, const std::wstring& error_text,
                      bool run_failed) {
    tk_log(2, "gui_finish_page::page_init");
    if (auto* title = page.control<QLabel>(idc_finish_title)) title->setFont(page.title_font());
    wizard_shell* shell = wizard_shell::ptr();
    // Neither back nor away: only Finish is left.
    shell->enable_button(idc_cancel, false);
    shell->enable_button(idc_help, false);
    finish_show_result(page, shell->error_list(), run_failed, success_text, error_text);
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
