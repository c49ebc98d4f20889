// Optional, process-wide conversion rules for column types and values.
// Nothing in this system registers the object, so every test answers false.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "ole_var.h"
#include "tk_singl.h"
#include "udb_schema.h"

class udb_rule {
public:
    virtual ~udb_rule() = default;
    virtual bool is_acceptable(const ole_variant& value) const = 0;
    virtual bool is_acceptable(const t_ftd& column) const = 0;
    virtual std::wstring handle(const ole_variant& value) const = 0;
    virtual std::wstring handle(const t_ftd& column) const = 0;
};

class udb_custom_conversion : public tk_singleton<udb_custom_conversion> {
public:
    udb_custom_conversion() = default;
    ~udb_custom_conversion() override = default;

    void add_rule(std::unique_ptr<udb_rule> rule) { rules_.push_back(std::move(rule)); }

    // Column form: whether some rule accepts the column, and the first
    // accepting rule's type text (empty when none accepts).
    static bool is_acceptable1(const t_ftd& column);
    static std::wstring handle1(const t_ftd& column);
    // Value form: the same for a value; handle2 without an accepting rule is
    // an internal error.
    static bool is_acceptable2(const ole_variant& value);
    static std::wstring handle2(const ole_variant& value);

private:
    std::vector<std::unique_ptr<udb_rule>> rules_;
};
