// File names of the CSV back end: a table or query name becomes the name of
// its file in the destination folder.
#pragma once
#include <string>

#include "udb_vali.h"

class csv_validator : public udb_validator {
public:
    explicit csv_validator(const std::wstring& folder);

    // Letters and digits of any script, '_' and '-' only; not empty; short
    // enough for the file system with the extension added.
    bool is_acceptable(const std::wstring& name) override;
    // Other characters made '_', then a three-digit number added when taken;
    // throws tk_exception (level 0) when all 1,000 numbers are taken.
    std::wstring get_safe_name(const std::wstring& name) override;

    const std::wstring& get_folder() const { return folder_; }

    // Longest file name (in UTF-8 bytes) a table name may give, extension included.
    static constexpr size_t max_file_name_bytes = 255;

private:
    std::wstring folder_;
};
