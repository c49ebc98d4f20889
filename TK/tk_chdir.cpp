#include "tk_chdir.h"

#include <unistd.h>

#include <cerrno>

#include "tk_files.h"
#include "tk_log.h"
#include "tk_module.h"
#include "utf8.h"

namespace {

bool get_cwd(std::string& out) {
    std::vector<char> buf(256);
    for (;;) {
        if (getcwd(buf.data(), buf.size())) {
            out = buf.data();
            return true;
        }
        if (errno != ERANGE) return false;
        buf.resize(buf.size() * 2);
    }
}

}  // namespace

tk_temp_chdir::tk_temp_chdir(const std::string& folder) {
    tk_log(2, "tk_temp_chdir::ctor");
    folder_ = folder.empty() ? tk_get_module_dir() : folder;
    initialize();
}

void tk_temp_chdir::initialize() {
    tk_log(2, "tk_temp_chdir::initialize(%s)", folder_.c_str());
    tk_log(1, "Step #1");
    if (!get_cwd(saved)) {
        tk_log(1, "_getcwd failed");
        changed = false;
        return;
    }
    tk_log(1, "Step #2");
    changed = ::chdir(folder_.c_str()) == 0;
    if (!changed) tk_log(1, "_chdir failed");
}

tk_temp_chdir::~tk_temp_chdir() {
    tk_log(2, "tk_temp_chdir::dtor");
    if (changed && ::chdir(saved.c_str()) != 0) tk_log(3, "Cannot return to the folder %s", saved.c_str());
    tk_log(2, "tk_temp_chdir::dtor - at the END");
}

bool tk_temp_chdir::find_files(const std::wstring& mask, std::vector<std::wstring>& out, bool with_folders) const {
    if (tk_log_wants(2)) tk_wlog(2, L"tk_temp_chdir::find_files(%s)", mask.c_str());
    return tk_find_files(plat::utf8_decode(folder_), mask, out, with_folders);
}

tk_temp_chdir_w::tk_temp_chdir_w(const std::wstring& folder) {
    tk_log(2, "tk_temp_chdir::ctor");
    folder_ = folder.empty() ? tk_get_module_wdir() : folder;
    initialize();
}

void tk_temp_chdir_w::initialize() {
    if (tk_log_wants(2)) tk_wlog(2, L"tk_temp_chdir_w::initialize(%s)", folder_.c_str());
    tk_log(1, "Step #1");
    std::string cwd;
    if (!get_cwd(cwd)) {
        tk_log(2, "_wgetcwd failed");
        changed = false;
        return;
    }
    tk_log(1, "Step #2");
    saved = plat::utf8_decode(cwd);
    changed = ::chdir(plat::utf8_encode(folder_).c_str()) == 0;
    if (!changed) tk_log(2, "_wchdir failed");
}

tk_temp_chdir_w::~tk_temp_chdir_w() {
    if (changed) (void)::chdir(plat::utf8_encode(saved).c_str());
}

bool tk_temp_chdir_w::find_files(const std::wstring& mask, std::vector<std::wstring>& out, bool with_folders) const {
    if (tk_log_wants(2)) tk_wlog(2, L"tk_temp_chdir::find_files(%s)", mask.c_str());
    return tk_find_files(folder_, mask, out, with_folders);
}
