// Existence, type and access tests on files and folders, folder listing and
// creation of a folder path. Every test uses stat/access on the native path;
// none changes the working folder, and none creates or changes a file.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Modes of the file tests.
inline constexpr uint32_t tk_fmode_not_folder = 0x4000;  // exists and is not a folder
inline constexpr uint32_t tk_fmode_writable = 1;         // ... and the process may write it

// Desired access of tk_has_access.
inline constexpr uint32_t tk_generic_read = 0x80000000u;
inline constexpr uint32_t tk_generic_write = 0x40000000u;
inline constexpr uint32_t tk_generic_execute = 0x20000000u;
inline constexpr uint32_t tk_generic_all = 0x10000000u;

// The path names an existing folder.
bool tk_is_path_exist(const std::string& path);
bool tk_is_path_exist(const std::wstring& path);

// Mode 0x4000: the entry exists and is not a folder. Mode 1: also not
// read-only for this process. Any other mode is read as 0x4000.
bool tk_is_file_exist1(const std::string& path, uint32_t mode);
bool tk_is_file_exist2(const std::wstring& path, uint32_t mode);

// 1 when the process (effective ids) may open the file or folder with the
// desired access, else 0. Write access to a folder means files may be
// created in it (write and search permission).
int tk_has_access(const std::string& path, uint32_t desired);

// '*' and '?' wildcards, letters compared ignoring case.
bool tk_mask_match(std::wstring_view mask, std::wstring_view name);

// Names of the entries of folder that match mask, sorted; "." and ".." never.
// Regular files (or links to them) only, unless with_folders. A mask may carry
// a folder part ("sub/*.csv"), taken relative to folder. False (and an empty
// list) when nothing matches or the folder cannot be read.
bool tk_find_files(const std::wstring& folder, const std::wstring& mask, std::vector<std::wstring>& out,
                   bool with_folders = false);

// Creates every missing folder of the path. Throws tk_exception (level 1)
// when a level cannot be created.
void common_create_path(const std::wstring& path);
