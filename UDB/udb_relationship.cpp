#include "udb_relationship.h"

#include "tk_log.h"

udb_relationship::udb_relationship(const std::wstring& constraint_name_, const std::wstring& extra_,
                                   const std::wstring& fk_table_, const std::wstring& pk_table_,
                                   const std::vector<std::wstring>& fk_flds_,
                                   const std::vector<std::wstring>& pk_flds_, const std::wstring& rule_)
    : constraint_name(constraint_name_),
      extra(extra_),
      fk_table(fk_table_),
      pk_table(pk_table_),
      rule(rule_),
      fk_flds(fk_flds_),
      pk_flds(pk_flds_) {}

udb_relationship::udb_relationship(const udb_relationship& that)
    : constraint_name(that.constraint_name),
      extra(that.extra),
      fk_table(that.fk_table),
      pk_table(that.pk_table),
      rule(that.rule),
      fk_flds(that.fk_flds),
      pk_flds(that.pk_flds) {
    tk_log(2, "udb_relationship::copy ctor");
    tk_log(2, "that.fk_flds.size=%d, fk_flds.size=%d", static_cast<int>(that.fk_flds.size()),
           static_cast<int>(fk_flds.size()));
    tk_log(2, "that.pk_flds.size=%d, pk_flds.size=%d", static_cast<int>(that.pk_flds.size()),
           static_cast<int>(pk_flds.size()));
}
