// The wizard program's start-up and tear-down: every long-lived object, built
// in a fixed order and destroyed in the reverse one. The only place that
// knows the order of the pages.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class kellvar_converter;
class kvr_sel_tables_page;
class progress_page;
class sel_file_page;
class welcome_page;
class wizard_shell;
template <class TConverter, uint32_t IDD>
class gui_finish_page_t;
template <class TConverter, uint32_t IDH, uint32_t IDH_AUTH>
class sql_settings_page2;

// "Fennrow 1.5 ": the product, a blank, the version and a trailing blank.
std::wstring kellvar_title();

// The frame and its six pages, in sheet order. The converter and the error
// handler must exist while it lives.
class kellvar_wizard {
public:
    using mysql_page = sql_settings_page2<kellvar_converter, 1010, 1015>;
    using finish_page = gui_finish_page_t<kellvar_converter, 116>;

    kellvar_wizard();
    // The pages in reverse order (the progress page stops a conversion that
    // still runs), then the frame.
    ~kellvar_wizard();
    kellvar_wizard(const kellvar_wizard&) = delete;
    kellvar_wizard& operator=(const kellvar_wizard&) = delete;

    // Runs the wizard modally: 1 after Finish, 0 after Cancel.
    int run();

    wizard_shell& shell() const { return *m_shell; }
    welcome_page& welcome() const { return *m_welcome; }
    mysql_page& mysql() const { return *m_mysql; }
    sel_file_page& folder() const { return *m_folder; }
    kvr_sel_tables_page& tables() const { return *m_tables; }
    progress_page& progress() const { return *m_progress; }
    finish_page& finish() const { return *m_finish; }

private:
    std::unique_ptr<wizard_shell> m_shell;
    std::unique_ptr<welcome_page> m_welcome;
    std::unique_ptr<mysql_page> m_mysql;
    std::unique_ptr<sel_file_page> m_folder;
    std::unique_ptr<kvr_sel_tables_page> m_tables;
    std::unique_ptr<progress_page> m_progress;
    std::unique_ptr<finish_page> m_finish;
};

// What runs the sheet once everything is built; its result is the program's.
using kellvar_sheet_runner = std::function<int(kellvar_wizard&)>;

// Everything after the application object: the error handler with the
// wizard's error table, the clipboard writer, the converter (the remembered
// settings), the profile named by the command line (the whole text, quotes
// and all; empty: none), the wizard, its run (by run_sheet when given), and
// the tear-down, which stores the settings. A failure before the sheet runs
// is reported and ends the program with 0.
int kellvar_main(const std::wstring& command_line, const kellvar_sheet_runner& run_sheet = {});

// The command-line text of the arguments that the application object left:
// argv[1] to argv[argc - 1] joined by blanks.
std::wstring kellvar_command_line(int argc, char** argv);
