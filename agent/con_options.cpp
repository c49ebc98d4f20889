#include "con_options.h"

#include <charconv>
#include <cstdint>
#include <cstring>

#include "con_exit.h"
#include "con_tabfile.h"
#include "error_handler.h"
#include "kvr_conv.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "utf8.h"

const tk_cmd_option brennock_options[] = {
    {opt_dest, "--dest="},       {opt_help, "--help"},       {opt_host, "--host="},
    {opt_inc_fnames, "--inc_fnames"}, {opt_logfile, "--logfile="}, {opt_mode, "--mode="},
    {opt_n_delim, "--n_delim="}, {opt_profile, "--profile="}, {opt_port, "--port="},
    {opt_pswd, "--pswd="},       {opt_silent, "--silent"},   {opt_src, "--src="},
    {opt_tab_def, "--tab_def"},  {opt_tab_file, "--tab_file="}, {opt_user, "--user="},
    {0, ""},
};

bool parse_choice(const std::string& text, uint32_t limit, int32_t& n) {
    // Read like atoi: optional blanks and sign, then digits; the exact text
    // comparison below rejects everything but the plain decimal form.
    const char* p = text.c_str();
    const char* end = p + text.size();
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    if (p < end && *p == '+') ++p;
    long long value = 0;
    auto r = std::from_chars(p, end, value);
    if (r.ec == std::errc::result_out_of_range) value = 0;
    n = (r.ec == std::errc() && value >= INT32_MIN && value <= INT32_MAX) ? static_cast<int32_t>(value) : 0;
    return std::to_string(n) == text && static_cast<uint32_t>(n) <= limit;
}

namespace {

std::wstring from_ansi(const std::string& text) { return plat::utf8_decode(text); }

// A path that the program keeps as text must be UTF-8: any other bytes
// would name another file or folder.
std::wstring path_text(const char* option, const std::string& value) {
    if (!plat::utf8_valid(value))
        fatal_exit(std::string("The path of ") + option + " is not valid UTF-8: " + value);
    return from_ansi(value);
}

// A copy of an argument fit for the log: a password's value is hidden.
std::string loggable(const char* arg) {
    const size_t n = std::strlen("--pswd=");
    if (std::strncmp(arg, "--pswd=", n) == 0) return std::string(arg, n) + "*****";
    return arg;
}

}  // namespace

bool parse_cmd_line(int argc, char** argv) {
    tk_log(2, "parse_cmd_line");
    for (int i = 0; i < argc; ++i)
        if (tk_log_wants(1)) tk_log(1, "parameter #%d: %s", i, loggable(argv[i] ? argv[i] : "").c_str());

    kellvar_converter* conv = kellvar_converter::ptr();
    std::string host, user, password, port = "3306";
    bool profile_loaded = false;

    ansi_cmd_line cl(argc, argv, brennock_options);
    for (; cl.has_more(); cl.next()) {
        const std::string& value = cl.value();
        switch (cl.id()) {
        case opt_dest: {
            std::wstring dest = path_text("--dest=", value);
            tk_wlog(2, L"\tgot dest %s", dest.c_str());
            conv->destination = tk_trim(dest);
            break;
        }
        case opt_help:
            show_usage();
        case opt_host:
            host = value;
            break;
        case opt_port:
            port = value;
            break;
        case opt_pswd:
            password = value;
            cl.hide_value();
            break;
        case opt_user:
            user = value;
            break;
        case opt_inc_fnames:
            tk_log(1, "parse_cmd_line - 'include f.names' is ON");
            conv->include_field_names = true;
            break;
        case opt_logfile:
            tk_log(1, "parse_cmd_line - got logfile %s", value.c_str());
            conv->set_logfile(value);
            break;
        case opt_mode: {
            int32_t n = 0;
            const bool ok = parse_choice(value, 2, n);
            tk_log(2, "\tgot mode %d", n);
            if (!ok) fatal_exit("Invalid merge/overwrite mode");
            conv->set_mode(n);
            break;
        }
        case opt_n_delim: {
            int32_t n = 0;
            const bool ok = parse_choice(value, 2, n);
            tk_log(2, "\tgot delim %d", n);
            if (!ok) fatal_exit("Invalid CSV delimiter");
            conv->delimiter_index = static_cast<uint32_t>(n);
            break;
        }
        case opt_profile: {
            std::wstring path = path_text("--profile=", value);
            tk_wlog(1, L"parse_cmd_line - got profile %s", path.c_str());
            profile_loaded = conv->load_profile_file(path);
            break;
        }
        case opt_silent:
            tk_log(1, "parse_cmd_line - silent mode is ON");
            conv->set_silent(true);
            if (error_handler* handler = tk_singleton<error_handler>::peek()) handler->suppress = true;
            break;
        case opt_src:
            conv->source = tk_trim(from_ansi(value));
            break;
        case opt_tab_def:
            tk_log(2, "\tconvert table definitions only");
            conv->definitions_only = true;
            break;
        case opt_tab_file:
            tk_log(2, "\tparse_cmd_line - got tab_file %s", value.c_str());
            process_tab_file(value);
            break;
        default:
            break;  // unmatched: kept by the reader
        }
    }

    if (!cl.unmatched().empty()) return false;
    if (conv->destination.empty()) fatal_exit("You should enter path to CSV folder");
    if (conv->source.empty()) fatal_exit("You should enter MySQL database name");
    if (!profile_loaded) conv->store_mysql_settings(host, user, password, port);
    return true;
}
