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

// Fits the window into the screen's free area, centred on the owner.
void place_on_screen(QWidget& window, QWidget* owner) {
    QScreen* screen = owner ? owner->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    QSize size = window.size().boundedTo(area.size() - QSize(40, 60));
    window.resize(size);
    QRect frame(QPoint(0, 0), size);
    frame.moveCenter(owner ? owner->window()->frameGeometry().center() : area.center());
    frame.moveLeft(qBound(area.left(), frame.left(), area.right() - frame.width()));
    frame.moveTop(qBound(area.top(), frame.top(), area.bottom() - frame.height()));
    window.move(frame.topLeft());
}

}  // namespace

void gui_help_window::adopt_owner(QWidget* owner) {
    if (QWidget* old = parentWidget()) old->removeEventFilter(this);
    const bool was_visible = isVisible();
    const QRect place = geometry();
    setParent(owner, Qt::Window);
    if (was_visible) {
        setGeometry(place);
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
    if (the_window->parentWidget() != owner) the_window->adopt_owner(owner);
    the_window->show_topic(file, topic);
    if (fresh || !the_window->isVisible()) place_on_screen(*the_window, owner);
    the_window->show();
    the_window->raise();
    the_window->activateWindow();
    return the_window;
}

gui_help_window* gui_help_window_if_open() { return the_window; }
