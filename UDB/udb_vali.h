// Name checker of the database layer: whether a name is acceptable for a
// target, whether it is already in use, and an acceptable replacement that is
// not yet taken. Back ends derive their own rules from it.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

class udb_validator {
public:
    // max_length 0 means no limit.
    explicit udb_validator(uint32_t max_length);
    virtual ~udb_validator();
    udb_validator(const udb_validator&) = default;
    udb_validator& operator=(const udb_validator&) = default;

    virtual bool is_acceptable(const std::wstring& name);
    virtual bool is_duplicated(const std::wstring& name);
    virtual std::wstring get_safe_name(const std::wstring& name);

    // A name taken by the target: later duplicates are found ignoring case.
    void add_existing_name(const std::wstring& name);
    // A name that is never acceptable (compared ignoring case).
    void add_restricted_name(const std::wstring& name);
    // A character that no acceptable name holds.
    void add_illegal_char(wchar_t c);

    uint32_t get_max_length() const { return max_length_; }
    const std::vector<std::wstring>& get_names_in_use() const { return names_in_use_; }
    const std::vector<std::wstring>& get_restricted_names() const { return restricted_names_; }
    const std::vector<wchar_t>& get_illegal_chars() const { return illegal_chars_; }

    // The key under which names are compared ignoring case.
    static std::wstring fold_name(std::wstring_view name);

protected:
    uint32_t max_length_ = 0;
    std::map<std::wstring, std::wstring> name_pairs_;

private:
    std::vector<wchar_t> illegal_chars_;
    std::vector<std::wstring> restricted_names_;
    std::vector<std::wstring> names_in_use_;
    // Folded keys of the two lists: lookups stay fast for thousands of names.
    std::unordered_set<std::wstring> restricted_keys_;
    std::unordered_set<std::wstring> in_use_keys_;
};
