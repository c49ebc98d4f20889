#include "con_exit.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "error_handler.h"
#include "kvr_conv.h"
#include "tk_escape.h"
#include "tk_log.h"
#include "wformat.h"

namespace {

constexpr const char* usage_format =
    "BRENNOCK v%d.%d%s - copies the tables of a MySQL database into CSV files\n"
    "Usage: BRENNOCK.EXE OPTIONS\n"
    "\n"
    "   --dest=...     path to the folder where CSV files will be stored\n"
    "   --help         display this help message and exit\n"
    "   --host=...     MySQL server IP address or network name\n"
    "   --inc_fnames   include MySQL field names into CSV files\n"
    "   --logfile=...  path to the file where execution trace will be written\n"
    "   --mode=...     how to process an existing CSV folder\n"
    "                  (0 - overwrite the entire folder, 1 - overwrite existing\n"
    "                  files only, 2 - skip existing files)\n"
    "   --n_delim=...  delimiter symbol to use in the resultinig CSV file\n"
    "                  (0 - pipe and plus |+, 1 - semicolon, 2 - comma)\n"
    "   --port=...     MySQL port\n"
    "   --profile=...  path to the file to load conversion settings from\n"
    "   --pswd=...     MySQL user password\n"
    "   --silent       disable program output\n"
    "   --src=...      MySQL database name\n"
    "   --tab_def      convert table definitions only\n"
    "   --tab_file=... file containing the list of tables to convert\n"
    "                  (one table name per line)\n"
    "   --user=...     MySQL user\n"
    "\n"
    "NOTES:\n"
    "   1) If you omit 'tab_file' parameter, all database tables will be converted.\n"
    "   2) If you omit 'mode' parameter, default mode 'overwrite the entire\n"
    "      folder' will be used.\n"
    "   3) Command line parameters that contain spaces should be enclosed in\n"
    "      quotes (for example --dest=\"c:\\my database\")\n"
    "   5) It is necessary to specify 'port' parameter only if it differs from\n"
    "      the default MySQL port 3306.";

}  // namespace

bool console_is_silent() {
    if (kellvar_converter* conv = tk_singleton<kellvar_converter>::peek()) return conv->silent;
    if (error_handler* handler = tk_singleton<error_handler>::peek()) return handler->suppress;
    return false;
}

void fatal_exit(const std::string& message) {
    tk_log(3, "%s", message.c_str());
    if (!console_is_silent()) {
        const std::string text = tk_escape_controls(message, true);
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fputc('\n', stderr);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(-1);
}

std::string usage_text() { return plat::format(usage_format, 1, 5, ""); }

void show_usage() { fatal_exit(usage_text()); }

namespace {

[[noreturn]] void on_terminate() noexcept {
    std::string text = "Unknown failure";
    if (std::exception_ptr failure = std::current_exception()) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            text = e.what();
        } catch (...) {
        }
    }
    tk_log(3, "Internal error:\n%s", text.c_str());
    std::fputs("Internal error: ", stdout);
    std::fputs(tk_escape_controls(text, true).c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(255);
}

}  // namespace

void install_terminate_handler() { std::set_terminate(on_terminate); }
