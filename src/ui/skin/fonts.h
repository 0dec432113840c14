// The program-wide GDI fonts shared by every window.
#pragma once

// Creates the fonts once at start-up; they live until the process ends.
void create_fonts();
