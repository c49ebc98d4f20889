// The help window: the wizard's HTML help file, opened at a topic's anchor
// (the anchor's name is the topic id) or at its top.
#pragma once
#include <cstdint>

#include <QString>
#include <QWidget>

class QTextBrowser;

class gui_help_window : public QWidget {
    Q_OBJECT
public:
    explicit gui_help_window(QWidget* parent = nullptr);
    // Loads the file; a topic of 0 shows the top of the file.
    void show_topic(const QString& file, uint32_t topic);
    QTextBrowser* browser() const { return m_browser; }
    // Becomes a window of owner (null: a window of its own), where it is.
    void adopt_owner(QWidget* owner);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTextBrowser* m_browser;
};

// The one help window of the program, made when first needed and raised.
gui_help_window* gui_open_help(const QString& file, uint32_t topic);
// The help window when one is open, else null.
gui_help_window* gui_help_window_if_open();
