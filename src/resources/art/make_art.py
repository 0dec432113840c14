#!/usr/bin/env python3
"""Renders the bitmaps and icons of quillmark.exe into a build folder.

Every picture is SVG: the one-colour symbols in glyphs/ (drawn in currentColor),
the full-colour drawings in pictures/, and the images composed from them below
(tabs, caption buttons, push buttons, the localised start buttons and bottom
pictures). rsvg-convert renders them, ImageMagick turns the result into raw
pixels, and this script writes 24-bit BMP files and multi-size icons. The few
patterns (strips, stripes, separator lines) are computed pixel by pixel.

Besides the images the output folder gets artwork.rc, the resource lines that
quillmark.rc includes, one per constant of resource.h. Every IDB_/IDI_ constant
of resource.h must have an image here and every image a constant, or the run
fails.

Only what changed is rendered again: each output keeps the digest of what it
was made from (its SVG and this script) in OUT/.digests.json.

    make_art.py OUT_DIR [--rsvg PROGRAM] [--convert PROGRAM] [--jobs N]
    make_art.py OUT_DIR --sheet PNG      (contact sheet of everything, for people)
"""

import argparse
import concurrent.futures
import hashlib
import json
import math
import os
import re
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
RESOURCE_HEADER = os.path.join(HERE, '..', 'resource.h')

# ---------------------------------------------------------------------------
# Skin colours (the program paints with the same values).
CAPTION = (139, 184, 241)       # caption band and inner frame
FRAME = (66, 90, 138)           # outer frame line
TITLE = (233, 243, 255)         # caption title text
HEADING = (76, 146, 206)        # page titles, pressed tab text
SIDEBAR = (226, 240, 253)       # sidebar band, message box background
SIDEBAR_LINE = (194, 218, 244)
SIDEBAR_TEXT = (67, 110, 152)
WHITE = (255, 255, 255)

SANS = "DejaVu Sans"
FONTS = {'ja': "IPAGothic"}     # DejaVu covers Latin and Arabic, not Japanese


def hexc(rgb):
    return '#%02X%02X%02X' % tuple(rgb)


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


# ---------------------------------------------------------------------------
# SVG assembly.

def read_svg(path):
    with open(os.path.join(HERE, path), encoding='utf-8') as f:
        text = f.read()
    view = re.search(r'viewBox="([^"]+)"', text).group(1)
    inner = text[text.index('>', text.index('<svg')) + 1:text.rindex('</svg>')]
    return view, inner


def embed(path, x, y, w, h, color=None, opacity=None):
    """Places the drawing of `path` in the box (x, y, w, h); `color` sets its currentColor."""
    view, inner = read_svg(path)
    prefix = 'e%s-' % hashlib.sha1(repr((path, x, y, w, h)).encode()).hexdigest()[:8]
    # Ids inside the drawing stay unique when a document places it twice.
    inner = re.sub(r'id="([^"]+)"', lambda m: 'id="%s%s"' % (prefix, m.group(1)), inner)
    inner = re.sub(r'url\(#([^)]+)\)', lambda m: 'url(#%s%s)' % (prefix, m.group(1)), inner)
    attrs = 'x="%g" y="%g" width="%g" height="%g" viewBox="%s" overflow="visible"' % (x, y, w, h, view)
    if color is not None:
        attrs += ' color="%s"' % hexc(color)
    if opacity is not None:
        attrs += ' opacity="%g"' % opacity
    return '<svg %s>%s</svg>' % (attrs, inner)


def document(w, h, body, defs=''):
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">'
            '<defs>%s</defs>%s</svg>' % (w, h, w, h, defs, body))


def gradient(ident, top, bottom, horizontal=False):
    end = 'x2="1" y2="0"' if horizontal else 'x2="0" y2="1"'
    return ('<linearGradient id="%s" x1="0" y1="0" %s><stop offset="0" stop-color="%s"/>'
            '<stop offset="1" stop-color="%s"/></linearGradient>' % (ident, end, hexc(top), hexc(bottom)))


def text(x, y, content, size, color, weight='normal', anchor='start', lang='en', extra=''):
    family = FONTS.get(lang, SANS)
    content = content.replace('&', '&amp;').replace('<', '&lt;')
    return ('<text x="%g" y="%g" font-family="%s" font-size="%g" font-weight="%s" fill="%s" '
            'text-anchor="%s" %s>%s</text>' % (x, y, family, size, weight, hexc(color), anchor, extra, content))


# ---------------------------------------------------------------------------
# The images. Each entry: resource constant, size, and how it is made.

class Image:
    def __init__(self, const, w, h, svg=None, surface=WHITE, key=None, pixels=None, icon=None):
        self.const, self.w, self.h = const, w, h
        self.svg = svg              # SVG text, rendered at w x h
        self.surface = surface      # what the picture is drawn over in the program
        self.key = key              # colour-key: fully transparent parts get this colour
        self.pixels = pixels        # pattern function (x, y) -> rgb, instead of SVG
        self.icon = icon            # list of (size, svg) for an .ico

    @property
    def file(self):
        name = re.sub(r'^ID[BI]_', '', self.const).lower()
        return name + ('.ico' if self.icon else '.bmp')

    def recipe(self):
        """Everything the output depends on, for the digest."""
        return json.dumps([self.w, self.h, self.svg, self.surface, self.key,
                           self.icon, pattern_rows(self) if self.pixels else None])


IMAGES = []


def add(*args, **kwargs):
    IMAGES.append(Image(*args, **kwargs))


STATES = ('NORMAL', 'HOVER', 'PRESSED')

# Tabs: 80 x 70 on the caption band, an icon and no text (the window draws the
# tab's text, white in normal and hover, heading blue when pressed).
TABS = (('HOME', 'home'), ('DOWNLOAD', 'download'), ('BACKUP', 'backup'),
        ('RESTORE', 'restore'), ('SETTINGS', 'settings'))


