#include "common/job_file.h"

#include <fstream>
#include <iterator>

namespace {

// Reads little-endian fields from a byte buffer; any read past the end sets
// `bad` and yields zero.
struct reader {
    const std::vector<unsigned char>& bytes;
    std::size_t at = 0;
    bool bad = false;

    uint32_t number(std::size_t size) {
        if (at + size > bytes.size()) {
            bad = true;
            return 0;
        }
        uint32_t value = 0;
        for (std::size_t i = 0; i < size; ++i) value |= uint32_t(bytes[at + i]) << (8 * i);
        at += size;
        return value;
    }
    uint16_t u16() { return static_cast<uint16_t>(number(2)); }
    uint32_t u32() { return number(4); }
    // A count of characters (terminator included), then the characters.
    std::wstring text() {
        uint16_t count = u16();
        std::wstring out;
        for (uint16_t i = 0; i < count && !bad; ++i) out.push_back(static_cast<wchar_t>(u16()));
        if (!out.empty() && out.back() == L'\0') out.pop_back();
        return out;
    }
    void skip_block() {  // a size in bytes, then the bytes
        std::size_t size = u16();
        if (at + size > bytes.size()) bad = true;
        at += size;
    }
};

}  // namespace

std::wstring job_file_path(const std::wstring& name) {
    wchar_t windows[MAX_PATH] = {};
    UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::wstring(windows) + L"\\Tasks\\" + name + L".job";
}

std::optional<job_file> read_job_file(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    reader r{bytes};
    job_file job;
    // Fixed-length section: versions (2 + 2), job id (16), then the offsets.
    r.at = 20;
    uint16_t application_offset = r.u16();
    uint16_t triggers_offset = r.u16();
    r.at = 36;
    job.max_run_time = r.u32();
    r.at = 48;
    job.flags = r.u32();
    if (r.bad) return std::nullopt;

    r.at = application_offset;
    job.application = r.text();
    job.parameters = r.text();
    job.working_directory = r.text();
    job.author = r.text();
    job.comment = r.text();

    r.at = triggers_offset;
    uint16_t count = r.u16();
    for (uint16_t i = 0; i < count && !r.bad; ++i) {
        std::size_t start = r.at;
        uint16_t size = r.u16();
        job_trigger t;
        r.u16();  // reserved
        t.begin_year = r.u16();
        t.begin_month = r.u16();
        t.begin_day = r.u16();
        r.at += 6;  // end date
        t.start_hour = r.u16();
        t.start_minute = r.u16();
        r.at += 8;  // duration and interval
        t.flags = r.u32();
        t.type = r.u32();
        t.specific0 = r.u16();
        t.specific1 = r.u16();
        job.triggers.push_back(t);
        r.at = start + size;
        if (size < 48) r.bad = true;
    }
    if (r.bad) return std::nullopt;
    return job;
}
