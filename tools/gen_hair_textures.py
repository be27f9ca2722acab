#!/usr/bin/python3
"""Generates the default hair texture maps under assets/textures/defaultHairTex/.

Procedural and deterministic (fixed seed, fixed zlib level): run
    /usr/bin/python3 tools/gen_hair_textures.py
from the repository root and commit what it writes. Needs numpy only.

The atlas holds four strand cards side by side, each a column running the
full height of the image: dense, middle, sparse and a spare (a few loose,
wispy strands). Texture v runs from the root (v0, bottom of the card) to the
tip (v1, top); u runs across the ribbon. In the PNG files row 0 is the top of
the image, i.e. v = 1, because the loader flips images for OpenGL.

Maps (all 8-bit RGB, grey values in every channel unless noted):
  alpha      strand coverage; the hair program cuts at 0.55, so strands are
             built to cross 0.55 with a soft edge that filters well
  albedo     near-white colour variation, tinted by the stroke colour
  normal     tangent-space normal (x across the card, y root to tip), round
             strands that bulge towards the viewer
  ao         self-occlusion: darker near the root and inside dense cards
  brightness per-strand brightness with slow variation along the strand
  random     one random value per strand, constant along it
Outside the strands the attribute maps take the values of the nearest strand,
so that filtering at the cut edge does not pull in background values.
"""

import os
import struct
import zlib

import numpy as np

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
OUT_DIR = os.path.join(ROOT, "assets", "textures", "defaultHairTex")

SIZE = 1024          # square atlas
CARDS = 4            # columns
SEED = 20240611
CUTOFF = 0.55
# Texels left free at every card border so that bilinear filtering never
# reaches into the neighbour card.
MARGIN = 4

# name, strand count, root half-width (texels), tip half-width, shortest
# strand (fraction of the card length), wave amplitude (texels)
CARD_KINDS = [
    ("dense", 40, 5.0, 2.0, 0.80, 2.0),
    ("middle", 20, 4.5, 1.8, 0.72, 3.0),
    ("sparse", 9, 4.0, 1.6, 0.62, 3.5),
    ("spare", 6, 3.0, 1.3, 0.55, 6.0),
]


def write_png(path, rgb):
    """Writes an 8-bit RGB image (rows top to bottom) as a PNG with the Up filter."""
    height, width, channels = rgb.shape
    assert channels == 3 and rgb.dtype == np.uint8
    up = rgb.astype(np.int16)
    up[1:] -= rgb[:-1].astype(np.int16)
    filtered = (up & 0xFF).astype(np.uint8).reshape(height, width * 3)
    raw = np.concatenate([np.full((height, 1), 2, np.uint8), filtered], axis=1).tobytes()

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def smooth_noise(rng, n, knots):
    """A smooth random curve of n samples in [-1, 1] (cosine-interpolated knots)."""
    values = rng.uniform(-1.0, 1.0, knots + 1)
    x = np.linspace(0.0, knots, n)
    k = np.minimum(x.astype(int), knots - 1)
    f = x - k
    f = 0.5 - 0.5 * np.cos(np.pi * f)
    return values[k] * (1.0 - f) + values[k + 1] * f


def build_card(rng, width, height, kind):
    """Maps of one card as float arrays of shape (height, width), row 0 = root."""
    _, count, root_hw, tip_hw, shortest, wave = kind
    s = np.arange(height, dtype=np.float64)[:, None] / (height - 1)   # 0 root .. 1 tip
    x = np.arange(width, dtype=np.float64)[None, :] + 0.5

    alpha = np.zeros((height, width))
    nearest = np.full((height, width), np.inf)     # normalised distance to the closest strand
    across = np.zeros((height, width))             # signed position across that strand, -1..1
    owner = np.zeros((height, width), dtype=int)

    usable = width - 2 * MARGIN
    # Evenly spread strands with jitter, so that cards read as distinct strands.
    slots = (np.arange(count) + 0.5) / count
    jitter = rng.uniform(-0.35, 0.35, count) / count
    centres = MARGIN + usable * np.clip(slots + jitter, 0.02, 0.98)
    lengths = rng.uniform(shortest, 1.0, count)
    starts = rng.uniform(0.0, 0.04, count)
    randoms = rng.uniform(0.0, 1.0, count)
    tones = rng.uniform(0.82, 1.0, count)
    shines = rng.uniform(0.65, 1.0, count)

    for i in range(count):
        sway = smooth_noise(rng, height, 5)[:, None] * wave
        drift = rng.uniform(-0.5, 0.5) * wave * s          # strands lean a little
        cx = centres[i] + sway + drift
        # Keep every strand inside its card whatever the sway.
        edge = root_hw + 1.0
        cx = np.clip(cx, MARGIN + edge, width - MARGIN - edge)
        t = np.clip((s - starts[i]) / max(lengths[i] - starts[i], 1e-3), 0.0, 1.0)
        half = root_hw * (1.0 - t) + tip_hw * t
        d = (x - cx) / half
        # Soft round profile: 1 in the middle, 0.55 at about 0.6 of the half width.
        profile = np.clip(1.0 - d * d, 0.0, 1.0) ** 0.9
        # The strand fades out over the last tenth of its length, so tips taper in the cut.
        along = np.clip((lengths[i] - s) / 0.1, 0.0, 1.0) * np.clip((s - starts[i]) / 0.01 + 1.0, 0.0, 1.0)
        a = profile * along
        alpha = np.maximum(alpha, a)
        dist = np.abs(d) / np.maximum(along, 0.05)
        closer = dist < nearest
        nearest = np.where(closer, dist, nearest)
        across = np.where(closer, np.clip(d, -1.0, 1.0), across)
        owner = np.where(closer, i, owner)

    # Round strands: the normal tilts across the card with the position in the strand.
    nx = across * 0.8
    nz = np.sqrt(np.clip(1.0 - nx * nx, 0.0, 1.0))
    # Slow twist along the strand for a little lengthwise relief.
    ny = 0.08 * np.sin(s * np.pi * 9.0 + owner * 1.7)
    norm = np.sqrt(nx * nx + ny * ny + nz * nz)
    normal = np.stack([nx / norm, ny / norm, nz / norm], axis=-1)

    density = min(count / 40.0, 1.0)
    root_shadow = 1.0 - 0.45 * density * np.exp(-s / 0.18)
    centre_shadow = 1.0 - 0.25 * density * np.exp(-((x - width / 2) / (0.35 * width)) ** 2) * (1.0 - s)
    edge_shadow = 1.0 - 0.25 * np.clip(np.abs(across), 0.0, 1.0) ** 2
    ao = np.clip(root_shadow * centre_shadow * edge_shadow, 0.0, 1.0)

    streak = 0.5 + 0.5 * smooth_noise(rng, height, 3)[:, None]
    albedo_v = tones[owner] * (0.93 + 0.07 * streak) * (0.9 + 0.1 * s)
    albedo = np.stack([albedo_v, albedo_v * 0.985, albedo_v * 0.96], axis=-1)

    brightness = shines[owner] * (0.85 + 0.15 * np.cos(s * np.pi * (2.0 + owner % 3)))
    random = randoms[owner]
    return alpha, albedo, normal, ao, brightness, random


