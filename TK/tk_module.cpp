#include "tk_module.h"

#include <unistd.h>

#include <vector>

#include "tk_excep.h"
#include "tk_fname.h"
#include "tk_utils.h"
#include "utf8.h"

namespace {

// Empty when the link cannot be read.
std::string read_exe_link() {
    std::vector<char> buf(512);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n <= 0) return std::string();
        if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
        buf.resize(buf.size() * 2);
    }
}

}  // namespace

std::string tk_get_module_name() {
    std::string path = read_exe_link();
    if (path.empty()) throw tk_mail_assertion(tk_utils_source, 119);
    return path;
}

std::wstring tk_get_module_wname() {
    std::string path = read_exe_link();
    if (path.empty()) throw tk_mail_assertion(tk_utils_source, 132);
    return plat::utf8_decode(path);
}

std::string tk_get_module_dir() {
    tk_file_name parts(tk_get_module_name());
    return parts.get_folder();
}

std::wstring tk_get_module_wdir() {
    tk_file_wname parts(tk_get_module_wname());
    return parts.get_folder();
}
