// The MySQL connection page: local or remote server, user, password, host
// and port. The settings go to the converter when the page is left; Next
// connects, and a refused connection keeps the user on the page.
#pragma once
#include <cstdint>
#include <string>

#include <QLineEdit>
#include <QSignalBlocker>

#include "g_text.h"
#include "g_wiz_pg.h"
#include "g_wiz_sh.h"
#include "kvr_busy.h"
#include "mysql_conv.h"
#include "sql_excep.h"
#include "tk_excep.h"
#include "tk_log.h"

// Control ids of the connection dialog.
inline constexpr int idc_mysql_local = 1329;
inline constexpr int idc_mysql_remote = 1330;
inline constexpr int idc_mysql_user = 1012;
inline constexpr int idc_mysql_password = 1013;
inline constexpr int idc_mysql_host = 1014;
inline constexpr int idc_mysql_port = 1015;

// Builds the controls of the connection dialog on the page.
void mysql_page_build_dialog(wizard_page_common& page);
// A port text is blanks, then only decimal digits, then blanks, with a value
// from 1 to 65535.
bool mysql_page_valid_port(const std::string& text);
// Shows a failed connection: the no-answer text for a server that gave no
// answer, else the friendly text of the wizard's error table for the
// exception's code, else its own text; the authentication help topic too for
// the protocol errors 1249 and 1250.
void mysql_page_show_connect_error(const tk_exception& e, uint32_t auth_help_topic);

template <class TConverter, uint32_t IDH, uint32_t IDH_AUTH>
class sql_settings_page2 : public wizard_page<123, wizb_back | wizb_next, psp_has_help> {
public:
    explicit sql_settings_page2(QWidget* parent = nullptr) : wizard_page(parent) {
        mysql_page_build_dialog(*this);
        connect(control<QAbstractButton>(idc_mysql_local), &QAbstractButton::toggled, this, [this](bool on) {
            if (on) set_remote(false);
        });
        connect(control<QAbstractButton>(idc_mysql_remote), &QAbstractButton::toggled, this, [this](bool on) {
            if (on) set_remote(true);
        });
    }

    bool page_init() override {
        tk_log(1, "sql_settings_page2<t_converter>::page_init");
        TConverter* conv = TConverter::instance();
        edit(idc_mysql_user)->setText(gui_qstr(conv->user));
        edit(idc_mysql_password)->setText(gui_qstr(conv->password));
        const bool remote = !conv->host.empty();
        {
            QSignalBlocker b1(control<QAbstractButton>(idc_mysql_local));
            QSignalBlocker b2(control<QAbstractButton>(idc_mysql_remote));
            set_check(remote ? idc_mysql_remote : idc_mysql_local, true);
        }
        set_remote(remote);
        if (remote) {
            edit(idc_mysql_host)->setText(gui_qstr(conv->host));
            edit(idc_mysql_port)->setText(gui_qstr(conv->port.empty() ? std::string(mysql_default_port) : conv->port));
        }
        return true;
    }

    int on_next() override {
        tk_log(2, "sql_settings_page2::on_next");
        try {
            store_settings();
            if (is_checked(idc_mysql_remote) && !mysql_page_valid_port(gui_narrow(edit(idc_mysql_port)->text())))
                throw tk_exception(std::string("Invalid port number"), 1);
            tk_log(2, "Just before t_converter::ptr()->connect_mysql_server");
            TConverter* conv = TConverter::ptr();
            if (!kvr_server_call([conv] { conv->connect_mysql_server(); }, {this}, true)) return page_refuse;
            return page_go_on;
        } catch (const sql_auth_not_supported_exception& e) {
            tk_log(1, "Got sql_auth_not_supported_exception");
            wizard_shell::error(std::string(e.what()));
            wizard_shell::display_help(IDH_AUTH);
            return page_refuse;
        } catch (const tk_exception& e) {
            tk_log(2, "Got tk_exception");
            mysql_page_show_connect_error(e, IDH_AUTH);
            return page_refuse;
        }
    }

    int on_back() override {
        store_settings();
        return page_go_on;
    }

    void on_help() override { wizard_shell::display_help(IDH); }

    // Local: no host and port 3306; remote: the host and port as typed.
    void store_settings() {
        std::string host;
        std::string port = "3306";
        if (is_checked(idc_mysql_remote)) {
            host = gui_narrow(edit(idc_mysql_host)->text());
            port = gui_narrow(edit(idc_mysql_port)->text());
        }
        const std::string user = gui_narrow(edit(idc_mysql_user)->text());
        const std::string password = gui_narrow(edit(idc_mysql_password)->text());
        TConverter::ptr()->store_mysql_settings(host, user, password, port);
    }

private:
    QLineEdit* edit(int id) const { return control<QLineEdit>(id); }

    // Host and port can be typed only for a remote server; the port edit
    // ends with the focus.
    void set_remote(bool remote) {
        // The hint promises the default port: an empty port shows it.
        if (remote && edit(idc_mysql_port)->text().trimmed().isEmpty())
            edit(idc_mysql_port)->setText(QString::fromLatin1(mysql_default_port));
        enable_ctrl(idc_mysql_host, remote);
        if (remote) edit(idc_mysql_host)->setFocus();
        enable_ctrl(idc_mysql_port, remote);
        if (remote) edit(idc_mysql_port)->setFocus();
    }
};
