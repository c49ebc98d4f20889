#include "tk_dllver.h"

#include <dlfcn.h>

#include <memory>

#include "tk_log.h"
#include "utf8.h"

namespace {

struct library_closer {
    void operator()(void* handle) const { dlclose(handle); }
};

struct dll_version_info {
    uint32_t size;
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    uint32_t platform;
};
static_assert(sizeof(dll_version_info) == 20);

using dll_get_version_fn = int32_t (*)(dll_version_info*);

}  // namespace

uint32_t get_dll_version(const std::wstring& file_name) {
    std::unique_ptr<void, library_closer> lib(dlopen(plat::utf8_encode(file_name).c_str(), RTLD_LAZY | RTLD_LOCAL));
    if (!lib) {
        tk_log(1, "get_dll_version failed to load DLL");
        return 0;
    }
    auto fn = reinterpret_cast<dll_get_version_fn>(dlsym(lib.get(), "DllGetVersion"));
    if (!fn) {
        tk_log(1, "get_dll_version failed to obtain DllGetVersion");
        return 0;
    }
    dll_version_info info{};
    info.size = sizeof info;
    if (fn(&info) != 0) return 0;
    return (info.major << 16) | info.minor;
}
