#include "udb_engine.h"

#include <unistd.h>

#include <cerrno>

#include "last_error.h"
#include "tk_excep.h"
#include "tk_files.h"
#include "tk_log.h"
#include "utf8.h"

void udb_engine::db_delete(const std::wstring& name) {
    if (tk_log_wants(2)) tk_wlog(2, L"udb_engine::db_delete(%s)", name.c_str());
    if (name.empty() || name.find(L'\0') != std::wstring::npos) {
        plat::set_last_error(ENOENT);
        throw tk_exception_ex(std::string(), 1);
    }
    const std::string native = plat::utf8_encode(name);
    if (::unlink(native.c_str()) != 0) {
        plat::set_last_error_from_errno();
        throw tk_exception_ex("Cannot delete " + native + ": ", 1);
    }
}

bool udb_engine::is_db_exist(const std::wstring& name) {
    if (tk_log_wants(1)) tk_wlog(1, L"udb_engine::is_db_exist(%s)", name.c_str());
    return tk_is_file_exist2(name, tk_fmode_not_folder);
}
