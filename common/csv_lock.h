// Exclusive use of a destination folder by one conversion at a time: an
// advisory lock (flock) on the folder itself, held from before the folder is
// cleaned up until the run ends. Other processes that take the same lock wait
// for it; nothing else is kept from the folder.
#pragma once
#include <string>

#include "unique_fd.h"

class csv_folder_lock {
public:
    static constexpr int default_wait_ms = 5000;

    // Takes the lock, waiting up to wait_ms for another holder to let go.
    // Throws tk_exception (level 1) naming the folder when it stays taken,
    // tk_exception_ex (level 1) naming it when it cannot be opened.
    explicit csv_folder_lock(const std::wstring& folder, int wait_ms = default_wait_ms);
    // Lets the lock go.
    ~csv_folder_lock() = default;
    csv_folder_lock(const csv_folder_lock&) = delete;
    csv_folder_lock& operator=(const csv_folder_lock&) = delete;

    // Whether the path names the locked folder (the same folder, whatever
    // the spelling).
    bool is_for(const std::wstring& folder) const;

private:
    plat::unique_fd fd_;  // closing it lets the lock go
};