def tab(glyph, state):
    defs, body = '', ''
    if state == 1:
        defs = gradient('face', (171, 206, 248), (150, 192, 244))
        body += ('<rect x="2.5" y="2.5" width="75" height="65" rx="7" fill="url(#face)" '
                 'stroke="#D2E5FC" stroke-width="1"/>')
    elif state == 2:
        defs = gradient('face', (255, 255, 255), TITLE)
        body += ('<rect x="2.5" y="2.5" width="75" height="65" rx="7" fill="url(#face)" '
                 'stroke="#5F90CE" stroke-width="1"/>')
    ink = HEADING if state == 2 else WHITE
    if state != 2:
        body += embed('glyphs/%s.svg' % glyph, 23, 8, 34, 34, color=(70, 112, 178), opacity=0.45)
    body += embed('glyphs/%s.svg' % glyph, 23, 7, 34, 34, color=ink)
    return document(80, 70, body, defs)


for const, glyph in TABS:
    for i, state in enumerate(STATES):
        add('IDB_%s_TAB_%s' % (const, state), 80, 70, tab(glyph, i), surface=CAPTION)

# Caption buttons: 30 x 21 boxes hanging in the title strip; the close button
# turns red under the mouse. The dialogs' close button is 31 wide.
BUTTON_FACES = {  # state -> (top, bottom)
    0: ((128, 176, 236), (104, 153, 222)),
    1: ((170, 205, 248), (138, 184, 242)),
    2: ((82, 128, 196), (99, 147, 214)),
}
CLOSE_FACES = {
    0: ((128, 176, 236), (104, 153, 222)),
    1: ((236, 104, 92), (204, 62, 52)),
    2: ((170, 44, 36), (198, 66, 56)),
}
CAPTION_BORDER = (72, 108, 166)


def caption_glyph(kind, cx):
    """White pixel-aligned shapes; (cx, 10.5) is the middle of the box."""
    x = cx - 15
    if kind == 'menu':
        return ''.join('<rect x="%d" y="%d" width="12" height="2"/>' % (x + 9, y) for y in (5, 9, 13))
    if kind == 'minimize':
        return '<rect x="%d" y="13" width="10" height="2.5"/>' % (x + 10)
    if kind == 'maximize':
        return ('<path fill-rule="evenodd" d="M%d 5h11v10h-11zM%d 7.5h9v6.5h-9z"/>' % (x + 10, x + 11))
    if kind == 'maximized':
        return ('<path fill-rule="evenodd" d="M%d 4h9v8h-2v-5h-5v-3z"/>'
                '<path fill-rule="evenodd" d="M%d 8h9v8h-9zM%d 10.5h7v4.5h-7z"/>' % (x + 12, x + 9, x + 10))
    if kind == 'close':
        return ('<path d="M%g 5.5 %g 15.5M%g 5.5 %g 15.5" stroke="#FFFFFF" stroke-width="2.3" '
                'stroke-linecap="square"/>' % (x + 10.5, x + 20.5, x + 20.5, x + 10.5))
    raise ValueError(kind)


def caption_button(kind, state, width=30, closed_right=False):
    faces = CLOSE_FACES if kind == 'close' else BUTTON_FACES
    defs = gradient('face', *faces[state])
    # The boxes sit side by side; each draws its left, top and bottom edge, the
    # rightmost one its right edge too.
    right = width - 0.5 if closed_right else width + 0.5
    body = ('<path d="M0.5 0.5H%g V20.5 H0.5z" fill="url(#face)" stroke="%s" stroke-width="1"/>'
            % (right, hexc(CAPTION_BORDER)))
    body += ('<path d="M1.5 1.5H%g" stroke="#FFFFFF" stroke-opacity="0.35"/>' % (width - 1.5))
    shape = caption_glyph(kind, width / 2)
    body += '<g fill="#2E4F86" stroke="none" opacity="0.45" transform="translate(0,1)">%s</g>' % shape.replace('#FFFFFF', '#2E4F86')
    body += '<g fill="#FFFFFF">%s</g>' % shape
    return document(width, 21, body, defs)


for const, kind in (('MENU', 'menu'), ('MINIMIZE', 'minimize'), ('MAXIMIZE', 'maximize'),
                    ('MAXIMIZED', 'maximized'), ('CLOSE', 'close')):
    for i, state in enumerate(STATES):
        add('IDB_%s_BUTTON_%s' % (const, state), 30, 21,
            caption_button(kind, i, closed_right=(kind == 'close')), surface=CAPTION)
for i, state in enumerate(STATES):
    add('IDB_DIALOG_CLOSE_%s' % state, 31, 21, caption_button('close', i, 31, closed_right=True),
        surface=CAPTION)


def logo(fit):
    size = fit('Quillmark', 'en', 'bold', 22, 112)
    body = embed('pictures/mark.svg', 0, 5, 40, 40)
    body += text(47, 29, 'Quillmark', size, (48, 86, 150), 'bold', extra='opacity="0.35"')
    body += text(46, 28, 'Quillmark', size, WHITE, 'bold')
    body += text(47, 42, 'DRIVER UPDATER', 8.5, TITLE, 'bold', extra='letter-spacing="1.2"')
    return document(161, 50, body)


# Push buttons: a blue face for white text that the program draws on top.
PUSH_FACES = {
    0: ((84, 152, 232), (47, 111, 198)),
    1: ((108, 171, 241), (64, 131, 216)),
    2: ((44, 100, 178), (64, 124, 206)),
}


def push_button(w, h, state, radius=4):
    defs = gradient('face', *PUSH_FACES[state])
    body = ('<rect x="0.5" y="0.5" width="%g" height="%g" rx="%g" fill="url(#face)" stroke="#2A5DA5"/>'
            % (w - 1, h - 1, radius))
    if state != 2:
        body += ('<path d="M%g 1.5H%g" stroke="#FFFFFF" stroke-opacity="0.4"/>' % (radius + 0.5, w - radius - 0.5))
    return document(w, h, body, defs)


for prefix, w, h, surface in (('MESSAGE_BUTTON', 70, 24, CAPTION), ('ABOUT_BUTTON', 130, 24, CAPTION),
                              ('DIALOG_BUTTON', 80, 22, WHITE), ('ROW_BUTTON', 80, 22, WHITE),
                              ('DOWNLOAD_ALL', 106, 27, WHITE)):
    for i, state in enumerate(STATES):
        add('IDB_%s_%s' % (prefix, state), w, h, push_button(w, h, i), surface=surface)


