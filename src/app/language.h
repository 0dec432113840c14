// The user-interface texts, loaded from the sections of language.ini.
#pragma once

// Loads the section `name` of language.ini (in the current directory) into the
// table; when `make_current` is set that section becomes the current
// language. 0 when the file was read, -1 when it could not be opened.
int load_language(const wchar_t* name, bool make_current);
