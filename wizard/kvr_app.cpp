#include "kvr_app.h"

#include <memory>

#include "g_clipb.h"
#include "g_err_hand.h"
#include "g_err_tab.h"
#include "g_f_dlg.h"
#include "g_finish.h"
#include "g_res.h"
#include "g_wiz_sh.h"
#include "kvr_conv.h"
#include "kvr_db_pg.h"
#include "kvr_finish.h"
#include "kvr_mysql_pg.h"
#include "kvr_progress.h"
#include "kvr_tables_pg.h"
#include "kvr_welcome.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "wformat.h"

namespace {

constexpr const wchar_t* profile_extension = L"kvr";
constexpr const wchar_t* no_tables_prompt = L"There are no tables selected. Continue anyway?";
constexpr const wchar_t* finish_error_text =
    L"There were some errors while converting the database.\nClick 'Finish' to exit the wizard.";
constexpr const wchar_t* finish_success_text =
    L"Wizard has converted your MySQL database into\nCSV format successfully.\n\nClick 'Finish' to exit the wizard.";

template <class Page>
Page* add_page(wizard_shell& shell, std::unique_ptr<Page>& slot, std::unique_ptr<Page> page, const char* title = nullptr,
               const char* subtitle = nullptr) {
    slot = std::move(page);
    if (title) slot->set_header(QString::fromUtf8(title), QString::fromUtf8(subtitle));
    shell.add_page(slot.get());
    return slot.get();
}

// The start-up's catch clauses: the handler reports, no abort is offered.
void report_start_failure(const tk_exception& e) noexcept {
    try {
        error_handler::ptr()->handle(e, true);
    } catch (const std::exception& again) {
        tk_log(3, "The error could not be reported: %s", again.what());
    } catch (...) {
        tk_log(3, "The error could not be reported");
    }
}

void report_start_failure(const std::exception& e) noexcept {
    try {
        wizard_shell::error(std::string(e.what()));
    } catch (...) {
        tk_log(3, "The error could not be reported: %s", e.what());
    }
}

}  // namespace

std::wstring kellvar_title() { return plat::wformat(L"Fennrow %d.%d %s", 1, 5, L""); }

kellvar_wizard::kellvar_wizard() {
    tk_log(2, "kellvar_wizard::ctor");
    m_shell = std::make_unique<wizard_shell>(kellvar_title(), gui_icon_id, gui_watermark_id, gui_header_id);
    wizard_shell& shell = *m_shell;
    add_page(shell, m_welcome, std::make_unique<welcome_page>(profile_extension));
    add_page(shell, m_mysql, std::make_unique<mysql_page>(), "Step 1 of 4", "Connect to MySQL server");
    add_page(shell, m_folder, std::make_unique<sel_file_page>(), "Step 2 of 4", "Select databases");
    add_page(shell, m_tables, std::make_unique<kvr_sel_tables_page>(no_tables_prompt, false), "Step 3 of 4",
             "Select tables");
    add_page(shell, m_progress, std::make_unique<progress_page>(), "Step 4 of 4",
             "Database conversion is in progress");
    add_page(shell, m_finish, std::make_unique<finish_page>(finish_error_text, finish_success_text, profile_extension));
}

kellvar_wizard::~kellvar_wizard() {
    tk_log(2, "kellvar_wizard::dtor");
    m_finish.reset();
    m_progress.reset();
    m_tables.reset();
    m_folder.reset();
    m_mysql.reset();
    m_welcome.reset();
    m_shell.reset();
}

int kellvar_wizard::run() { return m_shell->run(); }

int kellvar_main(const std::wstring& command_line, const kellvar_sheet_runner& run_sheet) {
    tk_log(2, "kellvar_main");
    gui_error_handler handler(gui_error_table_size, gui_error_table);
    int result = 0;
    try {
        gui_install_clipboard_writer();
        kellvar_converter converter(kellvar_program::gui, handler);
        // The whole text names the profile: no options, no quote removal.
        if (!command_line.empty()) converter.load_profile_file(command_line);
        if (converter.remember_settings) gui_load_chosen_folder(kellvar_registry_key);
        kellvar_wizard wizard;
        result = run_sheet ? run_sheet(wizard) : wizard.run();
        tk_log(2, "The wizard ended with %d", result);
        if (converter.remember_settings) gui_store_chosen_folder(kellvar_registry_key);
    } catch (const tk_final_exception&) {
        tk_log(2, "The start-up ends at the user's request");
    } catch (const tk_exception& e) {
        // Everything built in the block is gone by now; the settings of a
        // converter that was built have been stored.
        report_start_failure(e);
    } catch (const std::exception& e) {
        report_start_failure(e);
    }
    return result;
}

std::wstring kellvar_command_line(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    if (text.empty()) return std::wstring();
    wchar_t* wide = nullptr;
    if (!tk_ansi_to_unicode(text.c_str(), &wide)) {
        delete[] wide;
        return std::wstring();
    }
    std::wstring out = wide ? std::wstring(wide) : std::wstring();
    delete[] wide;
    return out;
}