def to_bytes(v):
    return np.clip(np.rint(v * 255.0), 0, 255).astype(np.uint8)


def grey(v):
    b = to_bytes(v)
    return np.stack([b, b, b], axis=-1)


def main():
    rng = np.random.default_rng(SEED)
    card_w = SIZE // CARDS
    maps = {
        "alpha": np.zeros((SIZE, SIZE)),
        "albedo": np.zeros((SIZE, SIZE, 3)),
        "normal": np.zeros((SIZE, SIZE, 3)),
        "ao": np.ones((SIZE, SIZE)),
        "brightness": np.ones((SIZE, SIZE)),
        "random": np.full((SIZE, SIZE), 0.5),
    }
    maps["normal"][..., 2] = 1.0
    coords = []
    for c, kind in enumerate(CARD_KINDS):
        alpha, albedo, normal, ao, brightness, random = build_card(rng, card_w, SIZE, kind)
        cols = slice(c * card_w, (c + 1) * card_w)
        # Cards are built root first; the image's top row is the tip (v = 1).
        maps["alpha"][:, cols] = alpha[::-1]
        maps["albedo"][:, cols] = albedo[::-1]
        maps["normal"][:, cols] = normal[::-1]
        maps["ao"][:, cols] = ao[::-1]
        maps["brightness"][:, cols] = brightness[::-1]
        maps["random"][:, cols] = random[::-1]
        u0 = (c * card_w + MARGIN) / SIZE
        u1 = ((c + 1) * card_w - MARGIN) / SIZE
        v0 = 0.5 / SIZE
        v1 = 1.0 - 0.5 / SIZE
        coords.append((kind[0], u0, u1, v0, v1))

    os.makedirs(OUT_DIR, exist_ok=True)
    files = {
        "alpha": ("alpha.png", grey(maps["alpha"])),
        "albedo": ("albedo.png", to_bytes(maps["albedo"])),
        "normal": ("normal.png", to_bytes(maps["normal"] * 0.5 + 0.5)),
        "ao": ("ao.png", grey(maps["ao"])),
        "brightness": ("brightness.png", grey(maps["brightness"])),
        "random": ("random.png", grey(maps["random"])),
    }
    for name, (file_name, image) in files.items():
        write_png(os.path.join(OUT_DIR, file_name), image)

    lines = ["# Hair texture atlas: dense, middle, sparse and spare strand cards.",
             "# v runs from the root (v0) to the tip (v1). Written by tools/gen_hair_textures.py."]
    for name, u0, u1, v0, v1 in coords:
        lines.append("default_coords {  # %s" % name)
        lines.append("  u0: %.6g" % u0)
        lines.append("  u1: %.6g" % u1)
        lines.append("  v0: %.6g" % v0)
        lines.append("  v1: %.6g" % v1)
        lines.append("}")
    for field, name in (("alpha_map", "alpha"), ("albedo_map", "albedo"), ("normal_map", "normal"),
                        ("ao_map", "ao"), ("brightness_map", "brightness"), ("random_map", "random")):
        lines.append('%s: "%s"' % (field, files[name][0]))
    with open(os.path.join(OUT_DIR, "texturemap.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")

    # Coverage check: each card must show strands at the cutoff.
    for c, (name, *_rest) in enumerate(coords):
        cols = slice(c * card_w, (c + 1) * card_w)
        covered = (maps["alpha"][:, cols] >= CUTOFF).mean()
        print("%-7s coverage at cutoff %.2f: %.1f%%" % (name, CUTOFF, 100.0 * covered))


if __name__ == "__main__":
    main()
