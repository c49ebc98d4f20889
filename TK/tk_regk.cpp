#include "tk_regk.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <vector>

#include "tk_excep.h"
#include "tk_log.h"
#include "utf8.h"

namespace {

constexpr const char* source_file = "tk_regk";

void log_type_size(const plat::reg_value& v, uint32_t size) {
    tk_log(1, "type=%d, size=%d", static_cast<int>(v.type), static_cast<int>(size));
}

std::wstring wide_or_empty(const wchar_t* s) { return s ? std::wstring(s) : std::wstring(); }

// Hands a text value out: its size in bytes with the terminator goes to
// *size; the text itself only when there is a buffer large enough.
template <class Ch>
uint32_t copy_text_out(const plat::reg_value& v, const std::basic_string<Ch>& text, Ch* buffer, uint32_t* size) {
    if (text.size() >= UINT32_MAX / sizeof(Ch)) return EFBIG;
    uint32_t needed = static_cast<uint32_t>((text.size() + 1) * sizeof(Ch));
    log_type_size(v, needed);
    uint32_t room = *size;
    *size = needed;
    if (!buffer) return 0;
    if (room < needed) return ERANGE;
    std::memcpy(buffer, text.data(), text.size() * sizeof(Ch));
    buffer[text.size()] = Ch('\0');
    return 0;
}

// Reads a text value in two steps (its size, then the text); false when
// there is none. Only what was stored counts, up to its first zero.
template <class Ch>
bool read_text(tk_reg_key& key, const Ch* name, std::basic_string<Ch>& value) {
    uint32_t size = 0;
    if (key.get_value(static_cast<Ch*>(nullptr), name, &size) != 0 || size == 0) return false;
    std::vector<Ch> buf((size + sizeof(Ch) - 1) / sizeof(Ch));
    uint32_t got = size;
    if (key.get_value(buf.data(), name, &got) != 0) return false;
    std::size_t len = std::min<std::size_t>(got / sizeof(Ch), buf.size());
    const Ch* end = std::find(buf.data(), buf.data() + len, Ch('\0'));
    value.assign(buf.data(), static_cast<std::size_t>(end - buf.data()));
    return true;
}

}  // namespace

tk_reg_key::tk_reg_key() = default;

tk_reg_key::~tk_reg_key() { close(); }

uint32_t tk_reg_key::create(tk_hkey root, const char* subkey, const char* /*key_class*/,
                            uint32_t /*options*/, uint32_t /*access*/, void* /*security*/,
                            uint32_t* disposition) {
    if (!root) throw tk_mail_assertion(source_file, 64);
    tk_log(2, "tk_reg_key::create(%s)", subkey ? subkey : "");
    if (!subkey || !*subkey) return EINVAL;
    plat::reg_store_key key;
    bool created = false;
    uint32_t rc = key.open(*root, subkey, true, &created);
    if (rc) {
        tk_log(1, "cannot open key, error %u", rc);
        return rc;
    }
    m_key = std::move(key);
    if (disposition) *disposition = created ? tk_reg_created_new_key : tk_reg_opened_existing_key;
    return 0;
}

uint32_t tk_reg_key::close() {
    if (!m_key.is_open()) return 0;
    tk_log(2, "tk_reg_key::close");
    m_key.close();
    return 0;
}

uint32_t tk_reg_key::query(const std::string& name, plat::reg_type type, plat::reg_value& out) {
    if (!m_key.is_open()) return EBADF;
    uint32_t rc = m_key.query(name, out);
    if (rc) return rc;
    // A value of another type is not the value asked for.
    if (out.type != type) return ENOENT;
    return 0;
}

uint32_t tk_reg_key::get_value(uint32_t& value, const char* name) {
    if (!name) throw tk_mail_assertion(source_file, 98);
    tk_log(2, "tk_reg_key::get_value(ulong, %s)", name);
    plat::reg_value v;
    uint32_t rc = query(name, plat::reg_type::u32, v);
    log_type_size(v, rc == 0 ? 4 : 0);
    if (rc) return rc;
    value = v.number;
    return 0;
}

uint32_t tk_reg_key::get_value(char* buffer, const char* name, uint32_t* size) {
    if (!size) throw tk_mail_assertion(source_file, 115);
    if (!name) throw tk_mail_assertion(source_file, 116);
    tk_log(2, "tk_reg_key::get_value(LPSTR, %s)", name);
    plat::reg_value v;
    uint32_t rc = query(name, plat::reg_type::text, v);
    if (rc) {
        log_type_size(v, 0);
        return rc;
    }
    return copy_text_out(v, v.text, buffer, size);
}

