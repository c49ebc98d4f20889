#include "kvr_db_pg.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "csv_util.h"
#include "g_err_tab.h"
#include "g_f_dlg.h"
#include "g_text.h"
#include "g_wiz_sh.h"
#include "kvr_busy.h"
#include "kvr_conv.h"
#include "over_dlg.h"
#include "tk_excep.h"
#include "tk_files.h"
#include "tk_log.h"
#include "tk_utils.h"

namespace {

constexpr int delimiter_ids[] = {idc_db_delim_pipes, idc_db_delim_semicolon, idc_db_delim_comma};

}  // namespace

sel_file_page::sel_file_page(QWidget* parent) : wizard_page(parent) {
    auto* root = new QVBoxLayout(this);
    root->addWidget(gui_make_static(this, 0,
                                    QStringLiteral("Enter source and destination names. Click 'Browse' to find the destination")));
    root->addWidget(gui_make_static(this, 0, QStringLiteral("file through directory tree.")));

    QLabel* list_label = gui_make_static(this, 0, QStringLiteral("My&SQL database name:"));
    m_list = new gui_list_box(idc_db_list, true, false, this);
    list_label->setBuddy(m_list);
    root->addWidget(list_label);
    root->addWidget(m_list, 1);

    QLabel* folder_label = gui_make_static(this, 0, QStringLiteral("Path to CS&V folder:"));
    QLineEdit* folder = gui_make_edit(this, idc_db_folder);
    folder_label->setBuddy(folder);
    root->addWidget(folder_label);
    auto* folder_row = new QHBoxLayout();
    folder_row->addWidget(folder, 1);
    folder_row->addWidget(gui_make_button(this, idc_db_browse, QStringLiteral("B&rowse...")));
    root->addLayout(folder_row);

    auto* lower = new QHBoxLayout();
    QGroupBox* delimiter = gui_make_group(this, QStringLiteral(" Select CSV d&elimiter: "));
    auto* delimiter_col = new QVBoxLayout(delimiter);
    delimiter_col->addWidget(gui_make_radio(delimiter, idc_db_delim_pipes, QStringLiteral("&Pipe and plus (|+)")));
    delimiter_col->addWidget(gui_make_radio(delimiter, idc_db_delim_semicolon, QStringLiteral("Semi&colon")));
    delimiter_col->addWidget(gui_make_radio(delimiter, idc_db_delim_comma, QStringLiteral("Co&mma")));
    lower->addWidget(delimiter);
    auto* options = new QVBoxLayout();
    options->addWidget(gui_make_check(this, idc_db_field_names, QStringLiteral("&Include field names in CSV file")));
    options->addWidget(gui_make_check(this, idc_db_no_data, QStringLiteral("&Do not migrate the data")));
    options->addStretch(1);
    lower->addLayout(options, 1);
    root->addLayout(lower);

    on_click(idc_db_browse, [this] { on_browse_dest(); });
    on_click(idc_db_field_names, [this] { invert_chbox(idc_db_field_names); });
    on_click(idc_db_no_data, [this] { invert_chbox(idc_db_no_data); });
}

bool sel_file_page::page_init() {
    kellvar_converter* conv = kellvar_converter::instance();
    control<QLineEdit>(idc_db_folder)->setText(gui_qstr(conv->destination));

    m_list->clear();
    std::vector<std::wstring> databases;
    kvr_server_call(
        [&] {
            conv->reconnect_if_cut();
            databases = conv->engine.get_contents();
        },
        {});
    for (const std::wstring& name : databases) m_list->add_string(gui_qstr(name));

    // The converter keeps the index within the table; an index outside it
    // checks nothing.
    if (conv->delimiter_index < 3) set_check(delimiter_ids[conv->delimiter_index], true);
    set_check(idc_db_no_data, conv->definitions_only);
    set_check(idc_db_field_names, conv->include_field_names);

    if (!conv->source.empty()) {
        int index = m_list->find_string_exact(gui_qstr(conv->source));
        if (index < 0 && m_list->count() > 0) index = 0;
        m_list->select_only(index);
    }
    return true;
}

