#include "tk_clipb.h"

#include <exception>
#include <mutex>

#include "tk_log.h"

namespace {

std::mutex writer_lock;
tk_clipboard_writer& writer_slot() {
    static tk_clipboard_writer writer;
    return writer;
}

}  // namespace

void tk_set_clipboard_writer(tk_clipboard_writer writer) {
    std::lock_guard<std::mutex> guard(writer_lock);
    writer_slot() = std::move(writer);
}

void tk_copy_to_clipboard2(const std::wstring& text) {
    tk_wlog(2, L"tk_copy_to_clipboard2(%s)", text.c_str());
    tk_clipboard_writer writer;
    {
        std::lock_guard<std::mutex> guard(writer_lock);
        writer = writer_slot();
    }
    if (!writer) {
        tk_log(2, "No clipboard writer installed");
        return;
    }
    bool ok = false;
    try {
        ok = writer(text);
    } catch (const std::exception& e) {
        tk_log(2, "Clipboard writer failed: %s", e.what());
    }
    tk_log(2, ok ? "Text copied to the clipboard" : "Clipboard could not be written");
}