def big_button(state):
    defs = gradient('face', *PUSH_FACES[state])
    defs += ('<filter id="soft" x="-10%" y="-10%" width="120%" height="130%">'
             '<feGaussianBlur stdDeviation="2"/></filter>')
    drop = 2 if state == 2 else 0
    body = ''
    if state != 2:
        body += '<rect x="5" y="8" width="210" height="88" rx="12" fill="#1F4F91" opacity="0.3" filter="url(#soft)"/>'
    body += ('<rect x="4.5" y="%g" width="211" height="88" rx="12" fill="url(#face)" stroke="#2A5DA5"/>'
             % (4.5 + drop))
    if state != 2:
        body += '<rect x="6" y="6" width="208" height="85" rx="11" fill="none" stroke="#FFFFFF" stroke-opacity="0.3"/>'
    return document(220, 100, body, defs)


for i, state in enumerate(STATES):
    add('IDB_BIG_BUTTON_%s' % state, 220, 100, big_button(i))

# ---------------------------------------------------------------------------
# Home page.

# (code, section of language.ini, headline and line of the bottom picture or
# None where the language shows the English one). The start buttons carry the
# language's home_start_scan text from language.ini.
LANGUAGES = (
    ('EN', 'English', ('Keep every driver up to date',
                       'Scan, download, install and back up in a few clicks.')),
    ('DE', 'Deutsch', ('Alle Treiber immer aktuell',
                       'Suchen, laden, installieren und sichern – mit wenigen Klicks.')),
    ('FR', 'Français', ('Des pilotes toujours à jour',
                        'Analysez, téléchargez, installez et sauvegardez facilement.')),
    ('ES', 'Español', ('Todos sus controladores al día',
                       'Analice, descargue, instale y guarde copias en pocos clics.')),
    ('IT', 'Italiano', ('Driver sempre aggiornati',
                        'Analizza, scarica, installa e salva in pochi clic.')),
    ('JA', '日本語', ('ドライバーをいつも最新に',
                   'スキャン、ダウンロード、インストール、バックアップを数クリックで。')),
    ('PT', 'Português', ('Drivers sempre atualizados',
                         'Verifique, baixe, instale e faça cópias em poucos cliques.')),
    ('NL', 'Nederlands', None),
    ('AR', 'العربية', ('حافظ على تحديث جميع برامج التشغيل',
                       'افحص ونزّل وثبّت واحتفظ بنسخة احتياطية ببضع نقرات.')),
)
LANGUAGE_FILE = os.path.join(HERE, '..', 'program', 'language.ini')


def start_captions():
    """Section name -> its home_start_scan text (the first one, as the program reads it)."""
    captions, section = {}, None
    with open(LANGUAGE_FILE, encoding='utf-8') as f:
        for line in f:
            header = re.match(r'\s*\[(.+)\]\s*$', line)
            if header:
                section = header.group(1)
                continue
            entry = re.match(r'\s*home_start_scan\s*=\s*"(.*)"', line)
            if entry and section is not None:
                captions.setdefault(section, entry.group(1))
    return captions


RIGHT_TO_LEFT = {'AR'}

START_FACES = {
    0: ((96, 168, 242), (44, 110, 204)),
    1: ((120, 184, 247), (60, 128, 218)),
    2: ((40, 100, 186), (70, 136, 222)),
}


def start_button(code, caption, state, fit):
    lang = code.lower()
    defs = gradient('face', *START_FACES[state])
    defs += ('<filter id="soft" x="-5%" y="-10%" width="110%" height="130%">'
             '<feGaussianBlur stdDeviation="3"/></filter>')
    drop = 3 if state == 2 else 0
    rtl = code in RIGHT_TO_LEFT
    body = ''
    if state != 2:
        body += '<rect x="10" y="14" width="430" height="98" rx="18" fill="#1F4F91" opacity="0.35" filter="url(#soft)"/>'
    body += '<g transform="translate(0,%d)">' % drop
    body += '<rect x="8.5" y="7.5" width="433" height="100" rx="18" fill="url(#face)" stroke="#2960AE" stroke-width="1.5"/>'
    if state != 2:
        body += '<rect x="10.5" y="9.5" width="429" height="96" rx="16" fill="none" stroke="#FFFFFF" stroke-opacity="0.3"/>'
    disc_x = 384 if rtl else 66
    body += '<circle cx="%d" cy="57.5" r="34" fill="#FFFFFF" opacity="0.95"/>' % disc_x
    body += embed('glyphs/magnifier.svg', disc_x - 21, 36.5, 42, 42, color=(44, 110, 204))
    left, right = (24, 340) if rtl else (110, 426)
    size = fit(caption, lang, 'bold', 38, right - left - 16)
    centre = (left + right) / 2
    baseline = 57.5 + size * 0.36
    body += text(centre, baseline + 2, caption, size, (24, 66, 130), 'bold', 'middle', lang, 'opacity="0.45"')
    body += text(centre, baseline, caption, size, WHITE, 'bold', 'middle', lang)
    body += '</g>'
    return document(450, 120, body, defs)


def bottom_picture(code, headline, line, fit):
    lang = code.lower()
    rtl = code in RIGHT_TO_LEFT
    defs = gradient('panel', (236, 245, 254), (214, 232, 251), horizontal=not rtl)
    body = '<rect x="0.5" y="0.5" width="519" height="99" rx="10" fill="url(#panel)" stroke="%s"/>' % hexc(SIDEBAR_LINE)
    art_x = 426 if rtl else 16
    body += embed('pictures/chip.svg', art_x, 14, 72, 72)
    body += '<circle cx="%d" cy="72" r="13" fill="#22B43A" stroke="#FFFFFF" stroke-width="2.5"/>' % (art_x + 64)
    body += ('<path d="M%g 72.5l4 4 7-7.5" fill="none" stroke="#FFFFFF" stroke-width="3" '
             'stroke-linecap="round" stroke-linejoin="round"/>' % (art_x + 58))
    left, right = (14, 404) if rtl else (112, 506)
    x, anchor = (right, 'end') if rtl else (left, 'start')
    head = fit(headline, lang, 'bold', 22, right - left)
    small = fit(line, lang, 'normal', 14, right - left)
    body += text(x, 45, headline, head, (63, 127, 192), 'bold', anchor, lang)
    body += text(x, 72, line, small, SIDEBAR_TEXT, 'normal', anchor, lang)
    return document(520, 100, body, defs)


