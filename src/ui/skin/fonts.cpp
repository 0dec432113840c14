#include "ui/skin/fonts.h"

const font_definition font_definitions[FONT_COUNT] = {
    {L"Arial", 8, FW_NORMAL},       {L"Arial", 11, FW_NORMAL},    {L"Arial", 15, FW_NORMAL},
    {L"Arial", 18, FW_NORMAL},      {L"Arial", 16, FW_NORMAL},    {L"Arial", 18, FW_BOLD},
    {L"Arial", 25, FW_BOLD},        {L"Verdana", 8, FW_NORMAL},   {L"Verdana", 8, FW_NORMAL},
    {L"Verdana", 10, FW_NORMAL},    {L"Verdana", 8, FW_BOLD},     {L"Verdana", 9, FW_BOLD},
    {L"Verdana", 10, FW_BOLD},      {L"verdana", 12, FW_BOLD},    {L"verdana", 12, FW_NORMAL},
    {L"verdana", 14, FW_NORMAL},    {L"verdana", 16, FW_BOLD},    {L"verdana", 16, FW_NORMAL},
    {L"verdana", 18, FW_NORMAL},    {L"verdana", 22, FW_NORMAL},  {L"verdana", 25, FW_NORMAL},
};

namespace {
HFONT fonts[FONT_COUNT] = {};
}

int font_height_for_points(int points) { return -((points * 96 + 36) / 72); }

void create_fonts() {
    if (fonts[0]) return;
    for (int i = 0; i < FONT_COUNT; ++i) {
        const font_definition& f = font_definitions[i];
        fonts[i] = CreateFontW(font_height_for_points(f.points), 0, 0, 0, f.weight, FALSE, FALSE,
                               FALSE, DEFAULT_CHARSET, OUT_OUTLINE_PRECIS, CLIP_DEFAULT_PRECIS,
                               ANTIALIASED_QUALITY, VARIABLE_PITCH, f.face);
    }
}

HFONT ui_font(font_id id) {
    int i = static_cast<int>(id);
    return i >= 0 && i < FONT_COUNT ? fonts[i] : nullptr;
}