uint32_t tk_reg_key::get_value(wchar_t* buffer, const wchar_t* name, uint32_t* size) {
    if (!size) throw tk_mail_assertion(source_file, 132);
    if (!name) throw tk_mail_assertion(source_file, 133);
    tk_wlog(2, L"tk_reg_key::get_value(LPWSTR, %s)", name);
    plat::reg_value v;
    uint32_t rc = query(plat::utf8_encode(name), plat::reg_type::text, v);
    if (rc) {
        log_type_size(v, 0);
        return rc;
    }
    return copy_text_out(v, plat::utf8_decode(v.text), buffer, size);
}

uint32_t tk_reg_key::set_value(uint32_t value, const char* name) {
    if (!m_key.is_open()) throw tk_mail_assertion(source_file, 149);
    tk_log(2, "tk_reg_key::set_value(ulong, %s)", name ? name : "");
    plat::reg_value v;
    v.type = plat::reg_type::u32;
    v.number = value;
    return m_key.set(name ? name : "", v);
}

uint32_t tk_reg_key::set_value(const char* text, const char* name) {
    if (!text) throw tk_mail_assertion(source_file, 156);
    if (!m_key.is_open()) throw tk_mail_assertion(source_file, 157);
    // The text itself is not logged: one of the values is a password.
    tk_log(2, "tk_reg_key::set_value(LPCSTR, %s)", name ? name : "");
    plat::reg_value v;
    v.type = plat::reg_type::text;
    v.text = text;
    return m_key.set(name ? name : "", v);
}

uint32_t tk_reg_key::set_value(const wchar_t* text, const wchar_t* name) {
    if (!text) throw tk_mail_assertion(source_file, 164);
    if (!m_key.is_open()) throw tk_mail_assertion(source_file, 165);
    std::wstring wname = wide_or_empty(name);
    tk_wlog(2, L"tk_reg_key::set_value(LPCWSTR, %s)", wname.c_str());
    plat::reg_value v;
    v.type = plat::reg_type::text;
    v.text = plat::utf8_encode(text);
    return m_key.set(plat::utf8_encode(wname), v);
}

tk_serializer::tk_serializer(const std::string& key_path) : m_key_path(key_path) {
    tk_log(2, "tk_serializer::ctor(%s)", key_path.c_str());
}

tk_serializer::~tk_serializer() {
    m_key_path.clear();
    m_key.close();
}

uint32_t tk_serializer::open_key() {
    return m_key.create(tk_hkey_current_user(), m_key_path.c_str(), nullptr,
                        tk_reg_option_non_volatile, tk_key_all_access, nullptr, nullptr);
}

bool tk_serializer::exchange(const char* name, bool& value, bool store) {
    tk_log(2, "tk_serializer::exchange(bool, %s, %d)", name ? name : "", store ? 1 : 0);
    if (!m_key.is_open()) return false;
    if (store) return m_key.set_value(value ? 1u : 0u, name) == 0;
    uint32_t number = 0;
    if (m_key.get_value(number, name) != 0) return false;
    value = number != 0;
    return true;
}

bool tk_serializer::exchange(const char* name, uint32_t& value, bool store) {
    tk_log(2, "tk_serializer::exchange(ulong, %s, %d)", name ? name : "", store ? 1 : 0);
    if (!m_key.is_open()) return false;
    if (store) return m_key.set_value(value, name) == 0;
    uint32_t number = 0;
    if (m_key.get_value(number, name) != 0) return false;
    value = number;
    return true;
}

bool tk_serializer::exchange(const char* name, std::string& value, bool store) {
    tk_log(2, "tk_serializer::exchange(string, %s, %d)", name ? name : "", store ? 1 : 0);
    if (!m_key.is_open()) return false;
    if (store) return m_key.set_value(value.c_str(), name) == 0;
    return read_text(m_key, name, value);
}

bool tk_serializer::exchange(const wchar_t* name, std::wstring& value, bool store) {
    tk_wlog(2, L"tk_serializer::exchange(wstring, %s, %d)", wide_or_empty(name).c_str(),
            store ? 1 : 0);
    if (!m_key.is_open()) return false;
    if (store) return m_key.set_value(value.c_str(), name) == 0;
    return read_text(m_key, name, value);
}