def home_steps():
    body = ''
    track = ((2, 204, HEADING), (204, 377, (125, 176, 224)), (377, 468, (181, 211, 240)))
    for x0, x1, colour in track:
        body += '<rect x="%d" y="53" width="%d" height="6" rx="3" fill="%s"/>' % (x0, x1 - x0, hexc(colour))
    for (x, number, glyph) in ((12, 1, 'magnifier'), (212, 2, 'download'), (385, 3, 'install')):
        body += embed('glyphs/%s.svg' % glyph, x - 9, 1, 18, 18, color=CAPTION)
        body += '<circle cx="%d" cy="33" r="10.5" fill="%s"/>' % (x, hexc(HEADING))
        body += text(x, 38, str(number), 14, WHITE, 'bold', 'middle')
        body += '<circle cx="%d" cy="56" r="5" fill="#FFFFFF" stroke="%s" stroke-width="2"/>' % (x, hexc(HEADING))
    return document(470, 70, body)


add('IDB_HOME_STEPS', 470, 70, home_steps())
add('IDB_AUTO_SCAN', 24, 24, document(24, 24, embed('pictures/auto_scan.svg', 0, 0, 24, 24)))
add('IDB_SIDEBAR_HEADER', 48, 48, document(48, 48, embed('pictures/system.svg', 0, 0, 48, 48)),
    surface=SIDEBAR, key=WHITE)

# ---------------------------------------------------------------------------
# Scan page.


def scan_header():
    body = embed('pictures/chip.svg', 0, 0, 46, 46)
    body += '<circle cx="37" cy="35" r="13" fill="#FFFFFF" fill-opacity="0.55" stroke="%s" stroke-width="4"/>' % hexc(HEADING)
    body += '<path d="M46.5 44.5 55.5 53.5" stroke="#2F64AE" stroke-width="7" stroke-linecap="round"/>'
    return document(60, 60, body)


def scan_header_right():
    body = '<path d="M20 30H140" stroke="%s" stroke-width="2" stroke-dasharray="3 4"/>' % hexc(SIDEBAR_LINE)
    for i, glyph in enumerate(('display', 'sound', 'network', 'printer')):
        cx = 20 + 40 * i
        body += '<circle cx="%d" cy="30" r="17" fill="%s" stroke="%s" stroke-width="1.5"/>' % (
            cx, hexc(SIDEBAR), hexc(SIDEBAR_LINE))
        body += embed('glyphs/%s.svg' % glyph, cx - 10, 20, 20, 20, color=mix(HEADING, WHITE, 0.15))
    return document(160, 60, body)


add('IDB_SCAN_HEADER', 60, 60, scan_header())
add('IDB_SCAN_HEADER_RIGHT', 160, 60, scan_header_right())

# ---------------------------------------------------------------------------
# Message box, about box, download page, backup pages, settings dialog.

for const, name in (('ERROR', 'error'), ('WARNING', 'warning'),
                    ('INFORMATION', 'information'), ('QUESTION', 'question')):
    add('IDB_SYMBOL_' + const, 48, 48, document(48, 48, embed('pictures/%s.svg' % name, 0, 0, 48, 48)),
        surface=SIDEBAR)
add('IDB_ABOUT_PICTURE', 64, 64, document(64, 64, embed('pictures/mark.svg', 0, 0, 64, 64)), surface=CAPTION)

for const, name in (('NO_DRIVER', 'no_driver'), ('OUT_OF_DATE', 'out_of_date'),
                    ('UP_TO_DATE', 'up_to_date'), ('TOTAL', 'total')):
    add('IDB_STATUS_' + const, 16, 16,
        document(16, 16, embed('pictures/status_%s.svg' % name, 0, 0, 16, 16)), key=WHITE)

for const, name in (('DETAILS_HEADER', 'details'), ('BACKUP_SETTINGS_HEADER', 'backup_folder'),
                    ('RESTORE_SETTINGS_HEADER', 'restore_folder')):
    add('IDB_' + const, 16, 16, document(16, 16, embed('pictures/%s.svg' % name, 0, 0, 16, 16)))


def download_header_row(y):
    """The download page header's vertical gradient, shared by its pattern and picture."""
    if y == 39:
        return (47, 99, 173)
    return mix((98, 157, 229), (63, 123, 203), y / 38)


def download_header_picture():
    body = ''.join('<rect x="0" y="%d" width="56" height="1" fill="%s"/>' % (y, hexc(download_header_row(y)))
                   for y in range(40))
    body += '<circle cx="30" cy="19.5" r="15" fill="#FFFFFF" fill-opacity="0.18" stroke="#FFFFFF" stroke-opacity="0.5"/>'
    body += embed('glyphs/download.svg', 19, 8.5, 22, 22, color=WHITE)
    return document(56, 40, body)


add('IDB_DOWNLOAD_HEADER_PICTURE', 56, 40, download_header_picture())


def settings_decoration():
    defs = ('<linearGradient id="fade" x1="0" y1="0" x2="0" y2="1">'
            '<stop offset="0" stop-color="%s" stop-opacity="0"/>'
            '<stop offset="0.3" stop-color="%s"/><stop offset="0.7" stop-color="%s"/>'
            '<stop offset="1" stop-color="%s" stop-opacity="0"/></linearGradient>'
            % ((hexc(SIDEBAR_LINE),) * 4))
    body = '<rect x="9.5" y="0" width="1" height="110" fill="url(#fade)"/>'
    body += '<path d="M10 49 16 55 10 61 4 55z" fill="%s" stroke="#FFFFFF" stroke-width="1.5"/>' % hexc(CAPTION)
    return document(20, 110, body, defs)


add('IDB_SETTINGS_DECORATION', 20, 110, settings_decoration())

