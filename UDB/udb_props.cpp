#include "udb_props.h"

#include "text.h"

std::wstring udb_properties::get_value(const std::wstring& key) const {
    auto it = values_.find(key);
    return it == values_.end() ? std::wstring() : it->second;
}

const udb_properties* udb_properties::get_properties(const std::wstring& name) const {
    auto it = children_.find(name);
    if (it != children_.end()) return it->second.get();
    for (const auto& [key, child] : children_)
        if (plat::equal_nocase(key, name)) return child.get();
    return nullptr;
}

udb_properties* udb_properties::get_properties(const std::wstring& name) {
    return const_cast<udb_properties*>(static_cast<const udb_properties*>(this)->get_properties(name));
}

udb_properties& udb_properties::add_properties(const std::wstring& name) {
    auto& slot = children_[name];
    if (!slot) slot = std::make_unique<udb_properties>();
    return *slot;
}
