#include "g_err_dlg.h"

#include <algorithm>

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "g_seam.h"
#include "g_text.h"
#include "g_wiz_sh.h"
#include "tk_clipb.h"
#include "tk_log.h"
#include "tk_utils.h"

namespace {

QPushButton* add_button(QWidget* parent, QHBoxLayout* row, int id, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::number(id));
    b->setAutoDefault(false);
    row->addWidget(b);
    return b;
}

// Icon and message on top; the caller adds the row of buttons below.
QVBoxLayout* build_frame(QDialog* dlg) {
    auto* root = new QVBoxLayout(dlg);
    auto* top = new QHBoxLayout();
    top->addWidget(gui_icon_label(dlg, QStyle::SP_MessageBoxCritical));
    auto* message = new QLabel(dlg);
    message->setObjectName(QString::number(idc_err_message));
    message->setWordWrap(true);
    message->setTextFormat(Qt::PlainText);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message->setMinimumWidth(360);
    message->setMinimumHeight(2 * message->fontMetrics().lineSpacing());
    top->addWidget(message, 1);
    root->addLayout(top);
    return root;
}

// The message label grows to show the whole text at its width.
void set_message(QDialog* dlg, const std::wstring& text) {
    auto* label = dlg->findChild<QLabel*>(QString::number(idc_err_message));
    label->setText(gui_qstr(text));
    const int lines = 2 * label->fontMetrics().lineSpacing();
    label->setMinimumHeight(std::max(lines, label->heightForWidth(label->minimumWidth())));
}

}  // namespace

dlg_error_ex::dlg_error_ex(const std::wstring& message, QWidget* owner) : gui_dialog(idd, owner), m_message(message) {
    tk_log(1, "dlg_error_ex::ctor");
    QVBoxLayout* root = build_frame(this);
    auto* row = new QHBoxLayout();
    row->addStretch(1);
    QPushButton* send = add_button(this, row, idc_err_send_bug, QStringLiteral("&Send bug"));
    QPushButton* ok = add_button(this, row, idc_err_ok, QStringLiteral("O&K"));
    QPushButton* copy = add_button(this, row, idc_err_copy, QStringLiteral("&Copy to clipboard"));
    root->addLayout(row);
    send->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { done(idc_err_ok); });
    connect(copy, &QPushButton::clicked, this, [this] {
        tk_copy_to_clipboard2(m_message);
        done(idc_err_copy);
    });
    connect(send, &QPushButton::clicked, this, [this] { on_send_bug(); });
}

void dlg_error_ex::on_init() {
    tk_log(1, "dlg_error_ex::on_init");
    setWindowTitle(gui_qstr(wizard_shell::caption_for(L"Error")));
    set_message(this, m_message);
    center_and_raise();
}

void dlg_error_ex::on_send_bug() {
    tk_log(1, "dlg_error_ex::on_send_bug");
    std::wstring title;
    if (wizard_shell::is_initialized())
        if (wizard_shell* shell = wizard_shell::peek()) title = shell->title();
    gui_current_seam().send_bug(tk_to_ansi(title, tk_cp_ansi), tk_to_ansi(m_message, tk_cp_ansi));
    // Closes with the button's notification code.
    done(0);
}

void dlg_error_ex::reject() { done(idc_err_ok); }

dlg_error_continue::dlg_error_continue(const std::wstring& message, QWidget* owner)
    : gui_dialog(idd, owner), m_message(message) {
    tk_log(1, "dlg_error_continue::ctor");
    QVBoxLayout* root = build_frame(this);
    auto* check = new QCheckBox(QStringLiteral("&Do not show this dialog box again"), this);
    check->setObjectName(QString::number(idc_err_do_not_show));
    auto* row = new QHBoxLayout();
    row->addWidget(check);
    row->addStretch(1);
    QPushButton* cont = add_button(this, row, idc_err_continue, QStringLiteral("&Continue"));
    QPushButton* abort = add_button(this, row, idc_err_abort, QStringLiteral("&Abort"));
    root->addLayout(row);
    cont->setDefault(true);
    connect(cont, &QPushButton::clicked, this, [this] { done(idc_err_continue); });
    connect(abort, &QPushButton::clicked, this, [this] { done(idc_err_abort); });
    connect(check, &QCheckBox::toggled, this, [this](bool on) { m_do_not_show = on; });
}

void dlg_error_continue::on_init() {
    tk_log(1, "dlg_error_continue::on_init");
    setWindowTitle(gui_qstr(wizard_shell::caption_for(L"Error")));
    set_message(this, m_message);
    center_and_raise();
}

void dlg_error_continue::reject() { done(idc_err_continue); }
