// The console program's options.
#pragma once
#include <cstdint>
#include <string>

#include "tk_cmdli.h"

// Option ids, in the order of the option table.
enum brennock_option : int32_t {
    opt_dest = 0,
    opt_help = 1,
    opt_host = 2,
    opt_inc_fnames = 3,
    opt_logfile = 4,
    opt_mode = 5,
    opt_n_delim = 6,
    opt_profile = 7,
    opt_port = 8,
    opt_pswd = 9,
    opt_silent = 10,
    opt_src = 11,
    opt_tab_def = 12,
    opt_tab_file = 13,
    opt_user = 14,
};

// The option table, ended by {0, ""}.
extern const tk_cmd_option brennock_options[];

// Whether the text is exactly the decimal form of a number from 0 to limit;
// n gets the number the text starts with (0 when none).
bool parse_choice(const std::string& text, uint32_t limit, int32_t& n);

// Applies the arguments, in order, to the converter singleton and the error
// handler. False when an argument matched no option (the caller shows the
// usage text). Bad values end the program through fatal_exit.
bool parse_cmd_line(int argc, char** argv);
