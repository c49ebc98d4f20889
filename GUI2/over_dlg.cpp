#include "over_dlg.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

#include "g_text.h"
#include "g_wiz_pg.h"
#include "g_wiz_sh.h"
#include "tk_excep.h"
#include "tk_log.h"

namespace {

constexpr const char* source_file = "over_dlg";
constexpr int mode_ids[] = {idc_over_entire, idc_over_files, idc_over_skip};

}  // namespace

overwrite_dlg_base::overwrite_dlg_base(uint32_t dialog_id, const std::wstring& message, uint32_t help_topic,
                                       QWidget* owner)
    : gui_dialog(dialog_id, owner), m_message(message), m_help_topic(help_topic) {
    tk_log(1, "overwrite_dlg2::ctor");
    auto* root = new QVBoxLayout(this);
    auto* top = new QHBoxLayout();
    top->addWidget(gui_icon_label(this, QStyle::SP_MessageBoxWarning));
    auto* text = gui_make_static(this, idc_over_message, QString());
    text->setWordWrap(true);
    text->setMinimumWidth(360);
    top->addWidget(text, 1);
    root->addLayout(top);
    auto* choices = new QVBoxLayout();
    choices->setContentsMargins(48, 6, 6, 6);
    choices->addWidget(gui_make_radio(this, idc_over_entire, QStringLiteral("&Overwrite the entire folder")));
    choices->addWidget(gui_make_radio(this, idc_over_files, QStringLiteral("Overwrite existing &files only")));
    choices->addWidget(gui_make_radio(this, idc_over_skip, QStringLiteral("&Skip existing files")));
    root->addLayout(choices);
    auto* row = new QHBoxLayout();
    row->addStretch(1);
    const ok_cancel_help buttons = add_ok_cancel_help(row, idc_over_ok, idc_over_cancel, idc_over_help);
    root->addLayout(row);
    connect(buttons.ok, &QPushButton::clicked, this, [this] { gui_guarded([this] { on_ok(); }); });
    connect(buttons.cancel, &QPushButton::clicked, this, [this] { done(idc_over_cancel); });
    connect(buttons.help, &QPushButton::clicked, this,
            [this] { gui_guarded([this] { wizard_shell::display_help(m_help_topic); }); });
}

void overwrite_dlg_base::on_init() {
    tk_log(1, "overwrite_dlg2::on_init");
    gui_guarded([this] { setWindowTitle(gui_qstr(wizard_shell::ptr()->title() + L" Warning")); });
    control<QLabel>(idc_over_message)->setText(gui_qstr(m_message));
    // The entire folder is always the proposed choice.
    control<QRadioButton>(idc_over_entire)->setChecked(true);
    center_and_raise();
    QApplication::beep();
}

void overwrite_dlg_base::on_ok() {
    tk_log(1, "overwrite_dlg2::on_ok");
    for (uint32_t m = 0; m < 3; ++m) {
        auto* radio = control<QRadioButton>(mode_ids[m]);
        if (radio && radio->isChecked()) {
            m_mode = m;
            done(idc_over_ok);
            return;
        }
    }
    throw tk_mail_assertion(source_file, 156);
}

void overwrite_dlg_base::reject() { done(idc_over_cancel); }
