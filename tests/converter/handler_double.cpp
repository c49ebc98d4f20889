// The front end's report of caught exceptions, as a test double: each call
// is recorded and nothing ends the process, so tests can see every report.
#include "conv_test_util.h"

namespace {
std::mutex g_lock;
std::vector<conv_test::handled_call> g_calls;
std::function<void()> g_hook;
}  // namespace

namespace conv_test {

void recording_handler::handle(const tk_exception& e, bool no_abort) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_calls.push_back({e.level(), e.what(), get_context(), no_abort, e.code()});
        hook = g_hook;
    }
    if (hook) hook();
}

void set_handle_hook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_hook = std::move(hook);
}

std::vector<handled_call> handled_calls() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_calls;
}

void clear_handled_calls() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_calls.clear();
}

}  // namespace conv_test
