#include "g_res.h"

#include <QString>

// The resources live in a static library: registering them here keeps the
// linker from dropping them.
static void gui_register_resources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(g_res);
        return true;
    }();
    (void)done;
}

QPixmap gui_picture(uint32_t id) {
    gui_register_resources();
    if (id == 0) return QPixmap();
    return QPixmap(QStringLiteral(":/fennrow/%1.png").arg(id));
}
