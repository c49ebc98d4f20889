#include "udb_rule.h"

#include "tk_excep.h"
#include "tk_log.h"

namespace {

template <class Arg>
const udb_rule* first_accepting(const Arg& arg, const std::vector<std::unique_ptr<udb_rule>>& rules) {
    for (const auto& r : rules)
        if (r && r->is_acceptable(arg)) return r.get();
    return nullptr;
}

}  // namespace

bool udb_custom_conversion::is_acceptable1(const t_ftd& column) {
    tk_log(1, "udb_custom_conversion::is_acceptable1");
    udb_custom_conversion* self = peek();
    return self && first_accepting(column, self->rules_) != nullptr;
}

std::wstring udb_custom_conversion::handle1(const t_ftd& column) {
    tk_log(1, "udb_custom_conversion::handle1");
    udb_custom_conversion* self = peek();
    if (!self) return std::wstring();
    const udb_rule* r = first_accepting(column, self->rules_);
    return r ? r->handle(column) : std::wstring();
}

bool udb_custom_conversion::is_acceptable2(const ole_variant& value) {
    tk_log(1, "udb_custom_conversion::is_acceptable2");
    udb_custom_conversion* self = peek();
    return self && first_accepting(value, self->rules_) != nullptr;
}

std::wstring udb_custom_conversion::handle2(const ole_variant& value) {
    tk_log(1, "udb_custom_conversion::handle2");
    udb_custom_conversion* self = peek();
    if (!self || self->rules_.empty()) return std::wstring();
    const udb_rule* r = first_accepting(value, self->rules_);
    if (!r) throw tk_mail_assertion("udb_rule", 88);
    return r->handle(value);
}
