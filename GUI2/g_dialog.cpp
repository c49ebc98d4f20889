#include "g_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QStyle>

#include "g_seam.h"

gui_dialog::gui_dialog(uint32_t dialog_id, QWidget* owner) : QDialog(owner), m_dialog_id(dialog_id) {
    setObjectName(QString::number(dialog_id));
    setModal(true);
}

int gui_dialog::run() { return gui_current_seam().exec_dialog(*this); }

void gui_dialog::showEvent(QShowEvent* event) {
    if (!m_initialized) {
        m_initialized = true;
        on_init();
    }
    QDialog::showEvent(event);
}

void gui_dialog::center_and_raise() {
    adjustSize();
    QRect area;
    if (QWidget* owner = parentWidget(); owner && owner->isVisible()) {
        area = owner->window()->frameGeometry();
    } else if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
        area = s->availableGeometry();
    }
    if (area.isValid()) {
        QRect frame = frameGeometry();
        frame.moveCenter(area.center());
        move(frame.topLeft());
    }
    raise();
    activateWindow();
}

QLabel* gui_icon_label(QWidget* parent, int standard_pixmap) {
    auto* label = new QLabel(parent);
    QStyle* style = parent ? parent->style() : QApplication::style();
    const int size = style->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, parent);
    label->setPixmap(style->standardIcon(static_cast<QStyle::StandardPixmap>(standard_pixmap), nullptr, parent).pixmap(size, size));
    label->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    return label;
}
