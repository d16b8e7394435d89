"""Host-side checks of the screens the test application asks the runner to
capture: each takes the text grid (screen.Grid) and the screenshot (a PIL RGB
image) and returns a list of problems (empty when the screen is right)."""
import os

# Pixel geometry of the 100 x 31 console on the 1024 x 768 screen.
ORIGIN_X, ORIGIN_Y, CELL_W, CELL_H = 112, 89, 8, 19


def cell_origin(col, row):
    return ORIGIN_X + col * CELL_W, ORIGIN_Y + row * CELL_H


def expect_text(problems, grid, col, row, text, attr=None):
    got = grid.at(col, row, len(text))
    if got != text:
        problems.append("row %d col %d: %r, expected %r" % (row, col, got, text))
    if attr is not None:
        attrs = {grid.attr_at(c, row) for c in range(col, col + len(text))}
        if attrs != {attr}:
            problems.append("row %d col %d: attributes %s, expected %02X"
                            % (row, col, ",".join("%02X" % a for a in sorted(attrs)), attr))


def is_colour(pixel, rgb, tolerance=24):
    return all(abs(a - b) <= tolerance for a, b in zip(pixel, rgb))


def dominant(image, x, y, w, h):
    """The most frequent colour of a rectangle."""
    counts = {}
    for yy in range(y, y + h):
        for xx in range(x, x + w):
            p = image.getpixel((xx, yy))
            counts[p] = counts.get(p, 0) + 1
    return max(counts.items(), key=lambda kv: kv[1])[0]


SHADE = (64, 64, 64)  # the message box's grey backdrop
# The message box in the 100 x 27 screen: column, row, width, height in cells.
BOX_CELLS = (30, 8, 40, 8)


def is_ink(pixel):
    """A pixel of white text (the box's 0x1F foreground), not background."""
    return sum(pixel) > 480


def box_pixels(grid, image, cells=BOX_CELLS, shade=SHADE):
    """The message box as the screenshot shows it must match the text grid:
    ink in every cell that holds a character, none in a blank cell, and
    only the grey backdrop around the ink. A backdrop drawn over text that
    was already there leaves a grey cell where the grid has a character."""
    col0, row0, width, height = cells
    pixels = image.load()
    missing, stray, background = [], [], 0
    for r in range(row0, row0 + height):
        for c in range(col0, col0 + width):
            x0, y0 = cell_origin(c, r)
            ink = 0
            for y in range(y0, y0 + CELL_H):
                for x in range(x0, x0 + CELL_W):
                    p = pixels[x, y]
                    if is_ink(p):
                        ink += 1
                    elif p != shade:
                        background += 1
            blank = grid.at(c, r, 1) == " "
            if not blank and ink == 0:
                missing.append((c, r))
            elif blank and ink:
                stray.append((c, r))
    problems = []
    if missing:
        problems.append("message box pixels: %d cells with a character show none, first (%d, %d) %r"
                        % (len(missing), missing[0][0], missing[0][1], grid.at(missing[0][0], missing[0][1], 1)))
    if stray:
        problems.append("message box pixels: %d blank cells show ink, first (%d, %d)" % ((len(stray),) + stray[0]))
    if background:
        problems.append("message box pixels: %d pixels around the text are not the grey backdrop" % background)
    return problems


