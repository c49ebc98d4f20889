// Registry key with typed reads and writes, and the serializer that exchanges
// remembered settings with one key in either direction.
// Results are error codes: 0 success, else an errno value (ENOENT: no such
// value, or a value of another type; ERANGE: the buffer is too small; EBADF:
// the key is not open).
#pragma once
#include <cstdint>
#include <string>

#include "keystore.h"

using tk_hkey = const plat::reg_root*;

// The current user's keys.
inline tk_hkey tk_hkey_current_user() { return plat::reg_current_user(); }

constexpr uint32_t tk_key_all_access = 0xF003F;
constexpr uint32_t tk_reg_option_non_volatile = 0;
// Dispositions reported by tk_reg_key::create.
constexpr uint32_t tk_reg_created_new_key = 1;
constexpr uint32_t tk_reg_opened_existing_key = 2;

class tk_reg_key {
public:
    tk_reg_key();
    ~tk_reg_key();
    tk_reg_key(const tk_reg_key&) = delete;
    tk_reg_key& operator=(const tk_reg_key&) = delete;

    // Opens or creates root\subkey; on success a key open before is closed.
    // Class, options, access and security are accepted for the caller's sake:
    // the store keeps every key private to the user.
    uint32_t create(tk_hkey root, const char* subkey, const char* key_class = nullptr,
                    uint32_t options = tk_reg_option_non_volatile,
                    uint32_t access = tk_key_all_access, void* security = nullptr,
                    uint32_t* disposition = nullptr);
    uint32_t close();
    bool is_open() const { return m_key.is_open(); }

    uint32_t get_value(uint32_t& value, const char* name);
    // size: in the buffer's size, out the value's size in bytes with its
    // terminator. A null buffer only asks for the size.
    uint32_t get_value(char* buffer, const char* name, uint32_t* size);
    // As above; sizes are in bytes (sizeof(wchar_t) per character).
    uint32_t get_value(wchar_t* buffer, const wchar_t* name, uint32_t* size);

    uint32_t set_value(uint32_t value, const char* name);
    uint32_t set_value(const char* text, const char* name);
    uint32_t set_value(const wchar_t* text, const wchar_t* name);

    // The store's file of the open key (empty when closed).
    const std::string& file() const { return m_key.file(); }

private:
    uint32_t query(const std::string& name, plat::reg_type type, plat::reg_value& out);

    plat::reg_store_key m_key;
};

// Holds one key and its path. Each exchange reads the value into the variable
// (store false) or writes the variable to the key (store true); false when the
// key is not open or the value could not be exchanged, and then a read leaves
// the variable as it was.
class tk_serializer {
public:
    explicit tk_serializer(const std::string& key_path);
    ~tk_serializer();
    tk_serializer(const tk_serializer&) = delete;
    tk_serializer& operator=(const tk_serializer&) = delete;

    // Opens or creates the key under the current user, with full access.
    uint32_t open_key();
    uint32_t close_key() { return m_key.close(); }
    bool is_open() const { return m_key.is_open(); }

    bool exchange(const char* name, bool& value, bool store);
    bool exchange(const char* name, uint32_t& value, bool store);
    bool exchange(const char* name, std::string& value, bool store);
    bool exchange(const wchar_t* name, std::wstring& value, bool store);

    const std::string& key_path() const { return m_key_path; }
    tk_reg_key& key() { return m_key; }

protected:
    tk_reg_key m_key;
    std::string m_key_path;
};
