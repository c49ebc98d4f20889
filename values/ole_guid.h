// Finds a GUID in a text: the plain 36-character form, the same in braces,
// or "guid" followed later by a braced GUID.
#pragma once
#include <string>
#include <string_view>

class ole_guid_extractor {
public:
    explicit ole_guid_extractor(std::wstring_view text);
    explicit ole_guid_extractor(std::string_view text);
    ole_guid_extractor(const std::wstring& text) : ole_guid_extractor(std::wstring_view(text)) {}
    ole_guid_extractor(const std::string& text) : ole_guid_extractor(std::string_view(text)) {}

    bool is_valid() const { return valid_; }
    // The 36 characters of the GUID, or an empty text.
    std::wstring to_wstring() const;
    std::string to_string() const;

    // True when text is exactly 8-4-4-4-12 hexadecimal digits.
    static bool is_guid_pattern(std::wstring_view text);

private:
    void recognise();

    int position_ = -1;
    std::wstring text_;
    bool valid_ = false;
};
