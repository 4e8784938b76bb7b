#include "utf8_argv.h"

#include <windows.h>

#include <shellapi.h>

namespace {

std::string to_utf8(const wchar_t* wide) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string text(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), bytes, nullptr, nullptr);
    text.pop_back();  // the terminating null the call counted
    return text;
}

}  // namespace

Utf8Argv::Utf8Argv() {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return;
    for (int i = 0; i < count; ++i) args.push_back(to_utf8(wide[i]));
    LocalFree(wide);
    for (std::string& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
}
