#include "g_help.h"

#include <QPointer>
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
}

void gui_help_window::show_topic(const QString& file, uint32_t topic) {
    QUrl url = QUrl::fromLocalFile(file);
    if (topic) url.setFragment(QString::number(topic));
    // Loading the same file again only moves to the anchor.
    m_browser->setSource(url);
    if (topic) m_browser->scrollToAnchor(QString::number(topic));
    setWindowTitle(m_browser->documentTitle().isEmpty() ? QStringLiteral("Help") : m_browser->documentTitle());
}

gui_help_window* gui_open_help(const QString& file, uint32_t topic) {
    tk_log(2, "gui_open_help(%u)", topic);
    if (!the_window) the_window = new gui_help_window();
    the_window->show_topic(file, topic);
    the_window->show();
    the_window->raise();
    the_window->activateWindow();
    return the_window;
}

gui_help_window* gui_help_window_if_open() { return the_window; }
