#!/usr/bin/env python3
"""Draws a bench/compare log as an SVG bar chart: for each conversion, the
CPU time of Velmora, of each peer and, where the work is a library's, of that
library alone on the same pixels (the floor), with Velmora's ratio to the
best peer and to the floor. Usage: chart.py LOG SVG"""
import re
import sys
from collections import OrderedDict
from html import escape

ROW_TITLES = {
    "floor": "JPEG decode floor (djpeg)",
    "bmp": "→ BMP 24-bit",
    "png": "→ PNG level 5",
    "jpg": "→ JPEG q50",
    "tif": "→ TIFF LZW",
    "pdf": "→ PDF Flate",
    "half": "→ ½ size → PNG",
    "gif": "→ GIF 256 colours",
    "bmp256": "→ 256-colour BMP",
    "big-bmp": "8000×6000 → BMP",
    "webp": "→ WebP q75",
    "avif": "→ AVIF q75",
    "jxl": "→ JPEG XL q75",
}
LOSSY_ROWS = {"jpg", "webp", "avif", "jxl"}
COLOURS = {"velmora": "#2f6db5", "imagemagick": "#c0504d", "graphicsmagick": "#9bbb59",
           "vips": "#8064a2", "djpeg": "#888888", "floor": "#888888", "library floor": "#555555"}
FLOOR = re.compile(r"library floor (\w+): whole conversion ([\d.]+) ms, .* ([\d.]+) ms, ratio")


def main(log_path, svg_path):
    header, rows = [], OrderedDict()
    for line in open(log_path, encoding="utf-8"):
        if line.startswith("#"):
            header.append(line[1:].strip())
            continue
        parts = line.split()
        if len(parts) not in (5, 6):
            continue
        row, tool, per_picture, cpu, peak = parts[:5]
        count_cpu = float(cpu)
        # The output's size matters where the codec is lossy: it is shown there.
        size = int(parts[5]) if len(parts) == 6 and row in LOSSY_ROWS else None
        rows.setdefault(row, []).append((tool, float(per_picture), count_cpu, float(peak), size))
    rows = OrderedDict((k, v) for k, v in rows.items() if not k.startswith("jobs-"))
    # The libraries' own work per picture (Google Benchmark, in memory), as
    # CPU seconds for the corpus, and Velmora's in-memory ratio to it.
    corpus = next((int(m.group(1)) for h in header for m in [re.search(r"corpus: (\d+) x", h)] if m), 1)
    floor_ratio = {}
    for h in header:
        m = FLOOR.search(h)
        if m and m.group(1) in rows:
            whole, floor = float(m.group(2)), float(m.group(3))
            rows[m.group(1)].append(("library floor", floor / 1000, floor * corpus / 1000, 0.0, None))
            floor_ratio[m.group(1)] = whole / floor
    bar_h, gap, left, width = 16, 14, 190, 520
    scale_max = max(c for bars in rows.values() for (_, _, c, _, _) in bars) or 1.0
    height = 70 + sum(len(b) * bar_h + gap + 18 for b in rows.values()) + 20
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{left + width + 170}" height="{height}" '
           'font-family="DejaVu Sans, sans-serif" font-size="12">',
           '<rect width="100%" height="100%" fill="white"/>',
           f'<text x="10" y="20" font-size="15" font-weight="bold">{escape(header[0] if header else "")}</text>',
           f'<text x="10" y="38" fill="#555">{escape(header[1] if len(header) > 1 else "")}</text>',
           '<text x="10" y="54" fill="#555">CPU seconds for the whole corpus (shorter is better); '
           'Velmora\'s ratio to the best peer at its right, to the libraries alone at the floor\'s</text>']
    y = 72
    for row, bars in rows.items():
        out.append(f'<text x="10" y="{y + 12}" font-weight="bold">{escape(ROW_TITLES.get(row, row))}</text>')
        y += 18
        peers = [c for (t, _, c, _, _) in bars if t not in ("velmora", "floor", "djpeg", "library floor")]
        best = min(peers) if peers else None
        for tool, per_picture, cpu, peak, size in bars:
            w = max(1.0, width * cpu / scale_max)
            colour = COLOURS.get(tool, "#aaaaaa")
            out.append(f'<text x="{left - 8}" y="{y + 12}" text-anchor="end">{escape(tool)}</text>')
            out.append(f'<rect x="{left}" y="{y}" width="{w:.1f}" height="{bar_h - 3}" fill="{colour}"/>')
            label = f"{cpu:.2f} s, {peak:.0f} MB" if tool != "library floor" else f"{cpu:.2f} s"
            if size is not None:
                label += f", {size} KiB out"
            if tool == "velmora" and best:
                label += f"  ({cpu / best:.2f}×)"
            if tool == "library floor":
                label += f"  (Velmora in memory: {floor_ratio[row]:.2f}× this)"
            out.append(f'<text x="{left + w + 6:.1f}" y="{y + 11}">{escape(label)}</text>')
            y += bar_h
        y += gap
    out.append("</svg>")
    with open(svg_path, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
