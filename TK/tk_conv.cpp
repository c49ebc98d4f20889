#include "tk_conv.h"

#include "tk_excep.h"
#include "tk_files.h"
#include "tk_fname.h"
#include "tk_log.h"

tk_converter::tk_converter() { tk_log(2, "tk_converter::ctor"); }

tk_converter::~tk_converter() = default;

void tk_converter::set_silent(bool value) { silent = value; }

void tk_converter::set_logfile(const std::string& name) {
    tk_log(1, "tk_convertor::set_logfile(%s)", name.c_str());
    tk_logger* logger = tk_singleton<tk_logger>::peek();
    if (!logger) return;

    // Kept absolute: a later change of the working folder must not move the log.
    std::string full;
    if (name.empty() || !tk_full_path(name, full)) full = name;
    log_file = full;
    if (name.empty()) {
        tk_log(1, "Filename is empty");
        return;
    }
    if (tk_is_path_exist(full))
        throw tk_exception(std::string("Logfile name specifies an existing path."), 1);
    if (tk_is_file_exist1(full, tk_fmode_not_folder) && !tk_is_file_exist1(full, tk_fmode_writable))
        throw tk_exception(std::string("Logfile name specifies an existing read-only file."), 1);

    std::string folder;
    if (full.front() == '/') folder = tk_file_name(full).get_folder();
    if (folder.empty() || !tk_is_path_exist(folder))
        throw tk_exception(
            std::string("Logfile path does not exist.\nPlease verify the correct path was given."), 1);
    if (!tk_has_access(folder, tk_generic_write))
        throw tk_exception(std::string("Cannot create log file. Make sure you have sufficient\n"
                                       "privileges to create files in the directory."),
                           1);
    logger->path = full;
    logger->enabled = true;
}
