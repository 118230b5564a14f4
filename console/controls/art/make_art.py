# Writes the XPM artwork of the console controls from the ASCII drawings below: python3 make_art.py
import math
def xpm(name, w, h, rows, palette):
    chars = sorted(palette)
    out = ['/* XPM */', 'static const char *%s[] = {' % name, '"%d %d %d 1",' % (w, h, len(chars))]
    for c in chars:
        out.append('"%s c %s",' % (c, palette[c]))
    for i, r in enumerate(rows):
        assert len(r) == w, (name, i, len(r), w)
        out.append('"%s"%s' % (r, ',' if i + 1 < len(rows) else ''))
    out.append('};')
    return '\n'.join(out) + '\n'

std = {'.': '#C0C0C0', '#': '#000000', 'g': '#808080', 'w': '#FFFFFF'}

cap = [
 # 0 up        1 down      2 right     3 left      4 close
 ["...#...", ".......", ".#.....", ".....#.", "##...##"],
 ["..###..", "#######", ".##....", "....##.", ".##.##."],
 [".#####.", ".#####.", ".###...", "...###.", "..###.."],
 ["#######", "..###..", ".####..", "..####.", "...#..."],
 [".......", "...#...", ".###...", "...###.", "..###.."],
 [".......", ".......", ".##....", "....##.", ".##.##."],
 [".......", ".......", ".#.....", ".....#.", "##...##"],
]
rows = [''.join(r) for r in cap]
open('caption_buttons.xpm', 'w').write(xpm('caption_buttons', 35, 7, rows, std))

tb = {
 'new': [
  "................",
  "..#########.....",
  "..#wwwwwww##....",
  "..#wwwwwww#w#...",
  "..#wwwwwww####..",
  "..#wwwwwwwwww#..",
  "..#wwggggggww#..",
  "..#wwwwwwwwww#..",
  "..#wwggggggww#..",
  "..#wwwwwwwwww#..",
  "..#wwggggggww#..",
  "..#wwwwwwwwww#..",
  "..#wwwwwwwwww#..",
  "..############..",
  "................"],
 'open': [
  "................",
  "................",
  "................",
  ".#####..........",
  "#yyyyy#.........",
  "#yyyyyy#######..",
  "#yyyyyyyyyyyy#..",
  "#yyy############",
  "#yy#gggggggggg#.",
  "#y#gggggggggg#..",
  "##gggggggggg#...",
  "#gggggggggg#....",
  "###########.....",
  "................",
  "................"],
 'save': [
  "................",
  ".##############.",
  ".#bb#wwwwww#bb#.",
  ".#bb#wwwwww#bb#.",
  ".#bb#wwwwww#bb#.",
  ".#bb#wwwwww#bb#.",
  ".#bbb######bbb#.",
  ".#bbbbbbbbbbbb#.",
  ".#bb########bb#.",
  ".#bb#gg#www#bb#.",
  ".#bb#gg#www#bb#.",
  ".#bb#gg#www#bb#.",
  "..#############.",
  "................",
  "................"],
 'refresh': [
  "................",
  "......####......",
  "....##....##.#..",
  "...#........##..",
  "..#........###..",
  "..#.......####..",
  ".#..............",
  ".#............#.",
  "..............#.",
  "..####.......#..",
  "..###........#..",
  "..##........#...",
  "..#.##....##....",
  "......####......",
  "................"],
 'disk': [
  "................",
  "....########....",
  "..##rrrrrrrr##..",
  ".#rrrrrrrrrrrr#.",
  ".#rrrrrrrrrrrr#.",
  ".##rrrrrrrrrr##.",
  ".#w##########w#.",
  ".#wwwwwwwwwwww#.",
  ".#wwwwwwwwwwww#.",
  ".#wwwwwwwwwwww#.",
  ".#wwwwwwwwwgww#.",
  ".##wwwwwwwwww##.",
  "..##wwwwwwww##..",
  "....########....",
  "................"],
 'help': [
  "................",
  ".....######.....",
  "....##bbbb##....",
  "...##bb..bb##...",
  "...##b....bb#...",
  "..........bb#...",
  ".........bb##...",
  "........bb##....",
  ".......bb##.....",
  ".......bb#......",
  ".......###......",
  "................",
  ".......bb#......",
  ".......bb#......",
  ".......###......"],
}
order = ['new', 'open', 'save', 'refresh', 'disk', 'help']
pal = dict(std); pal.update({'y': '#FFFF00', 'b': '#000080', 'r': '#800000'})
rows = [''.join(tb[n][y] for n in order) for y in range(15)]
open('sample_toolbar.xpm', 'w').write(xpm('sample_toolbar', 16 * len(order), 15, rows, pal))

# Animation: 8 frames of 32x32, a disk with a spinning arm; the magenta corner colour is the mask.
frames = 8
W = 32
rows = []
for y in range(W):
    line = ''
    for f in range(frames):
        ang = 2 * math.pi * f / frames
        for x in range(W):
            dx, dy = x - 15.5, y - 15.5
            r = math.hypot(dx, dy)
            if r > 14.5:
                c = 'm'
            elif r > 13:
                c = '#'
            else:
                a = math.atan2(dy, dx)
                d = (a - ang) % (2 * math.pi)
                c = 'r' if d < math.pi / 4 and r > 3 else ('g' if r < 3 else 'w')
            line += c
    rows.append(line)
apal = {'m': '#FF00FF', '#': '#000000', 'w': '#FFFFFF', 'g': '#808080', 'r': '#C00000'}
open('spinner.xpm', 'w').write(xpm('spinner', W * frames, W, rows, apal))
