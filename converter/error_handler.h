// The front end's reporter of caught exceptions, as the converter sees it.
// Each program builds its own kind: the console program reports on the
// console, the wizard in dialogs.
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "tk_atomic.h"
#include "tk_errco.h"
#include "tk_excep.h"
#include "tk_singl.h"

class error_handler : public tk_singleton<error_handler> {
public:
    ~error_handler() override;

    // Reports one exception by its level. A report may end the run by a
    // tk_final_exception, which the converter lets unwind as a stop: the
    // console program's levels 1 and 2, and with no_abort false the wizard's
    // level-0 dialog (Abort). The wizard's level 2 ends the process.
    virtual void handle(const tk_exception& e, bool no_abort) = 0;

    // "%s, record #%d" with the table name and the 1-based record number.
    void set_context(const std::wstring& table, int record);
    void set_context(const std::wstring& table);
    void clear_context();
    std::string get_context() const;

    // Context, then ": ", then the friendly text or the exception's own text.
    std::string report_text(const tk_exception& e) const;

    // Console: the quiet flag of --silent. Wizard: "do not show again".
    tk_atomic<bool> suppress;
    std::map<uint32_t, uint32_t> help_topics;
    tk_error_converter messages;

protected:
    // Console: no friendly texts.
    error_handler();
    // Wizard: the table of friendly texts by error code.
    error_handler(uint32_t count, const tk_error_row* rows);

private:
    mutable std::mutex m_lock;
    std::string m_context;
};
