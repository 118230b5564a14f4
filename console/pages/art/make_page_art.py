# Writes the XPM pictures of the console's enclosure pages, drawn by the shapes below:
# python3 make_page_art.py
import math


def xpm(name, w, h, px, palette):
    chars = sorted(palette)
    out = ['/* XPM */', 'static const char *%s[] = {' % name, '"%d %d %d 1",' % (w, h, len(chars))]
    for c in chars:
        out.append('"%s c %s",' % (c, palette[c]))
    for y in range(h):
        row = ''.join(px[y][x] for x in range(w))
        out.append('"%s"%s' % (row, ',' if y + 1 < h else ''))
    out.append('};')
    return '\n'.join(out) + '\n'


def canvas(w, h, c='w'):
    return [[c] * w for _ in range(h)]


def rect(px, x0, y0, x1, y1, c):
    for y in range(y0, y1):
        for x in range(x0, x1):
            px[y][x] = c


def frame(px, x0, y0, x1, y1, c):
    for x in range(x0, x1):
        px[y0][x] = px[y1 - 1][x] = c
    for y in range(y0, y1):
        px[y][x0] = px[y][x1 - 1] = c


def disc(px, cx, cy, r, c):
    for y in range(len(px)):
        for x in range(len(px[0])):
            if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                px[y][x] = c


# Bitmap 161: six frames of a fan turning, 32 x 32 each, white (the mask) around.
fan_palette = {'w': '#FFFFFF', '#': '#202020', 'b': '#3060A0', 'l': '#80A8D8', 'g': '#909090'}
fan = canvas(32 * 6, 32)
for f in range(6):
    ox = 32 * f
    frame(fan, ox + 1, 1, ox + 31, 31, 'g')
    for blade in range(3):
        a0 = math.radians(f * 20 + blade * 120)
        for r in range(3, 13):
            for da in range(-14, 15):
                a = a0 + math.radians(da) * (1 - r / 20)
                x = int(round(ox + 16 + r * math.cos(a)))
                y = int(round(16 + r * math.sin(a)))
                fan[y][x] = 'b' if abs(da) < 10 else 'l'
    for y in range(32):
        for x in range(32):
            if (x - 16) ** 2 + (y - 16) ** 2 <= 9:
                fan[y][ox + x] = '#'
open('fan_161.xpm', 'w').write(xpm('fan_161', 32 * 6, 32, fan, fan_palette))


# Bitmaps 189 (normal), 191 (warm), 190 (hot) and 193 (error): a thermometer, 32 x 32.
def thermometer(name, level, fill, mark):
    pal = {'w': '#FFFFFF', '#': '#303030', 'f': fill, 'e': '#E8E8E8', 'x': '#D00000'}
    px = canvas(32, 32)
    rect(px, 13, 3, 19, 24, 'e')
    frame(px, 12, 2, 20, 25, '#')
    disc(px, 16, 26, 5, '#')
    disc(px, 16, 26, 4, 'f')
    rect(px, 14, 24 - level, 18, 25, 'f')
    for y in range(5, 23, 4):
        px[y][21] = px[y][22] = '#'
    if mark:
        for i in range(8):
            px[4 + i][23 + i // 2] = 'x'
            px[4 + i][30 - i // 2] = 'x'
            px[4 + i][24 + i // 2] = 'x'
            px[4 + i][29 - i // 2] = 'x'
    open(name + '.xpm', 'w').write(xpm(name, 32, 32, px, pal))


thermometer('temp_189', 8, '#20A020', False)
thermometer('temp_191', 14, '#E0A000', False)
thermometer('temp_190', 20, '#E02020', False)
thermometer('temp_193', 0, '#A0A0A0', True)


# The enclosure pictures: a disk enclosure seen from the front (two kinds), 96 x 64.
def enclosure(name, bays, colour):
    pal = {'w': '#FFFFFF', '#': '#202020', 'c': colour, 'd': '#606060', 'l': '#30C030', 'k': '#A0A0A0'}
    px = canvas(96, 64)
    rect(px, 4, 6, 92, 58, 'c')
    frame(px, 4, 6, 92, 58, '#')
    # The bays sit inside the case's frame (rows 7 to 56) with a margin of 4 above and below.
    h = (42 - 2 * (bays - 1)) // bays
    top = 7 + (50 - (bays * h + 2 * (bays - 1))) // 2
    for i in range(bays):
        y = top + i * (h + 2)
        rect(px, 10, y, 86, y + h, 'k')
        frame(px, 10, y, 86, y + h, 'd')
        rect(px, 78, y + h // 2 - 1, 82, y + h // 2 + 1, 'l')
    open(name + '.xpm', 'w').write(xpm(name, 96, 64, px, pal))


enclosure('enclosure_320', 4, '#B8B8C8')
enclosure('enclosure_321', 2, '#C8B8A8')
