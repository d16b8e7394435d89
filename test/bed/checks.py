"""Host-side checks of the screens the test application asks the runner to
capture: each takes the text grid (screen.Grid) and the screenshot (a PIL RGB
image) and returns a list of problems (empty when the screen is right)."""

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


def check_screen_grid(grid, image):
    problems = []
    expect_text(problems, grid, 10, 3, "TEST BED GRID", 0x1F)
    expect_text(problems, grid, 20, 5, "\u2500" * 5, 0x0C)
    expect_text(problems, grid, 0, 0, "@", 0x4F)
    expect_text(problems, grid, 40, 12, " green ", 0x2F)
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


SHOT_CHECKS = {
    "screen.grid": check_screen_grid,
}


def extra_files(build):
    """Further files for the boot disk: {path on disk: host path or bytes}."""
    return {}


def extra_volumes():
    """Further FAT volumes: [(label, {path: host path or bytes})]."""
    return []