void sel_file_page::on_browse_dest() {
    tk_log(1, "sel_file_page::on_browse_dest");
    kellvar_converter* conv = kellvar_converter::instance();
    std::wstring chosen;
    if (!browse_for_folder(nullptr, L"Select CSV files folder", conv->destination, chosen)) {
        tk_log(2, "SHBrowseFolder failed");
        return;
    }
    if (tk_log_wants(2)) tk_wlog(2, L"Got path: %s", chosen.c_str());
    if (!chosen.empty()) control<QLineEdit>(idc_db_folder)->setText(gui_qstr(chosen));
}

void sel_file_page::store_settings() {
    std::wstring database;
    QList<int> selected = m_list->selected_indexes();
    if (selected.isEmpty()) {
        tk_log(2, "Failed to exract select item from list");
    } else {
        QString text;
        if (m_list->get_text(selected.front(), text))
            database = gui_wstr(text);
        else
            tk_log(2, "Failed to exract text of selected item");
    }
    const std::wstring folder = gui_wstr(control<QLineEdit>(idc_db_folder)->text());

    kellvar_converter* conv = kellvar_converter::instance();
    conv->source = tk_trim(database);
    conv->destination = tk_trim(folder);
    conv->definitions_only = is_checked(idc_db_no_data);
    conv->include_field_names = is_checked(idc_db_field_names);
    for (uint32_t i = 0; i < 3; ++i) {
        if (is_checked(delimiter_ids[i])) {
            conv->delimiter_index = i;
            break;
        }
    }
}

int sel_file_page::on_next() {
    tk_log(1, "sel_file_page::on_next");
    store_settings();
    kellvar_converter* conv = kellvar_converter::instance();
    if (conv->source.empty()) {
        wizard_shell::message(L"You should enter MySQL database name");
        return page_refuse;
    }
    if (conv->destination.empty()) {
        wizard_shell::message(L"You should enter path to CSV folder");
        return page_refuse;
    }
    const std::wstring& dest = conv->destination;
    try {
        if (tk_is_path_exist(dest)) {
            // A folder the run could not write into is refused here, before
            // anything is asked or deleted.
            const std::string native = tk_to_utf8(dest);
            if (!tk_has_access(native, tk_generic_write) || !tk_has_access(native, tk_generic_read)) {
                wizard_shell::error(std::wstring(L"Cannot write into the destination folder. Make sure you have sufficient\n"
                                                 L"privileges to create files in the directory."));
                return page_refuse;
            }
            overwrite_dlg2<idd_overwrite> dlg(L"The destination folder already exists. Select one of the\n"
                                              L"options below. Click 'Help' button for more information.",
                                              idh_overwrite, window());
            if (dlg.run() != idc_over_ok) return page_refuse;
            const uint32_t mode = dlg.mode();
            if (mode == over_mode_entire_folder) {
                tk_log(1, "Overwrite entire folder");
                // Only the folder's own CSV files go, and only for a source
                // the server has.
                if (!kvr_server_call(
                        [conv] {
                            conv->reconnect_if_cut();
                            conv->check_source();
                        },
                        {}))
                    return page_refuse;
                conv->empty_destination();
            }
            conv->set_mode(static_cast<int>(mode));
            return page_go_on;
        }
        if (tk_is_file_exist2(dest, tk_fmode_not_folder)) {
            wizard_shell::error(std::wstring(L"You should enter path to CSV folder, not a file name"));
            return page_refuse;
        }
        common_create_path(dest);
        return page_go_on;
    } catch (const tk_exception& e) {
        wizard_shell::error(gui_server_failure_text(e));
        return page_refuse;
    }
}

int sel_file_page::on_back() {
    store_settings();
    return page_go_on;
}

void sel_file_page::on_help() { wizard_shell::display_help(1013); }
