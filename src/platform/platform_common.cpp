// platform_common.cpp - the services that are the same on every system.
#include "platform/platform.h"

#include <chrono>
#include <filesystem>

namespace {

const auto kProgramStart = std::chrono::steady_clock::now();

} // namespace

std::string platformCurrentDir() {
    std::error_code error;
    std::filesystem::path dir = std::filesystem::current_path(error);
    return error ? std::string() : dir.string();
}

std::tm platformLocalTime() { return platformLocalTimeAt(std::time(nullptr)); }

std::uint32_t platformMillis() {
    auto elapsed = std::chrono::steady_clock::now() - kProgramStart;
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}
