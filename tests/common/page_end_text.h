// A NUL-terminated text whose terminator is the last byte of a readable page:
// the next page cannot be read, so a parser that reads past the end of its
// text faults instead of reading whatever lies there.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>

class page_end_text {
public:
    explicit page_end_text(const std::string& text) {
        SYSTEM_INFO info{};
        GetSystemInfo(&info);
        const std::size_t page = info.dwPageSize;
        const std::size_t bytes = text.size() + 1;
        readable_ = (bytes + page - 1) / page * page;
        base_ = static_cast<char*>(VirtualAlloc(nullptr, readable_ + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD previous = 0;
        if (base_ && VirtualProtect(base_ + readable_, page, PAGE_NOACCESS, &previous)) {
            text_ = base_ + readable_ - bytes;
            std::memcpy(text_, text.c_str(), bytes);
        }
    }
    ~page_end_text() {
        if (base_) VirtualFree(base_, 0, MEM_RELEASE);
    }
    page_end_text(const page_end_text&) = delete;
    page_end_text& operator=(const page_end_text&) = delete;

    // Null when the pages could not be set up.
    const char* c_str() const { return text_; }

private:
    char* base_ = nullptr;
    char* text_ = nullptr;
    std::size_t readable_ = 0;
};
