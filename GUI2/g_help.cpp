#include "g_help.h"

#include <QApplication>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "tk_log.h"

namespace {

QPointer<gui_help_window> the_window;

}  // namespace

gui_help_window::gui_help_window(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("help"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("help_text"));
    m_browser->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    resize(640, 520);
    // Escape and the platform's close keys close it, as its close box does.
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(QKeySequence::Close)})
        new QShortcut(keys, this, this, &QWidget::close);
}

void gui_help_window::show_topic(const QString& file, uint32_t topic) {
    QUrl url = QUrl::fromLocalFile(file);
    if (topic) url.setFragment(QString::number(topic));
    // Loading the same file again only moves to the anchor.
    m_browser->setSource(url);
    if (topic) m_browser->scrollToAnchor(QString::number(topic));
    setWindowTitle(m_browser->documentTitle().isEmpty() ? QStringLiteral("Help") : m_browser->documentTitle());
}

namespace {

// Gap between the help window and the window it explains.
constexpr int beside_gap = 8;
// The least room that still makes a usable help window.
constexpr int least_width = 280;
constexpr int least_height = 200;

// The window at size (frame included) beside the owner's frame within area:
// right, left, below, above, in that order; a null rect when none fits.
QRect beside(const QRect& owner, const QSize& size, const QRect& area) {
    const int y = qBound(area.top(), owner.top(), area.bottom() + 1 - size.height());
    const int x = qBound(area.left(), owner.left(), area.right() + 1 - size.width());
    const QRect tries[] = {
        QRect(QPoint(owner.right() + 1 + beside_gap, y), size),
        QRect(QPoint(owner.left() - beside_gap - size.width(), y), size),
        QRect(QPoint(x, owner.bottom() + 1 + beside_gap), size),
        QRect(QPoint(x, owner.top() - beside_gap - size.height()), size),
    };
    for (const QRect& r : tries)
        if (area.contains(r)) return r;
    return QRect();
}

// The largest strip of the area beside the owner, smaller than the window
// but large enough to use; a null rect when there is none.
QRect largest_strip(const QRect& owner, const QSize& size, const QRect& area) {
    const QRect strips[] = {
        QRect(QPoint(owner.right() + 1 + beside_gap, area.top()), area.bottomRight()),
        QRect(area.topLeft(), QPoint(owner.left() - 1 - beside_gap, area.bottom())),
        QRect(QPoint(area.left(), owner.bottom() + 1 + beside_gap), area.bottomRight()),
        QRect(area.topLeft(), QPoint(area.right(), owner.top() - 1 - beside_gap)),
    };
    QRect best;
    for (const QRect& strip : strips) {
        if (strip.width() < least_width || strip.height() < least_height) continue;
        const QSize fitted = size.boundedTo(strip.size());
        if (fitted.width() * fitted.height() > best.width() * best.height()) {
            QRect r(strip.topLeft(), fitted);
            // Level with the owner where the strip allows.
            if (strip.height() > fitted.height())
                r.moveTop(qBound(strip.top(), owner.top(), strip.bottom() + 1 - fitted.height()));
            if (strip.width() > fitted.width())
                r.moveLeft(qBound(strip.left(), owner.left(), strip.right() + 1 - fitted.width()));
            best = r;
        }
    }
    return best;
}

// A corner of the area for the window, where it covers least of the owner.
QRect least_covering_corner(const QRect& owner, const QSize& size, const QRect& area) {
    const QPoint corners[] = {area.topLeft(), QPoint(area.right() + 1 - size.width(), area.top()),
                              QPoint(area.left(), area.bottom() + 1 - size.height()),
                              QPoint(area.right() + 1 - size.width(), area.bottom() + 1 - size.height())};
    QRect best;
    long long best_cover = -1;
    for (const QPoint& corner : corners) {
        const QRect r(corner, size);
        const QRect cover = r.intersected(owner);
        const long long covered = cover.isEmpty() ? 0 : 1LL * cover.width() * cover.height();
        if (best_cover < 0 || covered < best_cover) {
            best = r;
            best_cover = covered;
        }
    }
    return best;
}

// Fits the window into the screen's free area beside its owner, so that the
// dialog it explains stays in view: beside it when there is room, else in the
// largest strip beside it (smaller), else in the corner that covers least.
void place_on_screen(QWidget& window, QWidget* owner) {
    QScreen* screen = owner ? owner->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    const QSize frame_extra = window.frameGeometry().size() - window.size();
    QSize size = (window.size() + frame_extra).boundedTo(area.size() - QSize(40, 60));
    QRect frame;
    if (owner && owner->isVisible()) {
        const QRect owner_frame = owner->window()->frameGeometry();
        frame = beside(owner_frame, size, area);
        if (frame.isNull()) frame = largest_strip(owner_frame, size, area);
        if (frame.isNull()) frame = least_covering_corner(owner_frame, size, area);
    } else {
        frame = QRect(QPoint(0, 0), size);
        frame.moveCenter(area.center());
    }
    frame.moveLeft(qBound(area.left(), frame.left(), area.right() + 1 - frame.width()));
    frame.moveTop(qBound(area.top(), frame.top(), area.bottom() + 1 - frame.height()));
    window.resize(frame.size() - frame_extra);
    window.move(frame.topLeft());
}

}  // namespace

void gui_help_window::adopt_owner(QWidget* owner) {
    if (QWidget* old = parentWidget()) old->removeEventFilter(this);
    const bool was_visible = isVisible();
    // Placed again by its frame, as it was placed first: a new native window
    // does not know its frame yet, and its client area would move by the
    // height of the title bar.
    const QPoint frame_place = frameGeometry().topLeft();
    const QSize client_size = size();
    setParent(owner, Qt::Window);
    if (was_visible) {
        resize(client_size);
        move(frame_place);
        show();
    }
    if (owner) owner->installEventFilter(this);
}

bool gui_help_window::eventFilter(QObject* watched, QEvent* event) {
    // A dialog that closes hands the help window on to the window below it,
    // so the help stays open.
    if (event->type() == QEvent::Hide && watched == parentWidget()) {
        QWidget* below = parentWidget()->parentWidget();
        if (below) adopt_owner(below->window());
    }
    return QWidget::eventFilter(watched, event);
}

gui_help_window* gui_open_help(const QString& file, uint32_t topic) {
    tk_log(2, "gui_open_help(%u)", topic);
    // A window of the modal dialog on show takes input while that dialog
    // runs; any other window would be blocked behind it.
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner) owner = QApplication::activeWindow();
    if (owner && owner == the_window) owner = the_window->parentWidget();
    const bool fresh = !the_window;
    if (fresh) {
        the_window = new gui_help_window(nullptr);
        the_window->adopt_owner(owner);
    }
    // Help for another window that it would cover is placed anew beside it.
    bool covers_owner = false;
    if (the_window->parentWidget() != owner) {
        the_window->adopt_owner(owner);
        covers_owner = owner && the_window->isVisible() &&
                       the_window->frameGeometry().intersects(owner->window()->frameGeometry());
    }
    the_window->show_topic(file, topic);
    const bool place = fresh || !the_window->isVisible() || covers_owner;
    if (place) place_on_screen(*the_window, owner);
    the_window->show();
    // Once shown the window knows its frame: placed again with it.
    if (place) place_on_screen(*the_window, owner);
    the_window->raise();
    the_window->activateWindow();
    return the_window;
}

gui_help_window* gui_help_window_if_open() { return the_window; }
