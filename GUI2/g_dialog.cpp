#include "g_dialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "g_seam.h"
#include "g_wiz_pg.h"

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

void gui_dialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        auto* help = control<QPushButton>(9);
        if (help && help->isVisible() && help->isEnabled()) {
            help->click();
            event->accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
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

gui_dialog::ok_cancel_help gui_dialog::add_ok_cancel_help(QHBoxLayout* row, int ok_id, int cancel_id, int help_id) {
    ok_cancel_help b{gui_make_button(this, ok_id, QStringLiteral("O&K")),
                     gui_make_button(this, cancel_id, QStringLiteral("&Cancel")),
                     gui_make_button(this, help_id, QStringLiteral("&Help"))};
    row->addWidget(b.ok);
    row->addWidget(b.cancel);
    row->addWidget(b.help);
    b.ok->setDefault(true);
    return b;
}

QLabel* gui_icon_label(QWidget* parent, int standard_pixmap) {
    auto* label = new QLabel(parent);
    QStyle* style = parent ? parent->style() : QApplication::style();
    const int size = style->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, parent);
    label->setPixmap(style->standardIcon(static_cast<QStyle::StandardPixmap>(standard_pixmap), nullptr, parent).pixmap(size, size));
    label->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    return label;
}
