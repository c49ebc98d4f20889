// Path splitter: a path made absolute and cut into drive, folder, name and
// extension. Paths use "/" only; the drive part is always empty here.
#pragma once
#include <string>

class tk_file_name {
public:
    explicit tk_file_name(const std::string& path);
    explicit tk_file_name(const char* path);

    // Empty text: the running program's path with the name cleared.
    void initialize(const char* path);
    // Drive followed by folder (trailing separator kept).
    std::string get_folder() const { return drive + dir; }

    std::string ext;    // with its point, or empty
    std::string drive;  // always empty on this platform
    std::string fname;  // name without extension
    std::string dir;    // folder part with leading and trailing separators
};

class tk_file_wname {
public:
    explicit tk_file_wname(const std::wstring& path);
    explicit tk_file_wname(const wchar_t* path);

    void initialize(const wchar_t* path);
    std::wstring get_folder() const { return drive + dir; }

    std::wstring ext;
    std::wstring drive;
    std::wstring fname;
    std::wstring dir;
};

// Drive, folder, name and extension joined; a separator is put between the
// folder and the name when the folder lacks one.
std::wstring tk_fname_make_path(const tk_file_wname& parts);
std::string tk_fname_make_path(const tk_file_name& parts);

// The absolute, lexically normalised form of a path ("." and ".." segments
// resolved, repeated separators merged; symbolic links are not followed).
// False when the working folder cannot be read for a relative path.
bool tk_full_path(const std::string& path, std::string& out);
