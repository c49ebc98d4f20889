#include "kvr_conv.h"

#include <sys/socket.h>

#include "csv_format.h"
#include "csv_lock.h"
#include "sql_count.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "udb_recordset.h"

kellvar_converter::kellvar_converter(kellvar_program program, error_handler& handler)
    : mysql_converter_impl(handler),
      tk_serializer(kellvar_registry_key),
      console_run(program == kellvar_program::console),
      remember_settings(program == kellvar_program::gui) {
    tk_log(2, "kellvar_converter::ctor");
    if (remember_settings) {
        serialize(false);
    } else {
        include_field_names = true;
        delimiter_index = csv_default_delimiter;
    }
}

kellvar_converter::~kellvar_converter() {
    tk_log(2, "kellvar_converter::dtor");
    if (remember_settings) serialize(true);
}

const wchar_t* kellvar_converter::delimiter_text(uint32_t index) {
    return csv_is_delimiter_index(index) ? csv_delimiters[index] : nullptr;
}

bool kellvar_converter::check_query(const std::wstring& query) {
    std::string reason;
    try {
        return check_query(query, reason);
    } catch (const std::exception& e) {
        tk_log(2, "The query cannot be checked: %s", e.what());
        return false;
    }
}

bool kellvar_converter::check_query(const std::wstring& query, std::string& reason) {
    reconnect_if_cut();
    return mysql_converter_impl::check_query(source, query, reason);
}

void kellvar_converter::check_stop() const {
    if (stop_requested()) {
        tk_log(3, "Conversion stopped");
        throw tk_final_exception();
    }
}

void kellvar_converter::set_cancel_socket(int fd) {
    std::lock_guard<std::mutex> lock(m_cancel_lock);
    m_cancel_socket = fd;
}

void kellvar_converter::set_cancel_counter(sql_counter* counter) {
    std::lock_guard<std::mutex> lock(m_cancel_lock);
    m_cancel_counter = counter;
}

void kellvar_converter::on_stop_request() {
    // Under the lock the run cannot drop the socket, so the descriptor is
    // still the connection's own.
    std::lock_guard<std::mutex> lock(m_cancel_lock);
    if (m_cancel_counter) m_cancel_counter->cut();
    if (m_cancel_socket < 0) return;
    tk_log(2, "kellvar_converter::on_stop_request - shutting the connection down");
    ::shutdown(m_cancel_socket, SHUT_RDWR);
    m_connection_cut = true;
}

void kellvar_converter::abandon_stream(udb_recordset* rs) noexcept {
    try {
        // Closing it as it is would receive and drop every row left.
        if (rs && rs->cut_stream()) {
            tk_log(2, "The stream left open was cut");
            m_connection_cut = true;
        }
    } catch (const std::exception& e) {
        tk_log(3, "ERROR: %s", e.what());
    }
}
