"""A 5 x 7 bitmap font of the ten digits, for frame numbers on pictures."""

WIDTH, HEIGHT = 5, 7

GLYPHS = {
    "0": (" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "),
    "1": ("  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "),
    "2": (" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"),
    "3": ("#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "),
    "4": ("   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "),
    "5": ("#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "),
    "6": ("  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "),
    "7": ("#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "),
    "8": (" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "),
    "9": (" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "),
}


def text_width(text, scale):
    """Width in pixels of `text` drawn at `scale`, one blank column between digits."""
    return (len(text) * (WIDTH + 1) - 1) * scale if text else 0


def lit_pixels(text, scale):
    """(x, y) of every lit pixel of `text` drawn at `scale`, top row first."""
    for index, character in enumerate(text):
        left = index * (WIDTH + 1) * scale
        for row, line in enumerate(GLYPHS[character]):
            for column, mark in enumerate(line):
                if mark == "#":
                    for dy in range(scale):
                        for dx in range(scale):
                            yield left + column * scale + dx, row * scale + dy
