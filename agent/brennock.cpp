// BRENNOCK: one conversion run from the command line.
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

#include "con_exit.h"
#include "con_handler.h"
#include "con_options.h"
#include "con_signals.h"
#include "kvr_conv.h"
#include "large_blocks.h"
#include "std_streams.h"
#include "tk_log.h"

namespace {

// Everything from the options to the end of the run; 0 when the run
// converted everything.
int run(int argc, char** argv, console_error_handler& handler) {
    kellvar_converter converter(kellvar_program::console, handler);
    converter.console_run = true;
    converter.include_field_names = true;
    converter.delimiter_index = 1;

    console_stop_signals stop_signals(converter);

    if (argc <= 1) show_usage();
    if (!parse_cmd_line(argc, argv)) show_usage();
    converter.connect_mysql_server();
    // A stop asked for before the run deletes nothing.
    if (!console_stop_signals::received()) converter.check_dest();
    converter();
    // A report ended the run; it has unwound.
    if (handler.ended()) return -1;
    if (const int sig = console_stop_signals::received(); sig != 0 && converter.run_stopped) {
        const std::string text = std::string("The conversion was stopped by ") + console_stop_signals::name(sig);
        tk_log(3, "%s", text.c_str());
        console_report_problem(text);
        return -1;
    }
    return converter.errors_reported == 0 && console_reported_errors() == 0 ? 0 : -1;
}

}  // namespace

int main(int argc, char** argv, char** /*envp*/) {
    // Before any file or socket is opened: none of them may become the
    // standard output.
    if (!plat::open_missing_standard_descriptors()) return -1;
    plat::give_back_large_blocks();
    // A closed output pipe must give a failed write, not a killed process.
    std::signal(SIGPIPE, SIG_IGN);
    install_terminate_handler();

    tk_logger logger(nullptr, false, 3, false);
    // A log file that cannot be written is told once; the run goes on.
    logger.on_failure = console_report_problem;
    console_error_handler handler;
    int code = -1;
    try {
        try {
            code = run(argc, argv, handler);
        } catch (const tk_exception& e) {
            // Levels 1 and 2 end the run in handle; a level-0 failure
            // outside the run (a refused connection) still means no run.
            code = -1;
            handler.handle(e, false);
        }
    } catch (const console_run_end&) {
        code = -1;
    } catch (const std::exception& e) {
        fatal_exit(e.what());
    } catch (...) {
        fatal_exit("Unknown error");
    }
    std::fflush(stdout);
    return code;
}
