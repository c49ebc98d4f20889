// Scoped change of the process's working folder. The working folder is
// process-wide: nothing on the conversion road uses these; they exist for
// callers that must run foreign code inside a given folder.
#pragma once
#include <string>
#include <vector>

class tk_temp_chdir {
public:
    // An empty folder means the program's own folder.
    explicit tk_temp_chdir(const std::string& folder);
    ~tk_temp_chdir();
    tk_temp_chdir(const tk_temp_chdir&) = delete;
    tk_temp_chdir& operator=(const tk_temp_chdir&) = delete;

    // Entries of the folder given to the constructor that match the mask
    // (ignoring case). Lists that folder directly, so the answer does not
    // depend on the working folder. Regular files only unless with_folders.
    bool find_files(const std::wstring& mask, std::vector<std::wstring>& out, bool with_folders = false) const;

    bool changed = true;
    std::string saved;

private:
    void initialize();
    std::string folder_;
};

class tk_temp_chdir_w {
public:
    explicit tk_temp_chdir_w(const std::wstring& folder);
    ~tk_temp_chdir_w();
    tk_temp_chdir_w(const tk_temp_chdir_w&) = delete;
    tk_temp_chdir_w& operator=(const tk_temp_chdir_w&) = delete;

    bool find_files(const std::wstring& mask, std::vector<std::wstring>& out, bool with_folders = false) const;

    bool changed = true;
    std::wstring saved;

private:
    void initialize();
    std::wstring folder_;
};
