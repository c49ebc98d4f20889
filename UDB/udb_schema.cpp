#include "udb_schema.h"

#include "text.h"
#include "tk_log.h"

t_ftd::t_ftd(uint32_t size_, const std::wstring& name_, VARTYPE vartype_, bool b_not_null_, bool auto_increment_,
             const ole_variant& def_value_, uint32_t reserved_, const std::wstring& native_type_)
    : size(size_),
      name(name_),
      vartype(vartype_),
      native_type(native_type_),
      auto_increment(auto_increment_),
      b_not_null(b_not_null_),
      def_value(def_value_),
      reserved(reserved_) {
    tk_log(1, "t_ftd::ctor2");
    if (tk_log_wants(1))
        tk_wlog(1, L"\tfield name='%s', vartype=%d, size=%d, b_not_null=%d, reserved=%d", name.c_str(),
                static_cast<int>(vartype), static_cast<int>(size), b_not_null ? 1 : 0, static_cast<int>(reserved));
}

udb_schema::udb_schema(bool flag_) : flag(flag_) { tk_log(2, "udb_schema::ctor"); }

udb_schema::udb_schema(const udb_schema& that)
    : udb_list_owner(that), flag(that.flag), counter1(that.counter1), counter2(that.counter2) {}

udb_schema& udb_schema::operator=(const udb_schema& that) {
    if (this != &that) {
        udb_schema copy(that);
        *this = std::move(copy);
    }
    return *this;
}

udb_schema::udb_schema(udb_schema&& that) noexcept
    : udb_list_owner(std::move(that)), flag(that.flag), counter1(that.counter1), counter2(that.counter2) {}

udb_schema& udb_schema::operator=(udb_schema&& that) noexcept {
    if (this != &that) {
        items_ = std::move(that.items_);
        flag = that.flag;
        counter1 = that.counter1;
        counter2 = that.counter2;
    }
    return *this;
}

udb_schema::~udb_schema() {
    tk_log(1, "udb_schema::dtor");
    clear();
    tk_log(1, "udb_schema::dtor - at the end");
}

int udb_schema::find_index(const std::wstring& name) const {
    for (size_t i = 0; i < items_.size(); ++i) {
        const t_ftd* d = items_[i];
        if (d && plat::equal_nocase(d->name, name)) return static_cast<int>(i);
    }
    return -1;
}

bool udb_schema::find_field(const std::wstring& name) const {
    const bool logging = tk_log_wants(1);
    if (logging) {
        tk_wlog(1, L"udb_schema::find_field(%s)", name.c_str());
        tk_log(1, "Schema size=%d", static_cast<int>(items_.size()));
    }
    bool found = false;
    for (size_t i = 0; i < items_.size() && !found; ++i) {
        const t_ftd* d = items_[i];
        if (!d) continue;
        if (logging) {
            tk_log(1, "Iterating field #%d", static_cast<int>(i));
            tk_wlog(1, L"Compare with field: '%s'", d->name.c_str());
        }
        found = plat::equal_nocase(d->name, name);
    }
    tk_log(1, found ? "Field found!!!" : "Field NOT found!!!");
    return found;
}

t_ftd& udb_schema::lookup(const std::wstring& name) const {
    int pos = find_index(name);
    if (pos >= 0) return *items_[static_cast<size_t>(pos)];
    if (tk_log_wants(2)) tk_wlog(2, L"Field '%s' not found", name.c_str());
    miss_ = t_ftd();
    return miss_;
}

t_ftd& udb_schema::get_field1(const std::wstring& name) {
    if (tk_log_wants(1)) tk_wlog(1, L"udb_schema::get_field1(%s)", name.c_str());
    return lookup(name);
}

t_ftd& udb_schema::get_field2(const std::wstring& name) {
    if (tk_log_wants(1)) tk_wlog(1, L"udb_schema::get_field2(%s)", name.c_str());
    return lookup(name);
}

const t_ftd& udb_schema::get_field1(const std::wstring& name) const {
    if (tk_log_wants(1)) tk_wlog(1, L"udb_schema::get_field1(%s)", name.c_str());
    return lookup(name);
}

const t_ftd& udb_schema::get_field2(const std::wstring& name) const {
    if (tk_log_wants(1)) tk_wlog(1, L"udb_schema::get_field2(%s)", name.c_str());
    return lookup(name);
}

int32_t udb_schema::get_field_size(const std::wstring& name) const {
    int pos = find_index(name);
    if (pos < 0) {
        if (tk_log_wants(3)) tk_wlog(3, L"Field '%s' not found", name.c_str());
        return -1;
    }
    return static_cast<int32_t>(items_[static_cast<size_t>(pos)]->size);
}

VARTYPE udb_schema::get_field_type(const std::wstring& name) const {
    int pos = find_index(name);
    if (pos < 0) {
        if (tk_log_wants(2)) tk_wlog(2, L"Field '%s' not found", name.c_str());
        return VT_NULL;
    }
    return items_[static_cast<size_t>(pos)]->vartype;
}