# ---------------------------------------------------------------------------
# Patterns, computed per pixel so that they tile without seams.


def caption_strip(x, y):
    # The title strip at the top of the main window's caption: a little darker
    # than the band below it, so that the light title text reads.
    if y == 23:
        return (126, 172, 234)
    return mix((100, 148, 220), (120, 166, 232), y / 22)


def home_header(x, y):
    if y == 39:
        return SIDEBAR_LINE
    return mix((246, 250, 255), SIDEBAR, y / 38)


def home_separator(x, y):
    if x < 12:
        return SIDEBAR_LINE if y == 0 else SIDEBAR
    return WHITE


def stripes(period_x, period_y):
    """45-degree-ish stripes that repeat every period_x across and period_y down."""
    light, dark = (104, 171, 232), (76, 146, 214)

    def colour(x, y):
        inside = 0
        for sx in range(4):
            for sy in range(4):
                u = (x + (sx + 0.5) / 4) + (y + (sy + 0.5) / 4) * period_x / period_y
                inside += (u % period_x) < period_x / 2
        return mix(light, dark, inside / 16)
    return colour


def about_separator(x, y):
    return (104, 150, 214) if y == 0 else (182, 212, 248)


PATTERNS = (
    ('IDB_CAPTION_STRIP', 5, 24, caption_strip),
    ('IDB_HOME_HEADER_PATTERN', 5, 40, home_header),
    ('IDB_HOME_SEPARATOR', 18, 2, home_separator),
    ('IDB_SCAN_PROGRESS_PATTERN', 520, 20, stripes(20, 20)),
    ('IDB_BACKUP_PROGRESS_PATTERN', 65, 20, stripes(13, 20)),
    ('IDB_ABOUT_SEPARATOR', 460, 2, about_separator),
    ('IDB_DOWNLOAD_HEADER_PATTERN', 5, 40, lambda x, y: download_header_row(y)),
)
for const, w, h, function in PATTERNS:
    add(const, w, h, pixels=function)


def pattern_rows(image):
    return [[image.pixels(x, y) for x in range(image.w)] for y in range(image.h)]


# ---------------------------------------------------------------------------
# Icons: the application mark, and the same with a badge for new drivers.

ICON_SIZES = (16, 20, 24, 32, 40, 48, 64)


def mark(size, badge):
    small = size <= 20
    body = embed('pictures/mark16.svg' if small else 'pictures/mark.svg', 0, 0, size, size)
    if badge:
        r = size * (0.3 if small else 0.25)
        cx = cy = size - r - 0.25
        body += '<circle cx="%g" cy="%g" r="%g" fill="#F2661B" stroke="#FFFFFF" stroke-width="%g"/>' % (
            cx, cy, r, max(1, size / 28))
        a = r * 0.55
        body += ('<path d="M%g %gv%gM%g %gl%g %g %g %g" fill="none" stroke="#FFFFFF" stroke-width="%g" '
                 'stroke-linecap="round" stroke-linejoin="round"/>'
                 % (cx, cy - a, 2 * a * 0.95, cx - a * 0.8, cy + a * 0.1, a * 0.8, a * 0.85, a * 0.8, -a * 0.85,
                    max(1.2, size / 18)))
    return document(size, size, body)


add('IDI_QUILLMARK', 0, 0, icon=[(s, mark(s, False)) for s in ICON_SIZES])
add('IDI_NEW_DRIVERS', 0, 0, icon=[(s, mark(s, True)) for s in ICON_SIZES])


# ---------------------------------------------------------------------------
# Device class icons, 16 x 16: a coloured tile with a white symbol. The program
# uses them where Windows gives no class icon; the order of CLASS_ICONS is the
# order of the IDI_CLASS_ constants.

CLASS_ICONS = (
    ('UNKNOWN', 'question', (214, 134, 38)),
    ('DISPLAY', 'display', (52, 120, 200)),
    ('SOUND', 'sound', (150, 88, 190)),
    ('NETWORK', 'network', (40, 150, 120)),
    ('IMAGING', 'camera', (200, 90, 110)),
    ('PRINTER', 'printer', (90, 110, 140)),
    ('KEYBOARD', 'keyboard', (70, 90, 170)),
    ('MOUSE', 'mouse', (60, 140, 190)),
    ('STORAGE', 'storage', (120, 120, 120)),
    ('USB', 'usb', (50, 100, 160)),
    ('BLUETOOTH', 'bluetooth', (30, 100, 220)),
    ('SYSTEM', 'chip', (80, 130, 80)),
    ('DEVICE', 'device', (110, 120, 140)),
)


def class_icon(glyph, colour):
    body = '<rect x="0.5" y="0.5" width="15" height="15" rx="3" fill="%s" stroke="%s"/>' % (
        hexc(colour), hexc(mix(colour, (0, 0, 0), 0.3)))
    body += embed('glyphs/%s.svg' % glyph, 2, 2, 12, 12, color=WHITE)
    return document(16, 16, body)


for const, glyph, colour in CLASS_ICONS:
    add('IDI_CLASS_%s' % const, 0, 0, icon=[(16, class_icon(glyph, colour))])


# ---------------------------------------------------------------------------
# Rendering.

class Tools:
    def __init__(self, rsvg, convert):
        self.rsvg, self.convert = rsvg, convert

    def raster(self, svg, w, h, background=None):
        """The SVG rendered at w x h: RGBA bytes, or RGB bytes flattened on `background`."""
        png = subprocess.run([self.rsvg, '-w', str(w), '-h', str(h)], input=svg.encode('utf-8'),
                             capture_output=True, check=True).stdout
        if background is None:
            args, channels = ['rgba:-'], 4
        else:
            args, channels = ['-background', hexc(background), '-flatten', 'rgb:-'], 3
        raw = subprocess.run([self.convert, 'png:-', '-depth', '8'] + args, input=png,
                             capture_output=True, check=True).stdout
        if len(raw) != w * h * channels:
            raise RuntimeError('unexpected raster size %d for %dx%d' % (len(raw), w, h))
        return raw

    def ink_width(self, svg_text):
        """Width in pixels of what an SVG draws (its trimmed bounding box)."""
        png = subprocess.run([self.rsvg], input=svg_text.encode('utf-8'), capture_output=True, check=True).stdout
        out = subprocess.run([self.convert, 'png:-', '-trim', '-format', '%w', 'info:'], input=png,
                             capture_output=True, check=True).stdout
        return int(out)


