#include "sql_types.h"

#include "decimal.h"

namespace {

constexpr sql_integer_type integer_types[] = {
    {MYSQL_TYPE_TINY, MYSQL_TYPE_TINY, VT_I1, VT_UI1},
    {MYSQL_TYPE_SHORT, MYSQL_TYPE_SHORT, VT_I2, VT_UI2},
    {MYSQL_TYPE_LONG, MYSQL_TYPE_LONG, VT_I4, VT_UI4},
    {MYSQL_TYPE_INT24, MYSQL_TYPE_LONG, VT_I4, VT_I4},
    {MYSQL_TYPE_LONGLONG, MYSQL_TYPE_LONGLONG, VT_I8, VT_UI8},
    {MYSQL_TYPE_YEAR, MYSQL_TYPE_SHORT, VT_UI2, VT_UI2},
};

bool is_signed_vartype(VARTYPE vt) { return vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_I8; }

}  // namespace

const sql_integer_type* sql_integer_type_of(enum_field_types type) {
    for (const sql_integer_type& t : integer_types)
        if (t.type == type) return &t;
    return nullptr;
}

bool sql_is_string_type(enum_field_types type) {
    switch (type) {
    case MYSQL_TYPE_VARCHAR:
    case MYSQL_TYPE_VAR_STRING:
    case MYSQL_TYPE_STRING:
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
    case MYSQL_TYPE_JSON:
    case MYSQL_TYPE_ENUM:
    case MYSQL_TYPE_SET:
    case MYSQL_TYPE_GEOMETRY:
        return true;
    default:
        return false;
    }
}

bool sql_is_binary_column(const MYSQL_FIELD& field) {
    return sql_is_string_type(field.type) && field.charsetnr == sql_binary_charset;
}

uint32_t sql_decimal_precision(const MYSQL_FIELD& field) {
    long precision = static_cast<long>(field.length);
    if (field.decimals > 0) --precision;                  // the decimal point
    if (!(field.flags & UNSIGNED_FLAG)) --precision;  // the sign
    return precision < 0 ? 0 : static_cast<uint32_t>(precision);
}

namespace {

sql_column_rule make(VARTYPE vt, sql_cell_kind kind) {
    sql_column_rule r;
    r.vartype = vt;
    r.kind = kind;
    return r;
}

// The server's text form of the column's cells, with its fraction digits.
sql_column_rule with_form(sql_column_rule r, ole_text_form::kind_t kind, unsigned int digits) {
    r.form.kind = kind;
    r.form.digits = static_cast<uint8_t>(digits);
    return r;
}

unsigned int fraction_digits(const MYSQL_FIELD& field) { return field.decimals <= 6 ? field.decimals : 6; }

VARTYPE bits_vartype(unsigned long bit_count) {
    if (bit_count <= 8) return VT_UI1;
    if (bit_count <= 16) return VT_UI2;
    if (bit_count <= 32) return VT_UI4;
    return VT_UI8;
}

}  // namespace

sql_cell_plan sql_cell_plan_of(VARTYPE vartype, sql_cell_kind kind) {
    switch (kind) {
    case sql_cell_kind::int_signed:
        switch (vartype) {
        case VT_I1: return sql_cell_plan::i1;
        case VT_I2: return sql_cell_plan::i2;
        case VT_I4: return sql_cell_plan::i4;
        case VT_I8: return sql_cell_plan::i8;
        default: return sql_cell_plan::general;
        }
    case sql_cell_kind::int_unsigned:
        switch (vartype) {
        case VT_UI1: return sql_cell_plan::ui1;
        case VT_UI2: return sql_cell_plan::ui2;
        case VT_UI4: return sql_cell_plan::ui4;
        case VT_UI8: return sql_cell_plan::ui8;
        default: return sql_cell_plan::general;
        }
    case sql_cell_kind::real4: return sql_cell_plan::real4;
    case sql_cell_kind::real8: return sql_cell_plan::real8;
    case sql_cell_kind::decimal: return sql_cell_plan::decimal;
    case sql_cell_kind::bits: return sql_cell_plan::bits;
    case sql_cell_kind::text: return sql_cell_plan::text;
    case sql_cell_kind::bytes: return sql_cell_plan::bytes;
    case sql_cell_kind::date:
    case sql_cell_kind::time:
    case sql_cell_kind::datetime: return sql_cell_plan::temporal;
    default: return sql_cell_plan::general;
    }
}

namespace {

sql_column_rule rule_for(const MYSQL_FIELD& field, bool blob_to_text) {
    const bool is_unsigned = (field.flags & UNSIGNED_FLAG) != 0;
    if (const sql_integer_type* integer = sql_integer_type_of(field.type)) {
        const VARTYPE vt = is_unsigned ? integer->unsigned_vartype : integer->signed_vartype;
        return make(vt, is_signed_vartype(vt) ? sql_cell_kind::int_signed : sql_cell_kind::int_unsigned);
    }
    switch (field.type) {
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
        // Up to 28 digits fit the decimal type; wider columns keep their
        // exact digits as text.
        if (sql_decimal_precision(field) > plat::DECIMAL_MAX_SCALE) return make(VT_BSTR, sql_cell_kind::text);
        return with_form(make(VT_DECIMAL, sql_cell_kind::decimal), ole_text_form::decimal,
                         field.decimals <= plat::DECIMAL_MAX_SCALE ? field.decimals : plat::DECIMAL_MAX_SCALE);
    case MYSQL_TYPE_FLOAT:
        return make(VT_R4, sql_cell_kind::real4);
    case MYSQL_TYPE_DOUBLE:
        return make(VT_R8, sql_cell_kind::real8);
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
        return with_form(make(VT_DATE, sql_cell_kind::date), ole_text_form::date, 0);
    case MYSQL_TYPE_TIME:
        return with_form(make(VT_DATE, sql_cell_kind::time), ole_text_form::time, fraction_digits(field));
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_DATETIME:
        return with_form(make(VT_DATE, sql_cell_kind::datetime), ole_text_form::datetime, fraction_digits(field));
    case MYSQL_TYPE_BIT:
        if (field.length <= 1) return make(VT_BOOL, sql_cell_kind::boolean);
        return make(bits_vartype(field.length), sql_cell_kind::bits);
    default:
        break;
    }
    if (sql_is_binary_column(field)) {
        if (blob_to_text) return make(VT_BSTR, sql_cell_kind::bytes_or_text);
        return make(VT_BYTE_ARRAY, sql_cell_kind::bytes);
    }
    // Text strings, TEXT, JSON, ENUM, SET, GEOMETRY as text, NULL columns and
    // any type not known here.
    return make(VT_BSTR, sql_cell_kind::text);
}

}  // namespace

sql_column_rule sql_column_rule_for(const MYSQL_FIELD& field, bool blob_to_text) {
    sql_column_rule r = rule_for(field, blob_to_text);
    r.plan = sql_cell_plan_of(r.vartype, r.kind);
    return r;
}

bool sql_binary_protocol_fits(const MYSQL_FIELD& field) {
    if (sql_integer_type_of(field.type)) return true;
    switch (field.type) {
    case MYSQL_TYPE_NULL:
        return true;
    case MYSQL_TYPE_DOUBLE:
    case MYSQL_TYPE_FLOAT:
        // Written as the server writes them (sql_float_text, sql_fixed_text).
        return true;
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
    case MYSQL_TYPE_BIT:
        // The bytes of the text protocol (ZEROFILL digits, the bits).
        return true;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_TIME:
        return field.decimals <= 6;
    default:
        return sql_is_string_type(field.type);
    }
}
