// The scope of one conversion run: logs its start and end times and sets the
// converter's done flag when it closes, on every way out of the run.
#pragma once
#include <functional>

class tk_converter;

class init_conversion {
public:
    // Logs the start; then calls on_start (when set), which the wizard uses
    // to start its progress timer. When on_start throws, done is set before
    // the exception leaves the constructor. no_com: kept for the front ends'
    // sake; there is no COM on this platform.
    init_conversion(tk_converter* converter, bool no_com, const std::function<void()>& on_start = {});
    // Logs the end, then sets done (stored last).
    ~init_conversion();
    init_conversion(const init_conversion&) = delete;
    init_conversion& operator=(const init_conversion&) = delete;

private:
    bool no_com_;
    tk_converter* converter_;
};
