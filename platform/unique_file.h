// Owner of a C stream: closes it when it goes.
#pragma once
#include <cstdio>
#include <memory>

namespace plat {

struct file_close {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using unique_file = std::unique_ptr<std::FILE, file_close>;

}  // namespace plat
