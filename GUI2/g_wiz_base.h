// What the wizard frame asks of a page. The page template derives from this
// and turns the notifications into its own operations.
#pragma once
#include <cstdint>

#include <QString>
#include <QWidget>

// Page flags.
inline constexpr uint32_t psp_has_help = 0x20;
inline constexpr uint32_t psp_hide_header = 0x800;
inline constexpr uint32_t psp_use_header_title = 0x1000;
inline constexpr uint32_t psp_use_header_subtitle = 0x2000;

// Wizard buttons that a page asks for when it becomes active.
inline constexpr uint32_t wizb_back = 1;
inline constexpr uint32_t wizb_next = 2;
inline constexpr uint32_t wizb_finish = 4;
inline constexpr uint32_t wizb_disabled_finish = 8;

// Results of the navigation notifications.
inline constexpr int page_go_on = 0;   // accept / move to the neighbour
inline constexpr int page_refuse = -1; // refuse activation (skip) / stay
// Refuse activation without skipping: the move ends and the page that was on
// show stays as it was.
inline constexpr int page_keep_previous = -2;

class wizard_page_base : public QWidget {
    Q_OBJECT
public:
    // The page's dialog id becomes its objectName.
    wizard_page_base(uint32_t dialog_id, uint32_t page_flags, QWidget* parent = nullptr);
    ~wizard_page_base() override;

    uint32_t dialog_id() const { return m_dialog_id; }
    uint32_t page_flags() const { return m_page_flags; }
    // Header texts; a non-empty text also sets its header flag.
    void set_header(const QString& title, const QString& subtitle);
    QString header_title() const { return m_title; }
    QString header_subtitle() const { return m_subtitle; }

    // Notifications from the frame, on the GUI thread.
    // Becoming the current page: page_go_on to be shown, page_refuse to be
    // skipped in the direction of travel, page_keep_previous to end the move,
    // or a dialog id to go there instead.
    virtual int notify_set_active() = 0;
    // Before the page is left for another one: true lets it go.
    virtual bool notify_kill_active() = 0;
    // Back / Next pressed: page_go_on for the neighbour, page_refuse to stay,
    // or the dialog id of the page to go to.
    virtual int notify_wizard_back() = 0;
    virtual int notify_wizard_next() = 0;
    // Finish pressed: true lets the wizard end.
    virtual bool notify_wizard_finish() = 0;
    // Cancel (or the close box, or Escape): true lets the wizard close.
    virtual bool notify_query_cancel() = 0;
    // Help button or F1.
    virtual void notify_help() = 0;
    // The frame's timer (id 0x10000) while this page is current.
    virtual void notify_timer(uint32_t timer_id) = 0;
    // The wizard was cancelled; sent to every page.
    virtual void notify_reset() {}

private:
    uint32_t m_dialog_id;
    uint32_t m_page_flags;
    QString m_title;
    QString m_subtitle;
};
