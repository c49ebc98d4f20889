#include "g_err_tab.h"

#include "sql_excep.h"
#include "tk_excep.h"

namespace {

constexpr const char* cannot_connect =
    "Cannot connect to the MySQL server. Check to verify that MySQL server\n"
    "is launched and the correct host/port values were given.";
constexpr const char* auth_protocol =
    "The program does not support authentication protocol requested by server.\n"
    "See 'Troubleshooting' article of the product documentation.";

}  // namespace

const tk_error_row gui_error_table[gui_error_table_size] = {
    {0x400414,
     "Access denied. Ask your system administrator to grant you\n"
     "the necessary privileges to write into the database."},
    {0x400415,
     "Access denied. Verify the user name and password are correct, and you have\n"
     "the necessary privileges to connect to the target MySQL server."},
    {0x400426,
     "Duplicate field values being used for an unique index were found.\n"
     "See 'Troubleshooting' article of the product documentation\n"
     "for solution."},
    {0x40042F,
     "Primary key in the original database is too long.\n"
     "Restart the program with \"Skip converting indexes\"\n"
     "checkbox selected in order to resolve the conflict.\n"},
    {0x40046A,
     "You are not allowed to connect to the destination MySQL server.\n"
     "Ask your system administrator to grant you necessary privileges\n"
     "to create new databases on target MySQL server."},
    {0x40041B,
     "Failed to overwrite MySQL database. It is being used by\n"
     "another application. Specify a different destination name."},
    {0x4007D3, cannot_connect},
    {0x4007D5, cannot_connect},
    {0x4007D6,
     "Transferred value is too big. Increase MySQL max packet size and try\n"
     "again. See 'Troubleshooting' article of the product documentation."},
    {0x4004E1, auth_protocol},
    {0x4004E2, auth_protocol},
    {0x4004E3, auth_protocol},
    {0x4007D2,
     "No MySQL server answers on this computer's local socket. Check to verify that\n"
     "MySQL server is launched here, or choose 'Remote' and give its host and port."},
};

const char* const gui_no_answer_text =
    "The MySQL server does not answer. Check to verify that MySQL server\n"
    "is launched and working and the correct host/port values were given.";

bool gui_is_no_answer(const tk_exception& e) { return sql_is_no_answer(e); }

std::string gui_server_failure_text(const tk_exception& e) {
    if (gui_is_no_answer(e)) return gui_no_answer_text;
    std::string text = tk_error_converter(gui_error_table_size, gui_error_table).convert(e.code());
    return text.empty() ? std::string(e.what()) : text;
}

std::string gui_connection_failure_text(const tk_exception& e) {
    if (!gui_is_no_answer(e) && !sql_is_unreachable(e)) return std::string();
    return gui_server_failure_text(e) + "\n" + e.what();
}
