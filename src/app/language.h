// The user-interface texts: the sections of language.ini, the
// table every window asks for its texts, and the per-language choices (locale
// code, web pages, localised home-page images).
//
// Built on the start-up thread before any window exists; afterwards used on
// the UI thread only (text_for inserts missing keys).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Key (the entry's name as bytes, exactly as in the file) → UTF-16 text. Filled
// by the loads and never cleared; an inserted key is never overwritten.
using language_map = std::map<std::string, std::wstring, std::less<>>;
extern language_map language_table;
// The section names of language.ini in file order, rebuilt by every load.
extern std::vector<std::wstring> language_names;
// Index into language_names of the language in use; 0 until a load as current
// finds its section. The settings dialog changes it when the user picks
// another language (the texts stay those loaded at start-up).
extern int32_t current_language;

// Loads the section `name` (compared ignoring case) of "language.ini" in the
// current directory into the table; when `make_current` is set, that section
// becomes the current language. 0 when the file was read, -1 when it could
// not be opened.
int load_language(const wchar_t* name, bool make_current);
// The same for a file named by `path`.
int load_language_file(const wchar_t* path, const wchar_t* name, bool make_current);

// The text for a key; a key that is not in the table yields an empty text and
// is in the table from then on. The reference stays valid for the life of the
// process (the table is never cleared), so `.c_str()` may be kept, e.g. by a
// message box. UI thread only.
const std::wstring& text_for(std::string_view key);

// A language text that a window uses as a printf-style format, with the
// arguments its caller passes in order: 's' a wide string, 'd' an int.
struct format_rule {
    const char* key;
    const char* arguments;
};
inline constexpr format_rule format_rules[] = {
    {"about_info1", "sss"},         // the about box: version, build date, build time
    {"download_certificate_error", "s"},  // the download rows: the host refused
    {"download_date1", "ss"},       // the download rows: installed and offered dates
    {"download_date2", "ss"},
    {"download_date3", "s"},
    {"download_folder_too_long", "d"},  // the settings dialog: the longest download folder
    {"download_started_signed", "s"},     // the download rows: the program's signer
    {"error_network_error", "d"},   // the scan page: the HTTP status
    {"install_not_program", "s"},   // the install boxes: the file's name
    {"install_state_failed_log", "s"},  // the download rows: DPInst's log
    {"install_unpack_failed", "s"},
    {"install_unsigned", "s"},
    {"new_driver_notify", "d"},     // the tray balloon: the number of new drivers
    {"sidebar_out_of_date", "d"},   // the download page's legend: counts
    {"sidebar_no_driver", "d"},
    {"sidebar_up_to_date", "d"},
    {"sidebar_total", "d"},
};
// The arguments of a key's format, or null when its text is no format.
const char* format_arguments(std::string_view key);
// Whether `format` takes exactly `arguments`: one conversion per argument, in
// order, %s for 's' and %d (or %i, %u, %x, %X, %o) for 'd', with flags and a
// width and precision of at most three digits but no length modifier, '*'
// or '$'; "%%" is no conversion. A loaded text that does not fit its key's
// arguments is not taken (the English section supplies that key).
bool format_fits(std::wstring_view format, std::string_view arguments);

// The two kinds of line of language.ini, matched exactly as the ECMAScript
// expressions ^\s*\[(.*)\]\s*$ (a section header, group 1 the name) and
// ^\s*([^;].*)\s*=\s*"(.+)"\s*$ (an entry, groups 1 and 2 the key and the
// text) match them with greedy, leftmost matching, but in time linear in the
// line.
bool match_header_line(std::string_view line, std::string& name);
bool match_entry_line(std::string_view line, std::string& key, std::string& text);

// Formats a language text that is a printf-style format (for example
// `error_network_error` with one integer, `download_date1` with two strings)
// into `out`, at most capacity - 1 characters, always terminated. The texts
// follow the Windows convention for wide formats: %s takes a wide string
// (const wchar_t*), %d an int. Use this (or _snwprintf/wsprintfW), not
// swprintf: with MinGW's C99 printf, swprintf reads %s as a narrow string.
// A format with a %n conversion is never used: `out` stays empty. Returns the
// length of the text in `out`.
std::size_t format_text(wchar_t* out, std::size_t capacity, const wchar_t* format, ...);

// The current language name: language_names[current_language], or an empty
// text when there is no such entry.
const wchar_t* current_language_name();

// The two-letter code of the current language ("de", "fr", ..., "en" for any
// language the table does not know).
const wchar_t* locale_code();
// Whether locale_code() equals `code`, ignoring letter case.
bool locale_is(const wchar_t* code);

// The per-language product page ("product_quillmark.php") and help page
// ("faq.php") addresses for the current language.
std::wstring product_page_address();
std::wstring faq_page_address();
// The site bases behind them, by locale code (unknown codes get the "en" ones).
const wchar_t* product_site_base(const wchar_t* code);
const wchar_t* faq_site_base(const wchar_t* code);

// Bitmap resource numbers of the home page's localised images: the start-scan
// button's three state images are start_button_base .. +2.
struct home_image_numbers {
    int start_button_base;
    int banner;
};
home_image_numbers home_images();

// A registered message ("Quillmark.LanguageState") the main window answers
// with low word current_language and high word the number of language_names,
// so that a watching program (tests, support tools) can see which language
// the running program uses.
UINT language_state_message();

// Empties the table, the names and the current language. For tests only: the
// program itself never clears the table.
void reset_language_table();
