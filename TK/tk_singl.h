// Process-wide single objects: the owner builds them, the template publishes them.
#pragma once
#include "tk_excep.h"

inline constexpr const char* tk_singl_source = "..\\TK/tk_singl";

template <class T>
class tk_singleton {
public:
    static T* ptr() {
        if (!s_object) throw tk_mail_assertion(tk_singl_source, 64);
        return s_object;
    }
    static T* instance() {
        if (!s_object) throw tk_mail_assertion(tk_singl_source, 71);
        return s_object;
    }
    // The registered object or null; for callers that work without it.
    static T* peek() { return s_object; }

protected:
    tk_singleton() {
        if (!s_object) s_object = static_cast<T*>(this);
    }
    virtual ~tk_singleton() {
        // Only the registered object clears the registration.
        if (s_object == static_cast<T*>(this)) s_object = nullptr;
    }
    tk_singleton(const tk_singleton&) = delete;
    tk_singleton& operator=(const tk_singleton&) = delete;

private:
    static inline T* s_object = nullptr;
};
