// The current user's registry as a small file store.
//
// A key path such as "Software\Vantorel\Fennrow" names folders under the
// user's configuration folder (${XDG_CONFIG_HOME:-$HOME/.config}); the last
// element is the key's file, with ".reg" added:
//     ~/.config/Software/Vantorel/Fennrow.reg
// The file is UTF-8 text, one value a line: "u32 <name>=<decimal>" or
// "text <name>=<text>", lines starting with '#' are comments. Backslashes,
// line breaks, other control characters and bytes that are not UTF-8 are
// escaped ("\\", "\n", "\r", "\xHH"; '=' in a name as "\="), so a value never
// reaches the file raw. Files are 0600, folders created here 0700; every
// change replaces the file atomically (temporary file, then rename).
//
// Every call returns 0 or an errno value (ENOENT: no such key or value).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plat {

// Value types, numbered as the registry numbers them.
enum class reg_type : uint32_t { none = 0, text = 1, u32 = 4 };

struct reg_value {
    reg_type type = reg_type::none;
    uint32_t number = 0;  // u32 values
    std::string text;     // text values, UTF-8, no zero byte
};

using reg_entries = std::vector<std::pair<std::string, reg_value>>;

// A tree of keys: the keys live under folder; an empty folder means the
// current user's configuration folder, looked up at each open.
struct reg_root {
    std::string folder;
};

// The current user's tree.
const reg_root* reg_current_user();

// ${XDG_CONFIG_HOME} when it is an absolute path, else $HOME/.config (the
// password database's home when HOME is unset); empty when there is none.
std::string reg_user_folder();

// The file of key_path under folder. EINVAL for an empty path or an element
// that is empty, ".", "..", or holds '/' or a zero byte.
uint32_t reg_key_file(const std::string& folder, std::string_view key_path, std::string& file);

// The text form of a key file and back. Parsing skips lines it cannot read;
// of two values with the same name the later one counts.
std::string reg_format(std::string_view key_path, const reg_entries& values);
reg_entries reg_parse(std::string_view text);

// Largest key file read (bytes); a bigger file is refused with EFBIG.
constexpr std::size_t reg_max_file_size = 1u << 20;

// One open key of the file store. Value names compare ignoring case.
class reg_store_key {
public:
    // Opens the key; with create, missing folders (0700) and an empty key file
    // (0600) are made. created tells whether the key is new.
    uint32_t open(const reg_root& root, std::string_view key_path, bool create,
                  bool* created = nullptr);
    void close();
    bool is_open() const { return !file_.empty(); }
    const std::string& file() const { return file_; }

    // ENOENT when the key holds no value of that name.
    uint32_t query(std::string_view name, reg_value& out) const;
    uint32_t set(std::string_view name, const reg_value& value);
    // ENOENT when there was no such value.
    uint32_t erase(std::string_view name);
    uint32_t read_all(reg_entries& out) const;

private:
    uint32_t write_all(const reg_entries& values) const;

    std::string file_;
    std::string key_path_;
};

}  // namespace plat