def apply_key(rgba, surface, key):
    """RGB bytes: the picture over its surface, and the key colour where nothing is drawn."""
    out = bytearray(len(rgba) // 4 * 3)
    near_key = (key[0], key[1], key[2] ^ 1)
    for i in range(len(rgba) // 4):
        r, g, b, a = rgba[4 * i:4 * i + 4]
        if a == 0:
            pixel = key
        else:
            pixel = tuple((c * a + s * (255 - a) + 127) // 255 for c, s in zip((r, g, b), surface))
            if pixel == key:
                pixel = near_key    # drawn parts must never vanish as transparent
        out[3 * i:3 * i + 3] = bytes(pixel)
    return bytes(out)


def bmp(w, h, rgb):
    """A bottom-up 24-bit BMP with a BITMAPINFOHEADER."""
    stride = (w * 3 + 3) & ~3
    rows = []
    for y in range(h - 1, -1, -1):
        row = bytearray(rgb[y * w * 3:(y + 1) * w * 3])
        row[0::3], row[2::3] = row[2::3], row[0::3]
        rows.append(bytes(row) + b'\0' * (stride - w * 3))
    data = b''.join(rows)
    return (struct.pack('<2sIHHI', b'BM', 54 + len(data), 0, 0, 54) +
            struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0) + data)


def ico(entries):
    """An icon file of 32-bit images with their AND masks; entries are (size, rgba)."""
    images = []
    for size, rgba in entries:
        xor = bytearray()
        mask_stride = ((size + 31) // 32) * 4
        mask = bytearray()
        for y in range(size - 1, -1, -1):
            mask_row = bytearray(mask_stride)
            for x in range(size):
                r, g, b, a = rgba[4 * (y * size + x):4 * (y * size + x) + 4]
                xor += bytes((b, g, r, a))
                if a == 0:
                    mask_row[x // 8] |= 0x80 >> (x % 8)
            mask += mask_row
        header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
        images.append((size, header + bytes(xor) + bytes(mask)))
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b''.join(data for _, data in images)


def render(image, tools):
    if image.icon:
        return ico([(s, tools.raster(svg, s, s)) for s, svg in image.icon])
    if image.pixels:
        rows = pattern_rows(image)
        return bmp(image.w, image.h, bytes(c for row in rows for pixel in row for c in pixel))
    if image.key is not None:
        return bmp(image.w, image.h, apply_key(tools.raster(image.svg, image.w, image.h), image.surface, image.key))
    return bmp(image.w, image.h, tools.raster(image.svg, image.w, image.h, image.surface))


class Fitter:
    """Chooses font sizes so that captions fit their space; remembers measurements."""

    def __init__(self, tools, cache_path):
        self.tools, self.cache_path = tools, cache_path
        try:
            with open(cache_path, encoding='utf-8') as f:
                self.cache = json.load(f)
        except (OSError, ValueError):
            self.cache = {}

    def __call__(self, caption, lang, weight, size, width):
        probe = document(4000, 100, text(20, 75, caption, 50, (0, 0, 0), weight, 'start', lang))
        key = hashlib.sha256(probe.encode('utf-8')).hexdigest()
        if key not in self.cache:
            self.cache[key] = self.tools.ink_width(probe)
        natural = self.cache[key] * size / 50
        return size if natural <= width else math.floor(size * width / natural * 10) / 10

    def save(self):
        with open(self.cache_path, 'w', encoding='utf-8') as f:
            json.dump(self.cache, f, indent=0, sort_keys=True)


def add_fitted(fit):
    """The images whose captions are sized to fit."""
    add('IDB_LOGO', 161, 50, logo(fit), surface=CAPTION)
    captions = start_captions()
    for code, section, bottom in LANGUAGES:
        if section not in captions:
            sys.exit('make_art.py: language.ini has no home_start_scan for [%s]' % section)
        caption = captions[section]
        for i, state in enumerate(STATES):
            add('IDB_START_%s_%s' % (code, state), 450, 120, start_button(code, caption, i, fit))
        if bottom:
            add('IDB_BOTTOM_PICTURE_' + code, 520, 100, bottom_picture(code, bottom[0], bottom[1], fit))


def header_constants():
    with open(RESOURCE_HEADER, encoding='utf-8') as f:
        return re.findall(r'^#define\s+(ID[BI]_\w+)\s', f.read(), re.M)


def check_complete():
    declared = set(header_constants())
    made = [image.const for image in IMAGES]
    problems = ['%s has no image' % c for c in sorted(declared - set(made))]
    problems += ['%s is not in resource.h' % c for c in sorted(set(made) - declared)]
    problems += ['%s is made twice' % c for c in sorted({c for c in made if made.count(c) > 1})]
    if problems:
        sys.exit('make_art.py: ' + '; '.join(problems))


def check_fonts():
    """Without its faces the renderer would quietly draw captions in another font, or as boxes."""
    for family in sorted({SANS, *FONTS.values()}):
        try:
            found = subprocess.run(['fc-match', '-f', '%{family}', family], capture_output=True,
                                   text=True).stdout
        except OSError:
            return      # no fc-match to ask
        if family not in found.split(','):
            sys.exit('make_art.py: font "%s" is not installed (scripts/setup-host.sh installs it)' % family)


def write_if_changed(path, data):
    try:
        with open(path, 'rb') as f:
            if f.read() == data:
                return
    except OSError:
        pass
    with open(path + '.tmp', 'wb') as f:
        f.write(data)
    os.replace(path + '.tmp', path)


def build(out, tools, jobs):
    os.makedirs(out, exist_ok=True)
    check_fonts()
    fitter = Fitter(tools, os.path.join(out, '.measures.json'))
    add_fitted(fitter)
    fitter.save()
    check_complete()

    digests_path = os.path.join(out, '.digests.json')
    try:
        with open(digests_path, encoding='utf-8') as f:
            digests = json.load(f)
    except (OSError, ValueError):
        digests = {}
    # A change of this script may change how any image is written.
    with open(os.path.abspath(__file__), 'rb') as f:
        script = f.read()
    wanted = {image.file: hashlib.sha256(script + image.recipe().encode('utf-8')).hexdigest() for image in IMAGES}
    todo = [image for image in IMAGES
            if digests.get(image.file) != wanted[image.file] or not os.path.exists(os.path.join(out, image.file))]

    def one(image):
        write_if_changed(os.path.join(out, image.file), render(image, tools))
        return image

    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        for image in pool.map(one, todo):
            digests[image.file] = wanted[image.file]
    with open(digests_path, 'w', encoding='utf-8') as f:
        json.dump(digests, f, indent=0, sort_keys=True)

    lines = ['// Generated by make_art.py from src/resources/art: do not edit.']
    for image in sorted(IMAGES, key=lambda i: (not i.icon, i.const)):
        lines.append('%-32s %s "%s"' % (image.const, 'ICON' if image.icon else 'BITMAP', image.file))
    write_if_changed(os.path.join(out, 'artwork.rc'), ('\n'.join(lines) + '\n').encode('utf-8'))
    if todo:
        print('make_art.py: rendered %d of %d images' % (len(todo), len(IMAGES)))


def contact_sheet(out, tools, sheet):
    """A PNG for people: mock-ups of the main window, the message box and the
    about box laid out as the program paints them, then every image at its
    own size with its constant."""
    parts, defs = [], []

    def href(image_file):
        return 'href="%s"' % image_file

    keyed = {}
    for image in IMAGES:
        if image.key is not None:
            # The mock-ups show colour-keyed images as the program draws them.
            keyed[image.file] = image.file + '.keyed.png'
            subprocess.run([tools.convert, os.path.join(out, image.file), '-transparent', hexc(image.key),
                            os.path.join(out, keyed[image.file])], check=True)

    def put(image_file, x, y, w, h, mock_up=True):
        if mock_up:
            image_file = keyed.get(image_file, image_file)
        parts.append('<image x="%d" y="%d" width="%d" height="%d" %s/>' % (x, y, w, h, href(image_file)))

    def fill(x, y, w, h, colour):
        parts.append('<rect x="%d" y="%d" width="%d" height="%d" fill="%s"/>' % (x, y, w, h, colour))

    def tile(const, x, y, w, h):
        image = next(i for i in IMAGES if i.const == const)
        ident = 'p%d' % len(defs)
        defs.append('<pattern id="%s" patternUnits="userSpaceOnUse" width="%d" height="%d">'
                    '<image width="%d" height="%d" %s/></pattern>' % (ident, image.w, image.h, image.w, image.h,
                                                                        href(image.file)))
        parts.append('<rect x="%d" y="%d" width="%d" height="%d" fill="url(#%s)"/>' % (x, y, w, h, ident))

    def words(x, top, content, px, colour, weight='normal', anchor='start'):
        # GDI places text by its top; the pixel height is the font's character height.
        parts.append(text(x, top + round(px * 0.8), content, round(px * 0.86), colour, weight, anchor))

    def file_of(const):
        return next(i for i in IMAGES if i.const == const).file

    def frame(x, y, w, h, f):
        parts.append('<rect x="%g" y="%g" width="%d" height="%d" fill="none" stroke="%s"/>'
                     % (x + 0.5, y + 0.5, w - 1, h - 1, hexc(FRAME)))
        for i in range(1, f):
            parts.append('<rect x="%g" y="%g" width="%d" height="%d" fill="none" stroke="%s"/>'
                         % (x + i + 0.5, y + i + 0.5, w - 2 * i - 1, h - 2 * i - 1, hexc(CAPTION)))

    # Main window, 800 x 600, frame 4, home page, the Home tab pressed and the
    # Download tab under the mouse.
    ox, oy, f = 20, 20, 4
    W, H = 800 - 2 * f, 600 - 100 - f
    fill(ox, oy, 800, 600, '#FFFFFF')
    fill(ox, oy + f, 800, 100 - f, hexc(CAPTION))
    tile('IDB_CAPTION_STRIP', ox, oy + f, 800, 24 - f)
    frame(ox, oy, 800, 600, f)
    put(file_of('IDI_QUILLMARK'), ox + 5, oy + 5, 20, 20)
    words(ox + 30, oy + 8, 'Quillmark', 11, TITLE, 'bold')
    for i, (name, label) in enumerate(zip(('HOME', 'DOWNLOAD', 'BACKUP', 'RESTORE', 'SETTINGS'),
                                          ('Home', 'Download', 'Backup', 'Restore', 'Settings'))):
        state = {0: 'PRESSED', 1: 'HOVER'}.get(i, 'NORMAL')
        x, y = ox + f + 10 + 82 * i, oy + f + 23
        put(file_of('IDB_%s_TAB_%s' % (name, state)), x, y, 80, 70)
        words(x + 41, y + 67 - 5 - 13, label, 11, HEADING if state == 'PRESSED' else WHITE, 'bold', 'middle')
    for i, name in enumerate(('CLOSE', 'MAXIMIZE', 'MINIMIZE', 'MENU')):
        put(file_of('IDB_%s_BUTTON_%s' % (name, 'HOVER' if name == 'MINIMIZE' else 'NORMAL')),
            ox + 800 - (f + 30 * (i + 1)), oy + f, 30, 21)
    put(file_of('IDB_LOGO'), ox + 800 - (f + 181), oy + f + 40, 161, 50)
    cx, cy = ox + f, oy + 100
    tile('IDB_HOME_HEADER_PATTERN', cx, cy, W - 250, 40)
    fill(cx + W - 250, cy, 250, H, hexc(SIDEBAR))
    fill(cx + W - 250, cy, 1, H, hexc(SIDEBAR_LINE))
    words(cx + 15, cy + 10, 'Scan for driver updates', 24, HEADING)
    x0, y0 = (W - 250) // 2 - 235, (H - 150) // 2
    put(file_of('IDB_HOME_STEPS'), cx + x0, cy + y0 - 90, 470, 70)
    for dx, label in ((26, 'Scan for drivers'), (226, 'Download'), (399, 'Install')):
        words(cx + x0 + dx, cy + y0 - 65, label, 16, HEADING, 'bold')
    put(file_of('IDB_START_EN_HOVER'), cx + (W - 250) // 2 - 225, cy + y0, 450, 120)
    picture_top = H - 100 - 10
    put(file_of('IDB_BOTTOM_PICTURE_EN'), cx + 10, cy + picture_top, 520, 100)
    small_top = picture_top - 25
    put(file_of('IDB_AUTO_SCAN'), cx + 10, cy + small_top, 24, 24)
    words(cx + 40, cy + small_top + 2, 'Scan automatically every week', 16, HEADING, 'bold')
    tile('IDB_HOME_SEPARATOR', cx + 10, cy + small_top - 20, W - 270, 2)
    put(file_of('IDB_SIDEBAR_HEADER'), cx + W - 247, cy + 5, 48, 48)
    words(cx + W - 193, cy + 28, 'System information', 16, HEADING, 'bold')
    for k, (label, value) in enumerate((('Model:', 'Example PC'), ('OS:', 'Windows 7'), ('CPU:', 'Core i5'),
                                        ('Memory:', '8 GB'), ('Display:', 'Display adapter'))):
        words(cx + W - 240, cy + 100 + 31 * k, label, 11, SIDEBAR_TEXT)
        words(cx + W - 195, cy + 100 + 31 * k, value, 11, SIDEBAR_TEXT)

    # Message box (kind 3), 300 x 200, dialog frame 3.
    mx, my, f = 840, 20, 3
    fill(mx, my, 300, 200, hexc(CAPTION))
    frame(mx, my, 300, 200, f)
    words(mx + 10, my + 10, 'Quillmark', 11, TITLE, 'bold')
    put(file_of('IDB_DIALOG_CLOSE_NORMAL'), mx + 300 - (f + 31), my + f, 31, 21)
    cx, cy = mx + f, my + 30 + f
    fill(cx, cy, 294, 130, hexc(SIDEBAR))
    put(file_of('IDB_SYMBOL_QUESTION'), cx + 15, cy + 30, 48, 48)
    words(cx + 80, cy + 38, 'Downloads are running.', 13, (91, 135, 201))
    words(cx + 80, cy + 57, 'Quit anyway?', 13, (91, 135, 201))
    for x, label, state in ((50, 'No', 'NORMAL'), (180, 'Yes', 'HOVER')):
        put(file_of('IDB_MESSAGE_BUTTON_' + state), cx + x, cy + 136, 70, 24)
        words(cx + x + 35, cy + 141, label, 12, WHITE, 'bold', 'middle')
    for i, name in enumerate(('ERROR', 'WARNING', 'INFORMATION')):
        put(file_of('IDB_SYMBOL_' + name), mx + 320, my + 20 + 58 * i, 48, 48)

    # About box, 500 x 400.
    ax, ay = 840, 250
    fill(ax, ay, 500, 400, hexc(CAPTION))
    put(file_of('IDB_ABOUT_PICTURE'), ax + 20, ay + 30, 64, 64)
    words(ax + 90, ay + 49, 'Quillmark', 33, WHITE, 'bold')
    tile('IDB_ABOUT_SEPARATOR', ax + 5, ay + 98, 485, 2)
    frame(ax, ay, 500, 400, f)
    words(ax + 10, ay + 10, 'About', 11, TITLE, 'bold')
    put(file_of('IDB_DIALOG_CLOSE_HOVER'), ax + 500 - (f + 31), ay + f, 31, 21)
    cx, cy = ax + f, ay + 100 + f
    fill(cx + 15, cy + 85, 455, 100, '#FFFFFF')
    words(cx + 15, cy + 5, 'Copyright (C) 2026 Vantorel', 11, WHITE)
    words(cx + 15, cy + 65, 'Version information', 11, WHITE)
    words(cx + 20, cy + 95, 'Quillmark 1.0', 11, (0, 0, 0))
    for y, label, state in ((210, 'Check for updates', 'NORMAL'), (250, 'Back', 'PRESSED')):
        put(file_of('IDB_ABOUT_BUTTON_' + state), cx + 340, cy + y, 130, 24)
        words(cx + 405, cy + y + 6, label, 11, WHITE, 'normal', 'middle')

    # Every image at its own size.
    x, y, row_height, width = 20, 680, 0, 1360
    for image in sorted(IMAGES, key=lambda i: (i.h if not i.icon else 64, i.w, i.const)):
        w, h = (64, 64) if image.icon else (image.w, image.h)
        label = image.const[4:].lower()
        cell = max(w, len(label) * 6 + 4)
        if x + cell > width:
            x, y, row_height = 20, y + row_height + 22, 0
        fill(x - 1, y - 1, w + 2, h + 2, '#B0B0B0')
        put(image.file, x, y, w, h, mock_up=False)
        parts.append(text(x, y + h + 12, label, 9.5, (40, 40, 40)))
        x += cell + 14
        row_height = max(row_height, h)
    total = y + row_height + 30
    svg = ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d"><defs>%s</defs>'
           '<rect width="100%%" height="100%%" fill="#E4E4E4"/>%s</svg>' % (width + 20, total, ''.join(defs),
                                                                             ''.join(parts)))
    # The renderer loads pictures only from beside the document.
    source = os.path.join(out, 'contact-sheet.svg')
    with open(source, 'w', encoding='utf-8') as f:
        f.write(svg)
    subprocess.run([tools.rsvg, '-o', sheet, source], check=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('out')
    parser.add_argument('--rsvg', default='rsvg-convert')
    parser.add_argument('--convert', default='convert')
    parser.add_argument('--jobs', type=int, default=os.cpu_count() or 1)
    parser.add_argument('--sheet')
    args = parser.parse_args()
    tools = Tools(args.rsvg, args.convert)
    build(args.out, tools, args.jobs)
    if args.sheet:
        contact_sheet(args.out, tools, args.sheet)


if __name__ == '__main__':
    main()
