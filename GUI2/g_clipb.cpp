#include "g_clipb.h"

#include <QClipboard>
#include <QGuiApplication>

#include "g_text.h"
#include "g_thread.h"
#include "tk_clipb.h"
#include "tk_log.h"

void gui_install_clipboard_writer() {
    tk_log(2, "gui_install_clipboard_writer");
    tk_set_clipboard_writer([](const std::wstring& text) {
        bool ok = false;
        gui_invoke([&] {
            if (QClipboard* clipboard = QGuiApplication::clipboard()) {
                clipboard->setText(gui_qstr(text));
                ok = true;
            }
        });
        return ok;
    });
}
