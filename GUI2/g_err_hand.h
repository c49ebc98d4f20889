// The wizard's reporter of caught exceptions: dialogs on the GUI thread, and
// the finish page's list of the run's errors.
#pragma once
#include <cstdint>

#include "error_handler.h"

class gui_error_handler : public error_handler {
public:
    // The table of friendly texts by error code.
    gui_error_handler(uint32_t count, const tk_error_row* rows) : error_handler(count, rows) {}
    void handle(const tk_exception& e, bool no_abort) override;
};
