#include "kvr_welcome.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "g_f_dlg.h"
#include "g_text.h"
#include "g_wiz_sh.h"
#include "kvr_conv.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "wformat.h"

void welcome_build_dialog(wizard_page_common& page) {
    auto* root = new QVBoxLayout(&page);
    root->setContentsMargins(20, 20, 20, 20);
    QLabel* title = gui_make_static(&page, idc_welcome_title, QStringLiteral("Welcome to Fennrow\nConversion Wizard\n"));
    root->addWidget(title);
    root->addWidget(gui_make_static(&page, 0, QStringLiteral("This wizard helps you to convert MySQL database into")));
    root->addWidget(gui_make_static(&page, 0, QStringLiteral("comma separated values (.csv) format.")));
    root->addSpacing(16);
    root->addWidget(gui_make_static(&page, 0, QStringLiteral("Click 'Next' to continue.")));
    root->addStretch(1);
    auto* row = new QHBoxLayout();
    row->addWidget(gui_make_button(&page, idc_welcome_load, QStringLiteral("&Load Settings...")));
    row->addStretch(1);
    root->addLayout(row);
}

std::wstring welcome_profile_filter(const std::wstring& extension) {
    return plat::wformat(L"Profile Files (.%s)|*.%s|All Files (*.*)|*.*|", extension.c_str(), extension.c_str());
}

void welcome_load_profile(QWidget* owner, const std::wstring& extension, bool (*load)(const std::wstring& path)) {
    const std::wstring filter = welcome_profile_filter(extension);
    if (tk_log_wants(1)) tk_wlog(1, L"welcome_page_t::on_load(%s)", filter.c_str());
    if (extension.size() < 3 || extension.size() > 4) throw tk_mail_assertion("g_finish", 266);
    try {
        open_file_dialog dlg(owner, gui_bar_filter(filter), L"Select Profile", std::wstring());
        if (!dlg.show()) return;
        if (!load(dlg.file_name()))
            wizard_shell::error(L"The profile could not be read: " + dlg.file_name());
    } catch (const tk_exception& e) {
        // Reported at its own level; the page stays.
        gui_report_failure(e);
    }
}

welcome_page::welcome_page(const std::wstring& extension, QWidget* parent)
    : welcome_page_t<kellvar_converter, 103>(extension, parent) {}

bool welcome_page::page_init() {
    if (auto* title = control<QLabel>(idc_welcome_title)) title->setFont(title_font());
    return true;
}

void welcome_page::on_help() { wizard_shell::display_help(1012); }