def check_screen_grid(grid, image):
    problems = []
    expect_text(problems, grid, 10, 3, "TEST BED GRID", 0x1F)
    expect_text(problems, grid, 20, 5, "\u2500" * 5, 0x0C)
    expect_text(problems, grid, 0, 0, "@", 0x4F)
    expect_text(problems, grid, 40, 12, " green ", 0x2F)
    # The last column, which the terminal addresses as ":0": a cell of its
    # own, text that ends there, and the last row.
    expect_text(problems, grid, 99, 7, "|", 0x0C)
    expect_text(problems, grid, 92, 9, "12:34:56", 0x0E)
    expect_text(problems, grid, 0, 30, "last row", 0x0F)
    # Cell (10, 3) starts exactly at pixel (192, 146): blue inside, black just
    # left of and above it.
    x, y = cell_origin(10, 3)
    blue = dominant(image, x, y, CELL_W * 13, CELL_H)
    if not (blue[2] > 100 and blue[0] < 60 and blue[1] < 60):
        problems.append("cells (10..22, 3) are %r, not blue" % (blue,))
    for px, py in ((x - 1, y + 5), (x + 5, y - 1)):
        if image.getpixel((px, py)) != (0, 0, 0):
            problems.append("pixel (%d, %d) outside the blue cells is %r" % (px, py, image.getpixel((px, py))))
    if image.getpixel((x, y)) == (0, 0, 0):
        problems.append("pixel (%d, %d), the first of cell (10, 3), is black" % (x, y))
    # The graphics-output fill of 100 x 40 at (600, 700).
    for px, py in ((600, 700), (699, 739), (650, 720)):
        if not is_colour(image.getpixel((px, py)), (0x20, 0xC0, 0x80), 2):
            problems.append("fill pixel (%d, %d) is %r" % (px, py, image.getpixel((px, py))))
    if is_colour(image.getpixel((700, 740)), (0x20, 0xC0, 0x80), 2):
        problems.append("the fill reaches past its rectangle")
    return problems


# ---- The UI engine's screens (the 100 x 27 character screen of a run) ----

MARK = ("\u25ba", ">")  # the terminal may show the pointer mark as ">"
BUILD = None  # set by extra_files: where the artwork is


def expect_attr(problems, grid, cells, attr, what):
    bad = [(c, r) for c, r in cells if grid.attr_at(c, r) != attr]
    if bad:
        c, r = bad[0]
        problems.append("%s: %d cells not %02X, first (%d, %d) is %02X" % (what, len(bad), attr, c, r, grid.attr_at(c, r)))


def expect_entry(problems, grid, col, row, text, attr, marked):
    """A list entry: the mark in front when marked (any of MARK), then text."""
    got = grid.at(col, row, len(text) + 1)
    lead, rest = got[0], got[1:]
    if rest != text or (marked and lead not in MARK) or (not marked and lead != " "):
        problems.append("row %d col %d: %r, expected %s%r" % (row, col, got, "mark + " if marked else "", text))
    expect_attr(problems, grid, [(c, row) for c in range(col, col + len(text) + 1)], attr, "entry %r" % text)


def check_frame(problems, grid):
    """The background's red border and lines, and the four windows in 0x0F."""
    # The screen's bottom-right cell (99, 26) is never written.
    full = [(c, r) for r in (0, 25, 26) for c in range(100) if (c, r) != (99, 26)]
    full += [(c, r) for r in (2, 4, 15, 23) for c in range(1, 99)]
    full += [(21, r) for r in range(5, 23)]
    full += [(0, r) for r in (1, 3, 10, 11, 12, 13, 14, 24)] + [(99, r) for r in range(26)]
    expect_attr(problems, grid, full, 0x0C, "red border and lines")
    # The right border is blank on every row: a misread cursor position
    # leaves stray characters there.
    right = "".join(grid.at(99, r, 1) for r in range(26))
    if right != " " * 26:
        problems.append("column 99 is %r, not the blank border" % right)


def check_windows_blank(problems, grid, areas):
    for c0, r0, w, h, what in areas:
        cells = [(c, r) for r in range(r0, r0 + h) for c in range(c0, c0 + w)]
        expect_attr(problems, grid, cells, 0x0F, what)
        text = "".join(grid.at(c0, r, w) for r in range(r0, r0 + h))
        if text.strip():
            problems.append("%s is not blank: %r" % (what, text.strip()[:40]))


