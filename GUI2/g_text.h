// Text between the system's strings and Qt's. Wide text is one code point per
// wchar_t; narrow text is in the ANSI code page, which is UTF-8 here.
#pragma once
#include <string>

#include <QString>

inline QString gui_qstr(const std::wstring& text) { return QString::fromStdWString(text); }
inline QString gui_qstr(const std::string& narrow) { return QString::fromUtf8(narrow.data(), static_cast<qsizetype>(narrow.size())); }
inline std::wstring gui_wstr(const QString& text) { return text.toStdWString(); }
inline std::string gui_narrow(const QString& text) { return text.toUtf8().toStdString(); }
