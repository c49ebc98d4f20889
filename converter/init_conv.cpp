#include "init_conv.h"

#include <ctime>

#include "tk_conv.h"
#include "tk_log.h"

namespace {

// event: "started" or "ended".
void log_time(const char* event) {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    tk_log(3, "Conversion %s on %02d/%02d/%04d at %02d:%02d:%02d", event, t.tm_mday, t.tm_mon + 1,
           t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
}

}  // namespace

init_conversion::init_conversion(tk_converter* converter, bool no_com, const std::function<void()>& on_start)
    : no_com_(no_com), converter_(converter) {
    tk_log(2, "init_conversion::ctor");
    log_time("started");
    if (!on_start) return;
    try {
        on_start();
    } catch (...) {
        // The destructor does not run for a scope that failed to open.
        if (converter_) converter_->set_done();
        throw;
    }
}

init_conversion::~init_conversion() {
    tk_log(2, "init_conversion::dtor");
    (void)no_com_;
    log_time("ended");
    if (converter_) converter_->set_done();
}
