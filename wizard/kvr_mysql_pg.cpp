#include "kvr_mysql_pg.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

#include "g_err_tab.h"

void mysql_page_build_dialog(wizard_page_common& page) {
    auto* root = new QVBoxLayout(&page);
    root->addWidget(gui_make_static(&page, 0,
                                    QStringLiteral("Provide necessary information to establish connection with MySQL server.")));

    QGroupBox* mode = gui_make_group(&page, QStringLiteral(" Access mode "));
    auto* mode_row = new QHBoxLayout(mode);
    mode_row->addWidget(gui_make_radio(mode, idc_mysql_local, QStringLiteral("&Local")));
    mode_row->addWidget(gui_make_radio(mode, idc_mysql_remote, QStringLiteral("&Remote")));
    mode_row->addStretch(1);
    root->addWidget(mode);

    QGroupBox* auth = gui_make_group(&page, QStringLiteral(" Authorization settings "));
    auto* auth_grid = new QGridLayout(auth);
    QLineEdit* user = gui_make_edit(auth, idc_mysql_user);
    QLineEdit* password = gui_make_edit(auth, idc_mysql_password);
    password->setEchoMode(QLineEdit::Password);
    gui_add_field_row(auth_grid, 0, auth, QStringLiteral("&User name:"), user);
    gui_add_field_row(auth_grid, 1, auth, QStringLiteral("User pa&ssword:"), password);
    root->addWidget(auth);

    QGroupBox* remote = gui_make_group(&page, QStringLiteral(" Remote settings "));
    auto* remote_grid = new QGridLayout(remote);
    QLineEdit* host = gui_make_edit(remote, idc_mysql_host);
    QLineEdit* port = gui_make_edit(remote, idc_mysql_port);
    gui_add_field_row(remote_grid, 0, remote, QStringLiteral("H&ost:"), host);
    gui_add_field_row(remote_grid, 1, remote, QStringLiteral("&Port:"), port);
    remote_grid->addWidget(gui_make_static(remote, 0, QStringLiteral("(it could be network name or IP address)")), 0, 2);
    remote_grid->addWidget(gui_make_static(remote, 0, QStringLiteral("(default MySQL port is 3306)")), 1, 2);
    root->addWidget(remote);
    root->addStretch(1);
}

bool mysql_page_valid_port(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    size_t end = text.size();
    while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    if (i == end || end - i > 5) return false;
    uint32_t value = 0;
    for (size_t k = i; k < end; ++k) {
        if (text[k] < '0' || text[k] > '9') return false;
        value = value * 10 + static_cast<uint32_t>(text[k] - '0');
    }
    return value >= 1 && value <= 65535;
}

void mysql_page_show_connect_error(const tk_exception& e, uint32_t auth_help_topic) {
    wizard_shell::error(gui_server_failure_text(e));
    const uint32_t number = e.code() & 0xFFFF;
    if ((e.code() & sql_error_code_bit) && (number == 1249 || number == 1250)) wizard_shell::display_help(auth_help_topic);
}
