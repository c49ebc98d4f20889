// Console: the destination folder is made ready before the run.
#include <memory>

#include "csv_lock.h"
#include "csv_util.h"
#include "kvr_conv.h"
#include "tk_excep.h"
#include "tk_files.h"
#include "tk_log.h"

void kellvar_converter::check_source() {
    if (tk_log_wants(1)) tk_wlog(1, L"kellvar_converter::check_source(%s)", source.c_str());
    if (!engine.is_db_exist(source)) throw tk_exception(L"Unknown database '" + source + L"'", 1);
}

void kellvar_converter::check_dest() {
    if (tk_log_wants(1)) tk_wlog(1, L"kellvar_converter::check_dest(%s)", destination.c_str());
    // Nothing is deleted or created for a source that does not exist.
    check_source();
    if (tk_is_path_exist(destination)) {
        if (mode != 0) {
            lock_destination();
            return;
        }
        tk_log(1, "Overwrite entire folder");
        empty_destination();
        return;
    }
    if (tk_is_file_exist2(destination, tk_fmode_not_folder))
        throw tk_exception(std::string("You should enter path to CSV folder, not a file name"), 1);
    common_create_path(destination);
    lock_destination();
}

void kellvar_converter::empty_destination() {
    lock_destination();
    csv_engine csv(destination, std::wstring());
    csv.delete_all_tables();
    csv.delete_part_files();
}

void kellvar_converter::lock_destination() {
    if (m_dest_lock && m_dest_lock->is_for(destination)) return;
    m_dest_lock.reset();
    m_dest_lock = std::make_unique<csv_folder_lock>(destination);
}