def check_volume_list(problems, grid, selected, count, attr):
    """"   fs%d  " per volume, the highlighted one "  %cfs%d  " with the mark."""
    for i in range(min(count, 4)):
        if grid.at(0, 5 + i, 2) != "  ":
            problems.append("volume row %d does not start with two blanks" % i)
        expect_entry(problems, grid, 2, 5 + i, "fs%d  " % i, attr if i == selected else 0x0F, i == selected)
        expect_attr(problems, grid, [(0, 5 + i), (1, 5 + i)], attr if i == selected else 0x0F, "volume row %d" % i)
    expect_text(problems, grid, 0, 9, "Total FFS : %d" % count, 0x0E)


def check_date_line(problems, grid, name):
    expect_text(problems, grid, 26, 8, "File Date    : ", 0x0E)
    expect_text(problems, grid, 41, 8, "%s (03/05/2021) " % name, 0x0F)


def artwork(name):
    from PIL import Image
    return Image.open(os.path.join(BUILD, "artwork", name + ".bmp")).convert("RGB")


def expect_picture(problems, image, name, x, y):
    """The picture drawn pixel for pixel with its top-left corner at (x, y)."""
    pic = artwork(name)
    w, h = pic.size
    got = image.crop((x, y, x + w, y + h))
    if list(got.getdata()) != list(pic.getdata()):
        problems.append("picture %s is not at (%d, %d)" % (name, x, y))
    return w


def check_ui_first_screen(grid, image):
    problems = []
    check_frame(problems, grid)
    check_volume_list(problems, grid, 0, 3, 0x0D)
    check_windows_blank(problems, grid, [(0, 16, 21, 7, "file list"), (22, 5, 77, 5, "information window"),
                                        (22, 16, 77, 7, "caller's window"), (8, 5, 13, 4, "volume list's right part")])
    # The corner mark: mark A at (930, 80), then digit 4, mark B, digits 0 and 3,
    # one blank pixel column between neighbours.
    x = 930
    for name in ("mark_a", "digit4", "mark_b", "digit0", "digit3"):
        x += expect_picture(problems, image, name, x, 80) + 1
    return problems


def check_ui_volume_chosen(grid, image):
    problems = []
    check_volume_list(problems, grid, 1, 3, 0x0D)
    return problems


def check_ui_file_list(grid, image):
    problems = []
    check_frame(problems, grid)
    check_volume_list(problems, grid, 1, 3, 0x0E)  # confirmed style once the focus left
    # Only the two files of a BIOS size, in directory order; bit 7 of the
    # highlight's 0xFD does not reach the terminal.
    expect_entry(problems, grid, 0, 16, "BIOS1.ROM", 0x7D, True)
    expect_entry(problems, grid, 0, 17, "BIOS2.ROM", 0x0F, False)
    check_windows_blank(problems, grid, [(0, 18, 21, 5, "file list below the files")])
    check_date_line(problems, grid, "BIOS1.ROM")
    return problems


def check_ui_file_down(grid, image):
    problems = []
    expect_entry(problems, grid, 0, 16, "BIOS1.ROM", 0x0F, False)
    expect_entry(problems, grid, 0, 17, "BIOS2.ROM", 0x7D, True)
    check_date_line(problems, grid, "BIOS2.ROM")
    return problems


