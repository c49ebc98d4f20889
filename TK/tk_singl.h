// Process-wide single objects: the owner builds them, the template publishes them.
#pragma once
#include "tk_excep.h"

inline constexpr const char* tk_singl_source = "..\\TK/tk_singl";

template <class T>
class tk_singleton {
public:
    static T* ptr() {
        if (!s_object) throw tk_mail_assertion(tk_singl_source, 64);
        return static_cast<T*>(s_object);
    }
    static T* instance() {
        if (!s_object) throw tk_mail_assertion(tk_singl_source, 71);
        return static_cast<T*>(s_object);
    }
    // The registered object or null; for callers that work without it.
    static T* peek() { return static_cast<T*>(s_object); }

protected:
    // A second object while one is registered is an internal error: it
    // would never be reached.
    tk_singleton() {
        if (s_object) throw tk_mail_assertion(tk_singl_source, 57);
        s_object = this;
    }
    virtual ~tk_singleton() {
        if (s_object == this) s_object = nullptr;
    }
    tk_singleton(const tk_singleton&) = delete;
    tk_singleton& operator=(const tk_singleton&) = delete;

private:
    // Held as the base: the derived part is not built yet when it registers.
    static inline tk_singleton* s_object = nullptr;
};
