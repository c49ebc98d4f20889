#include "tk_logpath.h"

#include "tk_fname.h"
#include "tk_module.h"

std::string tk_log_path_for(const std::string& program_path) {
    tk_file_name parts(program_path);
    parts.ext = ".log";
    return tk_fname_make_path(parts);
}

std::string tk_default_log_path() { return tk_log_path_for(tk_get_module_name()); }
