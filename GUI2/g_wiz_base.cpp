#include "g_wiz_base.h"

wizard_page_base::wizard_page_base(uint32_t dialog_id, uint32_t page_flags, QWidget* parent)
    : QWidget(parent), m_dialog_id(dialog_id), m_page_flags(page_flags) {
    setObjectName(QString::number(dialog_id));
}

wizard_page_base::~wizard_page_base() = default;

void wizard_page_base::set_header(const QString& title, const QString& subtitle) {
    m_title = title;
    m_subtitle = subtitle;
    if (!title.isEmpty()) m_page_flags |= psp_use_header_title;
    if (!subtitle.isEmpty()) m_page_flags |= psp_use_header_subtitle;
}