def check_ui_file_chosen(grid, image):
    problems = []
    expect_entry(problems, grid, 0, 17, "BIOS2.ROM", 0x0E, True)  # confirmed style
    # The message box: 40 x 8 at column 30, row 8, in front, with the text
    # centred on its middle column in its second inner row.
    expect_text(problems, grid, 30, 8, "\u250c" + "\u2500" * 38 + "\u2510", 0x1F)
    for r in range(9, 15):
        expect_text(problems, grid, 30, r, "\u2502", 0x1F)
        expect_text(problems, grid, 69, r, "\u2502", 0x1F)
    expect_text(problems, grid, 30, 15, "\u2514" + "\u2500" * 38 + "\u2518", 0x1F)
    text = "Checking BIOS2.ROM"
    expect_text(problems, grid, 50 - len(text) // 2, 10, text, 0x1F)
    expect_text(problems, grid, 24, 17, "Size 128 KiB", 0x0F)
    # The grey backdrop behind the box's pixel rectangle (352, 241, 320, 152).
    grey = dominant(image, 352, 241, 320, 152)
    if not is_colour(grey, (64, 64, 64), 0):
        problems.append("the message box area is %r, not the grey backdrop" % (grey,))
    problems += box_pixels(grid, image)
    for px, py in ((350, 300), (673, 300), (500, 239)):
        if image.getpixel((px, py)) == (64, 64, 64):
            problems.append("the backdrop reaches (%d, %d), outside the box" % (px, py))
    # Progress after SetProgress(0..42, 1): segments 0-42 drawn on the frame's blanks,
    # the digits 4 and 2 (the hundreds digit 0 is not drawn but its width
    # counts) and the percent suffix.
    w = artwork("bar0").size[0]
    for p in (0, 20, 42):
        expect_picture(problems, image, "bar1", 62 + p * w, 629)
    wb = artwork("bar_blank").size[0]
    for k in (43, 70, 99):
        expect_picture(problems, image, "bar_blank", 62 + k * wb, 629)
    w0 = artwork("digit0").size[0]
    w4 = artwork("digit4").size[0]
    expect_picture(problems, image, "digit4", 920 + w0, 607)
    expect_picture(problems, image, "digit2", 921 + w0 + w4, 607)
    expect_picture(problems, image, "percent", 952, 607)
    return problems


def check_ui_follow_up(grid, image):
    problems = []
    # The box is hidden again (Clear with selector 0): the date line is back.
    if grid.find("Checking BIOS2.ROM") is not None:
        problems.append("the message box is still up")
    check_date_line(problems, grid, "BIOS2.ROM")
    if dominant(image, 352, 241, 320, 152) == (64, 64, 64):
        problems.append("the grey backdrop stayed after the box was hidden")
    # SetProgress(7, 9): segment 7 in style 0; SetProgress(150, 2): no segment,
    # digits 1, 0, 0 from X = 919 and the suffix.
    w = artwork("bar0").size[0]
    expect_picture(problems, image, "bar0", 62 + 7 * w, 629)
    expect_picture(problems, image, "bar1", 62 + 8 * w, 629)
    w1, w0 = artwork("digit1").size[0], artwork("digit0").size[0]
    expect_picture(problems, image, "digit1", 919, 607)
    expect_picture(problems, image, "digit0", 920 + w1, 607)
    expect_picture(problems, image, "digit0", 921 + w1 + w0, 607)
    expect_picture(problems, image, "percent", 952, 607)
    return problems


def check_ui_no_graphics_console(grid, image):
    if grid.find("LocateProtocol gAdvancedGcProtocolGuid error Not Found") is None:
        return ["the message \"LocateProtocol gAdvancedGcProtocolGuid error Not Found\" is not on the console"]
    return []


# ---- The host-driven run over the nine-file volume (fs2) ----

UP_MARKS, DOWN_MARKS = ("\u25b2", "^"), ("\u25bc", "v")


def check_file_rows(problems, grid, first, selected, up, down):
    """Rows 16-22 show BIOS_<first+1>.ROM onwards, the selected one marked,
    and the scroll marks at column 15 of the first and last row."""
    for r in range(7):
        i = first + r
        name = "BIOS_%02d.ROM" % (i + 1)
        expect_entry(problems, grid, 0, 16 + r, name, 0x7D if i == selected else 0x0F, i == selected)
    top, bottom = grid.at(15, 16, 1), grid.at(15, 22, 1)
    if (top in UP_MARKS) != up:
        problems.append("up mark at row 16 col 15: %r, expected %s" % (top, "a mark" if up else "none"))
    if (bottom in DOWN_MARKS) != down:
        problems.append("down mark at row 22 col 15: %r, expected %s" % (bottom, "a mark" if down else "none"))
    for r, wanted in ((16, up), (22, down)):
        if wanted and grid.attr_at(15, r) != 0x0E:
            problems.append("scroll mark at row %d in %02X" % (r, grid.attr_at(15, r)))


def check_scroll_top(grid, image):
    problems = []
    check_volume_list(problems, grid, 2, 3, 0x0E)
    check_file_rows(problems, grid, 0, 0, False, True)
    check_date_line(problems, grid, "BIOS_01.ROM")
    return problems


def check_scroll_middle(grid, image):
    problems = []
    check_file_rows(problems, grid, 1, 7, True, True)
    check_date_line(problems, grid, "BIOS_08.ROM")
    return problems


def check_scroll_bottom(grid, image):
    problems = []
    check_file_rows(problems, grid, 2, 8, True, False)
    check_date_line(problems, grid, "BIOS_09.ROM")
    return problems


def check_scroll_tab_back(grid, image):
    problems = []
    check_volume_list(problems, grid, 2, 3, 0x0D)
    check_windows_blank(problems, grid, [(0, 16, 21, 7, "file list after Tab")])
    check_date_line(problems, grid, "BIOS_09.ROM")  # the last date line stays
    return problems


def check_scroll_no_bios_files(grid, image):
    problems = []
    check_volume_list(problems, grid, 0, 3, 0x0E)
    text = "Can't find any BIOS files !"
    at = grid.find(text)
    if at is None:
        problems.append("%r is not on the screen" % text)
    else:
        col, row = at
        # Centred on the box's middle column (50) in its middle row (8 + 4).
        if row != 12 or abs(col + len(text) / 2 - 50) > 1:
            problems.append("%r at col %d row %d, not centred on (50, 12)" % (text, col, row))
        expect_attr(problems, grid, [(c, row) for c in range(col, col + len(text))], 0x1F, "message")
    expect_text(problems, grid, 30, 8, "\u250c" + "\u2500" * 38 + "\u2510", 0x1F)
    grey = dominant(image, 352, 241, 320, 152)
    if not is_colour(grey, (64, 64, 64), 0):
        problems.append("the message box area is %r, not the grey backdrop" % (grey,))
    problems += box_pixels(grid, image)
    return problems


def check_scroll_box_gone(grid, image):
    problems = []
    check_volume_list(problems, grid, 0, 3, 0x0D)
    if grid.find("Can't find any BIOS files !") is not None:
        problems.append("the message box is still up")
    # What the box covered shows again: the date line of the last file.
    check_date_line(problems, grid, "BIOS_09.ROM")
    if dominant(image, 352, 241, 320, 152) == (64, 64, 64):
        problems.append("the grey backdrop stayed after the box was hidden")
    return problems


def check_caller_confirm(grid, image):
    """examples/ui_caller: the message box asks about the chosen file."""
    problems = []
    for row, text in ((10, "Flash BIOS2.ROM ?"), (12, "131072 bytes"), (14, "Enter: yes   Esc: no")):
        expect_text(problems, grid, 50 - len(text) // 2, row, text, 0x1F)
    return problems


def check_caller_done(grid, image):
    """examples/ui_caller: box hidden, the bar filled in style 1 to 100 %, the result in the caller's window."""
    problems = []
    if grid.find("Flash BIOS2.ROM ?") is not None:
        problems.append("the message box is still up")
    expect_text(problems, grid, 23, 17, "BIOS2.ROM written: Success", 0x0A)
    expect_text(problems, grid, 23, 19, "Press any key.", 0x0F)
    w = artwork("bar1").size[0]
    for k in (0, 50, 99):
        expect_picture(problems, image, "bar1", 62 + k * w, 629)
    w1, w0 = artwork("digit1").size[0], artwork("digit0").size[0]
    expect_picture(problems, image, "digit1", 919, 607)
    expect_picture(problems, image, "digit0", 920 + w1, 607)
    expect_picture(problems, image, "percent", 952, 607)
    return problems


def check_gnuefi_quit(grid, image):
    """examples/gnu_efi_caller: its start hook's line, and the escape hook's box over the grey backdrop."""
    problems = []
    expect_text(problems, grid, 23, 16, "gnu-efi tool: choose a BIOS file, Esc to quit", 0x0E)
    for row, text in ((10, "Quit the tool ?"), (13, "Enter: quit   other keys: back")):
        expect_text(problems, grid, 50 - len(text) // 2, row, text, 0x1F)
    return problems + box_pixels(grid, image)


def check_gnuefi_back(grid, image):
    """examples/gnu_efi_caller: the escape key hook hid its box and went back to the volume list."""
    problems = []
    check_volume_list(problems, grid, 0, 3, 0x0D)
    if grid.find("Quit the tool ?") is not None:
        problems.append("the escape box is still up")
    if dominant(image, 352, 241, 320, 152) == SHADE:
        problems.append("the grey backdrop stayed after the box was hidden")
    return problems


def check_gnuefi_confirm(grid, image):
    """examples/gnu_efi_caller: the file read through the hook's root, formatted with %,d and %02x."""
    problems = []
    for row, text in ((10, "Flash BIOS2.ROM ?"), (12, "131,072 bytes, first 03 0A"), (14, "Enter: yes   Esc: no")):
        expect_text(problems, grid, 50 - len(text) // 2, row, text, 0x1F)
    return problems


def check_gnuefi_done(grid, image):
    """examples/gnu_efi_caller: written in eleven steps of its event, the bar full in style 2, every hook counted once."""
    problems = []
    if grid.find("Flash BIOS2.ROM ?") is not None:
        problems.append("the message box is still up")
    expect_text(problems, grid, 23, 17, "BIOS2.ROM written: Success", 0x0A)
    expect_text(problems, grid, 23, 19, "hooks: start 1, escape 1, chosen 1, follow-up 1, steps 11, arguments right", 0x0F)
    expect_text(problems, grid, 23, 21, "Press any key.", 0x0F)
    w = artwork("bar2").size[0]
    for k in (0, 50, 99):
        expect_picture(problems, image, "bar2", 62 + k * w, 629)
    w1, w0 = artwork("digit1").size[0], artwork("digit0").size[0]
    expect_picture(problems, image, "digit1", 919, 607)
    expect_picture(problems, image, "digit0", 920 + w1, 607)
    expect_picture(problems, image, "digit0", 921 + w1 + w0, 607)
    expect_picture(problems, image, "percent", 952, 607)
    return problems


# The scripts whose run the host repeats on the fake platform, screen by screen
# (the run's parameters: test/ui/run_session_test.cpp).
HOST_SESSIONS = {"ui.scroll"}

SCRIPTS = {
    # examples/ui_caller/caller.c: volume 1 holds BIOS1.ROM and BIOS2.ROM.
    "ui.caller": [
        ("key", "down"), ("key", "ret"), ("key", "down"), ("key", "ret"),
        ("shot", "caller.confirm"),
        ("key", "ret"),
        ("shot", "caller.done"),
        ("key", "spc"),
    ],
    # examples/gnu_efi_caller in the board image: Esc and back, then BIOS2.ROM
    # of volume 1, confirmed; the write runs on the tool's own event.
    "board.gnu-efi": [
        ("until", "choose a BIOS file", 20),
        ("key", "esc"),
        ("shot", "gnuefi.quit"),
        ("key", "spc"),
        ("shot", "gnuefi.back"),
        ("key", "down"), ("key", "ret"), ("key", "down"), ("key", "ret"),
        ("shot", "gnuefi.confirm"),
        ("key", "ret"),
        ("until", "Press any key.", 30),
        ("shot", "gnuefi.done"),
        ("key", "spc"),
    ],
    "ui.scroll": [
        ("idle", 1.5, "ui.idle-run-writes-nothing"),
        ("key", "down"), ("key", "down"), ("key", "ret"),
        ("shot", "scroll.top"),
        ("note-idle", 1.0, "idle file list with its 0xFD highlight"),
        ("measure", "down", "ui.one-down-key", 400),
        ("key", "down"), ("key", "down"), ("key", "down"), ("key", "down"), ("key", "down"),
        ("measure", "down", "ui.scrolling-down-key", 1500),
        ("shot", "scroll.middle"),
        ("key", "down"),
        ("shot", "scroll.bottom"),
        ("key", "down"),
        ("shot", "scroll.bottom-again"),
        ("key", "ret"), ("key", "down"),  # chosen without a key hook: any key pops back
        ("shot", "scroll.popped-back"),
        ("key", "tab"),
        ("shot", "scroll.tab-back"),
        ("key", "up"), ("key", "up"), ("key", "ret"),
        ("shot", "scroll.no-bios-files"),
        ("key", "down"),
        ("shot", "scroll.box-gone"),
        ("key", "esc"), ("key", "esc"),
    ],
}

SHOT_CHECKS = {
    "caller.confirm": check_caller_confirm,
    "caller.done": check_caller_done,
    "gnuefi.quit": check_gnuefi_quit,
    "gnuefi.back": check_gnuefi_back,
    "gnuefi.confirm": check_gnuefi_confirm,
    "gnuefi.done": check_gnuefi_done,
    "scroll.top": check_scroll_top,
    "scroll.middle": check_scroll_middle,
    "scroll.bottom": check_scroll_bottom,
    "scroll.bottom-again": check_scroll_bottom,
    "scroll.popped-back": check_scroll_bottom,
    "scroll.tab-back": check_scroll_tab_back,
    "scroll.no-bios-files": check_scroll_no_bios_files,
    "scroll.box-gone": check_scroll_box_gone,
    "screen.grid": check_screen_grid,
    "ui.first-screen": check_ui_first_screen,
    "ui.volume-chosen": check_ui_volume_chosen,
    "ui.file-list": check_ui_file_list,
    "ui.file-down": check_ui_file_down,
    "ui.file-chosen": check_ui_file_chosen,
    "ui.follow-up": check_ui_follow_up,
    "ui.no-graphics-console": check_ui_no_graphics_console,
}


def extra_files(build):
    """Further files for the boot disk: {path on disk: host path or bytes}."""
    global BUILD
    BUILD = build
    files = {}
    pictures = os.path.join(build, "fv", "pictures.fv")
    if os.path.exists(pictures):
        files["bed/pictures.fv"] = pictures
    records = os.path.join(build, "board", "records.bin")
    if os.path.exists(records):
        files["board/records.bin"] = records
    return files


def _content(size, seed):
    return bytes((seed + i * 7) & 0xFF for i in range(size))


# BIOSA: two BIOS-sized files among files of other sizes and a folder whose
# file has a BIOS size; BIOSB: nine BIOS files, more than the list shows.
BIOSA_FILES = [("BIOSA.TAG", 16), ("BIOS1.ROM", 0x10000), ("NOTES.TXT", 1000), ("BIOS2.ROM", 0x20000),
               ("ODD.BIN", 0x10001), ("EMPTY.BIN", 0), ("SUBDIR/INNER.ROM", 0x10000)]
BIOSA_LISTED = ["BIOS1.ROM", "BIOS2.ROM"]
BIOSB_FILES = [("BIOS_%02d.ROM" % i, 0x10000 * (1 + i % 3)) for i in range(1, 10)]


def session_volumes():
    """The volumes of a boot as the host's differential run builds them, in
    the firmware's order: the boot disk (folders only in its root), then the
    extra volumes, folders first as make_disk creates them."""
    lines = ["volume", "dir EFI", "dir bed"]
    for label, files in extra_volumes():
        lines.append("volume")
        folders = sorted({name.split("/")[0] for name in files if "/" in name})
        lines += ["dir " + d for d in folders]
        lines += ["file %s %d" % (name, len(content)) for name, content in files.items() if "/" not in name]
    return "\n".join(lines) + "\n"


def extra_volumes():
    """Further FAT volumes: [(label, {path: host path or bytes})]."""
    return [("BIOSA", {name: _content(size, i) for i, (name, size) in enumerate(BIOSA_FILES)}),
            ("BIOSB", {name: _content(size, i) for i, (name, size) in enumerate(BIOSB_FILES)})]
