#!/usr/bin/python3
"""Generates the default head assets under assets/models/.

Everything is procedural and deterministic (fixed seeds, fixed zlib level): run
    /usr/bin/python3 tools/gen_head.py
from the repository root and commit what it writes. Needs numpy only.

Frame: metres, +y up, the face looking along +z, symmetric about x = 0.
The head is an implicit field f (negative inside) built from smooth blends of
ellipsoids and a few segments; the render mesh samples it along rays from a
centre inside the head (the field is star-shaped about that centre), so the
surface is a single sheet on a latitude/longitude grid with the seam at the back.
Ears are separate closed pieces in the same mesh.
"""

import math
import os
import struct
import sys
import zlib

import numpy as np

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
HEAD_DIR = os.path.join(ROOT, "assets", "models", "defaultHead")
GEO_DIR = os.path.join(ROOT, "assets", "models", "geos")

# Ray centre: inside the head, above the chin so that the neck and the
# underside of the jaw are both seen from it.
CENTRE = np.array([0.0, -0.012, 0.0])

# Grid of the radial surface: longitudes round the vertical axis and latitude
# rings between the crown pole and the pole under the neck.
N_LON = 180
N_LAT = 146

TEX_SIZE = 1024


# --------------------------------------------------------------------------
# Implicit field


def ellipsoid(p, c, r):
    """Approximate signed distance to an axis-aligned ellipsoid (good near the surface)."""
    q = (p - np.asarray(c)) / np.asarray(r)
    k0 = np.linalg.norm(q, axis=-1)
    k1 = np.linalg.norm(q / np.asarray(r), axis=-1)
    return k0 * (k0 - 1.0) / np.maximum(k1, 1e-12)


def cone_segment(p, a, b, ra, rb):
    """Distance to a segment a-b whose radius goes linearly from ra to rb."""
    a = np.asarray(a)
    ab = np.asarray(b) - a
    t = np.clip(((p - a) @ ab) / (ab @ ab), 0.0, 1.0)
    closest = a + t[..., None] * ab
    return np.linalg.norm(p - closest, axis=-1) - (ra + (rb - ra) * t)


def smin(a, b, k):
    h = np.clip(0.5 + 0.5 * (b - a) / k, 0.0, 1.0)
    return b + (a - b) * h - k * h * (1.0 - h)


def smax(a, b, k):
    return -smin(-a, -b, k)


def mirrored(fn, p):
    """Evaluates a feature defined on the +x side on both sides of the face."""
    q = p.copy()
    q[..., 0] = np.abs(q[..., 0])
    return fn(q)


def neck_field(p):
    y = p[..., 1]
    # The neck leans forward going up; its bottom is rounded so that the rays
    # from the centre never graze it.
    zc = -0.022 + 0.10 * (y + 0.06)
    q = np.stack([p[..., 0] / 0.052, (p[..., 2] - zc) / 0.056], axis=-1)
    side = (np.linalg.norm(q, axis=-1) - 1.0) * 0.054
    bottom = -0.215 - y
    top = y - 0.0
    return smax(smax(side, bottom, 0.03), top, 0.02)


def eye_socket(q):
    return ellipsoid(q, (0.031, 0.004, 0.094), (0.019, 0.012, 0.02))


def eyeball(q):
    return ellipsoid(q, (0.031, 0.002, 0.0685), (0.0125, 0.0125, 0.0125))


def upper_lid(q):
    return ellipsoid(q, (0.031, 0.0062, 0.0705), (0.0142, 0.0085, 0.0125))


def cheekbone(q):
    return ellipsoid(q, (0.04, -0.018, 0.056), (0.02, 0.016, 0.024))


def nose_wing(q):
    return ellipsoid(q, (0.0145, -0.041, 0.097), (0.0095, 0.008, 0.01))


def jaw_angle(q):
    return ellipsoid(q, (0.042, -0.07, -0.005), (0.016, 0.03, 0.035))


def head_field(p):
    """Signed field of the head without ears: negative inside, about metres near the surface."""
    f = ellipsoid(p, (0.0, 0.025, -0.015), (0.074, 0.092, 0.098))        # cranium
    f = smin(f, ellipsoid(p, (0.0, 0.045, -0.03), (0.076, 0.07, 0.085)), 0.02)   # parietal width
    f = smin(f, ellipsoid(p, (0.0, -0.035, 0.02), (0.063, 0.083, 0.07)), 0.02)   # face
    f = smin(f, ellipsoid(p, (0.0, -0.066, 0.006), (0.056, 0.043, 0.07)), 0.02)  # jaw
    f = smin(f, mirrored(jaw_angle, p), 0.03)
    f = smin(f, ellipsoid(p, (0.0, -0.106, 0.062), (0.022, 0.016, 0.014)), 0.02)  # chin
    f = smin(f, ellipsoid(p, (0.0, 0.02, 0.067), (0.058, 0.012, 0.021)), 0.02)    # brow
    f = smin(f, mirrored(cheekbone, p), 0.02)
    f = smin(f, ellipsoid(p, (0.0, -0.058, 0.072), (0.034, 0.028, 0.028)), 0.015)  # muzzle
    # Eye sockets carved under the brow, eyeballs set back into them.
    f = smax(f, -mirrored(eye_socket, p), 0.008)
    f = smin(f, mirrored(eyeball, p), 0.004)
    f = smin(f, mirrored(upper_lid, p), 0.003)
    # Nose: bridge, tip and wings. Nostrils are painted, not carved: a cavity
    # under the tip cannot be seen from the ray centre.
    f = smin(f, cone_segment(p, (0.0, 0.006, 0.087), (0.0, -0.034, 0.111), 0.0065, 0.0095), 0.01)
    f = smin(f, ellipsoid(p, (0.0, -0.038, 0.108), (0.011, 0.01, 0.011)), 0.006)
    f = smin(f, mirrored(nose_wing, p), 0.01)
    # Lips with the mouth line between them.
    f = smin(f, ellipsoid(p, (0.0, -0.0605, 0.091), (0.023, 0.007, 0.0115)), 0.006)
    f = smin(f, ellipsoid(p, (0.0, -0.073, 0.0875), (0.0205, 0.0075, 0.0115)), 0.006)
    f = smax(f, -ellipsoid(p, (0.0, -0.0668, 0.1), (0.025, 0.001, 0.012)), 0.002)
    f = smin(f, neck_field(p), 0.025)
    return f


def field_normal(p, eps=2e-4):
    """Outward unit normals of the field by central differences."""
    g = np.zeros_like(p)
    for a in range(3):
        d = np.zeros(3)
        d[a] = eps
        g[..., a] = head_field(p + d) - head_field(p - d)
    return g / np.maximum(np.linalg.norm(g, axis=-1, keepdims=True), 1e-12)


# --------------------------------------------------------------------------
# Radial surface


def ray_directions(theta, phi):
    """theta from +y (0 = crown) to -y (pi); phi round y, 0 looking along +z, +pi/2 along +x."""
    st = np.sin(theta)
    return np.stack([st * np.sin(phi), np.cos(theta), st * np.cos(phi)], axis=-1)


def radial_distance(dirs, r_max=0.32, steps=160, refine=24):
    """Distance from CENTRE to the outermost crossing of the surface along each ray."""
    shape = dirs.shape[:-1]
    d = dirs.reshape(-1, 3)
    out = np.empty(len(d))
    chunk = 8192
    ts = np.linspace(0.0, r_max, steps)
    for s in range(0, len(d), chunk):
        dc = d[s:s + chunk]
        pts = CENTRE + ts[None, :, None] * dc[:, None, :]
        inside = head_field(pts) < 0.0
        # Last inside sample along the ray; the next sample is outside.
        idx = steps - 1 - np.argmax(inside[:, ::-1], axis=1)
        lo = ts[idx]
        hi = ts[np.minimum(idx + 1, steps - 1)]
        for _ in range(refine):
            mid = 0.5 * (lo + hi)
            m_in = head_field(CENTRE + mid[:, None] * dc) < 0.0
            lo = np.where(m_in, mid, lo)
            hi = np.where(m_in, hi, mid)
        out[s:s + chunk] = 0.5 * (lo + hi)
    return out.reshape(shape)


def ring_angles(n_lat):
    """Latitudes of the rings, spaced evenly along the surface rather than in angle.

    Rays from one centre graze the neck, so equal angles would leave the neck
    with long slivers and the crown oversampled.
    """
    fine = np.linspace(0.0, np.pi, 1601)
    phis = np.concatenate([np.linspace(-np.pi, np.pi, 12, endpoint=False), np.linspace(-0.35, 0.35, 15)])
    T, P = np.meshgrid(fine, phis, indexing="ij")
    dirs = ray_directions(T, P)
    pts = CENTRE + radial_distance(dirs)[..., None] * dirs
    seg = np.linalg.norm(np.diff(pts, axis=0), axis=-1)
    # Half the mean and half the worst profile: steps over the nose wings get
    # rings of their own without starving the rest of the head.
    seg = 0.5 * (seg.mean(axis=1) + seg.max(axis=1))
    s = np.concatenate([[0.0], np.cumsum(seg)])
    return np.interp(np.linspace(0.0, s[-1], n_lat + 1), s, fine)[1:-1]


def column_angles(n_lon):
    """Longitudes, five times denser across the face than at the back.

    The sides of the nose lie almost along the rays, so they need close columns.
    """
    fine = np.linspace(-np.pi, np.pi, 4001)
    density = 1.0 + 4.0 * np.exp(-(fine / 0.3) ** 2)
    s = np.concatenate([[0.0], np.cumsum(0.5 * (density[1:] + density[:-1]))])
    return np.interp(np.arange(n_lon) * s[-1] / n_lon, s, fine)


def latlong_surface(n_lon, n_lat):
    """Vertices, normals, uvs and faces of the radial surface.

    Vertex 0 is the crown pole, the last vertex the pole under the neck; between
    them n_lat - 1 rings of n_lon vertices. Texture coordinates have one more
    column so that the seam at the back closes with u = 0 and u = 1.
    """
    theta = ring_angles(n_lat)
    phi = column_angles(n_lon)
    T, P = np.meshgrid(theta, phi, indexing="ij")
    dirs = np.concatenate([[[0.0, 1.0, 0.0]], ray_directions(T, P).reshape(-1, 3), [[0.0, -1.0, 0.0]]])
    r = radial_distance(dirs)
    verts = CENTRE + r[:, None] * dirs
    normals = field_normal(verts)

    # uv: u round the head (face in the middle), v up.
    uu = 0.5 + np.append(phi, np.pi) / (2.0 * np.pi)
    vv = 1.0 - theta / np.pi
    uvs = [(0.5, 1.0)]
    uvs += [(u, v) for v in vv for u in uu]
    uvs.append((0.5, 0.0))
    uvs = np.array(uvs)

    def vid(ring, col):
        return 1 + ring * n_lon + (col % n_lon)

    def tid(ring, col):
        return 1 + ring * (n_lon + 1) + col

    bottom_v = len(verts) - 1
    bottom_t = len(uvs) - 1
    faces = []  # (v0, t0, v1, t1, v2, t2), counter-clockwise seen from outside
    for c in range(n_lon):
        faces.append((0, 0, vid(0, c), tid(0, c), vid(0, c + 1), tid(0, c + 1)))
    for ring in range(n_lat - 2):
        for c in range(n_lon):
            a, at = vid(ring, c), tid(ring, c)
            b, bt = vid(ring, c + 1), tid(ring, c + 1)
            d, dt = vid(ring + 1, c), tid(ring + 1, c)
            e, et = vid(ring + 1, c + 1), tid(ring + 1, c + 1)
            faces.append((a, at, d, dt, e, et))
            faces.append((a, at, e, et, b, bt))
    last = n_lat - 2
    for c in range(n_lon):
        faces.append((bottom_v, bottom_t, vid(last, c + 1), tid(last, c + 1), vid(last, c), tid(last, c)))
    return verts, normals, uvs, np.array(faces, dtype=np.int64)


def direction_uv(p):
    """Texture coordinates of points by their direction from CENTRE (the head's own mapping)."""
    d = p - CENTRE
    d = d / np.linalg.norm(d, axis=-1, keepdims=True)
    u = 0.5 + np.arctan2(d[..., 0], d[..., 2]) / (2.0 * np.pi)
    v = 1.0 - np.arccos(np.clip(d[..., 1], -1.0, 1.0)) / np.pi
    return np.stack([u, v], axis=-1)


# --------------------------------------------------------------------------
# Ears: closed, cupped, flattened ellipsoids set into the sides of the head.

EAR_CENTRE = np.array([0.0, -0.01, -0.016])   # x found on the head surface
EAR_SIZE = np.array([0.019, 0.032, 0.007])   # half width (z), half height (y), half thickness


def rotation(axis, angle):
    axis = np.asarray(axis, dtype=float) / np.linalg.norm(axis)
    x, y, z = axis
    c, s = math.cos(angle), math.sin(angle)
    C = 1.0 - c
    return np.array([[c + x * x * C, x * y * C - z * s, x * z * C + y * s],
                     [y * x * C + z * s, c + y * y * C, y * z * C - x * s],
                     [z * x * C - y * s, z * y * C + x * s, c + z * z * C]])


def ear_piece(side, n_lon=40, n_lat=28):
    """One ear as a closed latitude/longitude shell; side is +1 (x > 0) or -1."""
    theta = np.pi * np.arange(1, n_lat) / n_lat
    phi = 2.0 * np.pi * np.arange(n_lon) / n_lon
    T, P = np.meshgrid(theta, phi, indexing="ij")
    # Unit sphere with its poles on the ear's thickness axis (local x).
    s = np.stack([np.cos(T), np.sin(T) * np.sin(P), np.sin(T) * np.cos(P)], axis=-1).reshape(-1, 3)
    s = np.concatenate([[[1.0, 0.0, 0.0]], s, [[-1.0, 0.0, 0.0]]])
    a = s[:, 1]                                    # -1 lobe .. +1 top of the helix
    width = 1.0 + 0.22 * a                         # broader at the top than at the lobe
    ear = np.stack([s[:, 0] * EAR_SIZE[2], a * EAR_SIZE[1], s[:, 2] * EAR_SIZE[0] * width], axis=-1)
    # Cup the ear: the rim stands out from the head more than the bowl; both
    # faces move together, so the shell keeps its thickness and stays closed.
    rho2 = a ** 2 + s[:, 2] ** 2
    ear[:, 0] += 0.008 * rho2 - 0.001
    # Lean the top back and let the back rim stand away from the head.
    R = rotation((1, 0, 0), -0.22) @ rotation((0, 1, 0), -0.25)
    ear = ear @ R.T
    # Seat it on the side of the head, sunk a little into it.
    y, z = EAR_CENTRE[1], EAR_CENTRE[2]
    ray = np.array([[1.0, y - CENTRE[1], z - CENTRE[2]]])
    ray /= np.linalg.norm(ray)
    hit = CENTRE + radial_distance(ray)[0] * ray[0]
    ear += np.array([hit[0] - 0.0015, y, z])
    ear[:, 0] *= side

    faces = []
    def vid(ring, col):
        return 1 + ring * n_lon + (col % n_lon)
    last_v = len(ear) - 1
    for c in range(n_lon):
        faces.append((0, vid(0, c), vid(0, c + 1)))
    for ring in range(n_lat - 2):
        for c in range(n_lon):
            faces.append((vid(ring, c), vid(ring + 1, c), vid(ring + 1, c + 1)))
            faces.append((vid(ring, c), vid(ring + 1, c + 1), vid(ring, c + 1)))
    for c in range(n_lon):
        faces.append((last_v, vid(n_lat - 2, c + 1), vid(n_lat - 2, c)))
    faces = np.array(faces, dtype=np.int64)
    if signed_volume(ear, faces) < 0.0:            # the mirrored ear turns inside out
        faces = faces[:, ::-1]
    return ear, faces


def signed_volume(v, f):
    return np.einsum("ij,ij->i", v[f[:, 0]], np.cross(v[f[:, 1]], v[f[:, 2]])).sum() / 6.0


def vertex_normals(v, f):
    fn = np.cross(v[f[:, 1]] - v[f[:, 0]], v[f[:, 2]] - v[f[:, 0]])
    n = np.zeros_like(v)
    for k in range(3):
        np.add.at(n, f[:, k], fn)
    return n / np.maximum(np.linalg.norm(n, axis=1, keepdims=True), 1e-20)


# --------------------------------------------------------------------------
# Meshes


def build_head_mesh():
    """The render mesh: radial surface plus both ears, one mesh with v, vt, vn."""
    verts, normals, uvs, faces = latlong_surface(N_LON, N_LAT)
    # Per corner: vertex index (also the normal index) and uv index.
    corners_v = [faces[:, [0, 2, 4]]]
    corners_t = [faces[:, [1, 3, 5]]]
    all_v, all_n, all_t = [verts], [normals], [uvs]
    nv, nt = len(verts), len(uvs)
    for side in (1.0, -1.0):
        ev, ef = ear_piece(side)
        all_v.append(ev)
        all_n.append(vertex_normals(ev, ef))
        all_t.append(direction_uv(ev))
        corners_v.append(ef + nv)
        corners_t.append(ef + nt)
        nv += len(ev)
        nt += len(ev)
    return (np.concatenate(all_v), np.concatenate(all_n), np.concatenate(all_t),
            np.concatenate(corners_v), np.concatenate(corners_t))


def build_levelset_mesh():
    """A denser, closed sampling of the head without ears, one outward normal per vertex."""
    verts, normals, _, faces = latlong_surface(180, 170)
    return verts, normals, faces[:, [0, 2, 4]]


# --------------------------------------------------------------------------
# Writers


def write_text(path, text):
    with open(path, "w", newline="\n") as f:
        f.write(text)


def obj_text(header, verts, normals, uvs=None, fv=None, ft=None):
    lines = ["# " + h for h in header]
    lines += ["v %.6f %.6f %.6f" % tuple(p) for p in verts]
    if uvs is not None:
        lines += ["vt %.6f %.6f" % tuple(t) for t in uvs]
    lines += ["vn %.6f %.6f %.6f" % tuple(n) for n in normals]
    if fv is not None:
        fv = fv + 1
        if uvs is not None:
            ft = ft + 1
            lines += ["f %d/%d/%d %d/%d/%d %d/%d/%d" % (a, ta, a, b, tb, b, c, tc, c)
                      for (a, b, c), (ta, tb, tc) in zip(fv, ft)]
        else:
            lines += ["f %d//%d %d//%d %d//%d" % (a, a, b, b, c, c) for a, b, c in fv]
    return "\n".join(lines) + "\n"


def png_bytes(img):
    """RGB or RGBA 8-bit PNG; per row the filter with the smallest residual, as encoders do."""
    h, w, c = img.shape
    a = img.astype(np.int16)
    left = np.zeros_like(a)
    left[:, 1:] = a[:, :-1]
    up = np.zeros_like(a)
    up[1:] = a[:-1]
    ul = np.zeros_like(a)
    ul[1:, 1:] = a[:-1, :-1]
    pa = np.abs(up - ul)
    pb = np.abs(left - ul)
    pc = np.abs(left + up - 2 * ul)
    paeth = np.where((pa <= pb) & (pa <= pc), left, np.where(pb <= pc, up, ul))
    cands = [a, a - left, a - up, a - (left + up) // 2, a - paeth]
    cands = [(x % 256).astype(np.uint8).reshape(h, w * c) for x in cands]
    cost = np.stack([np.abs(x.astype(np.int8).astype(np.int32)).sum(axis=1) for x in cands])
    best = np.argmin(cost, axis=0)
    rows = np.stack(cands)[best, np.arange(h)]
    raw = np.concatenate([best.astype(np.uint8)[:, None], rows], axis=1).tobytes()

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    colour_type = {3: 2, 4: 6}[c]
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, colour_type, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def to_u8(img):
    return (np.clip(img, 0.0, 1.0) * 255.0 + 0.5).astype(np.uint8)


# --------------------------------------------------------------------------
# Textures: painted by the 3-D point that each texel lands on.


def texel_points(size, coarse=256):
    """Surface point of every texel centre (row 0 is the top of the image, v = 1)."""
    u = (np.arange(coarse) + 0.5) / coarse
    T, P = np.meshgrid((1.0 - u[::-1]) * np.pi, (u - 0.5) * 2.0 * np.pi, indexing="ij")
    r = radial_distance(ray_directions(T, P))
    # Bilinear upsampling of the radius, wrapping round in u.
    f = (np.arange(size) + 0.5) / size * coarse - 0.5
    i0 = np.floor(f).astype(int)
    w = f - i0
    rows_lo, rows_hi = np.clip(i0, 0, coarse - 1), np.clip(i0 + 1, 0, coarse - 1)
    cols_lo, cols_hi = i0 % coarse, (i0 + 1) % coarse
    rr = r[rows_lo] * (1 - w)[:, None] + r[rows_hi] * w[:, None]
    rr = rr[:, cols_lo] * (1 - w)[None, :] + rr[:, cols_hi] * w[None, :]
    v = (np.arange(size) + 0.5) / size
    T, P = np.meshgrid((1.0 - v[::-1]) * np.pi, (v - 0.5) * 2.0 * np.pi, indexing="ij")
    return CENTRE + rr[..., None] * ray_directions(T, P)


def filtered_noise(rng, size, low, high):
    """Periodic band-passed noise (wavelengths from high to low texels), unit deviation."""
    k = np.fft.fftfreq(size)
    kk = np.sqrt(k[:, None] ** 2 + k[None, :] ** 2) * size
    band = np.exp(-(kk * high / size) ** 2) - np.exp(-(kk * low / size) ** 2)
    n = np.real(np.fft.ifft2(np.fft.fft2(rng.standard_normal((size, size))) * band))
    return n / n.std()


def smoothstep(e0, e1, x):
    t = np.clip((x - e0) / (e1 - e0), 0.0, 1.0)
    return t * t * (3.0 - 2.0 * t)


def mix(a, b, t):
    return a + (np.asarray(b) - a) * t[..., None]


def gauss(p, c, sigma):
    return np.exp(-np.sum((p - np.asarray(c)) ** 2, axis=-1) / (2.0 * sigma * sigma))


def face_masks(p):
    x, y, z = p[..., 0], p[..., 1], p[..., 2]
    ax = np.abs(x)
    front = smoothstep(0.055, 0.075, z)
    masks = {}

    # Lips: an upper lip with a small bow over a fuller lower lip.
    y_mouth = -0.0668 - 0.003 * (x / 0.022) ** 2
    h_up = 0.0085 * np.sqrt(np.clip(1.0 - (x / 0.024) ** 2, 0.0, 1.0)) - 0.0015 * np.exp(-(x / 0.004) ** 2)
    h_lo = 0.0105 * np.sqrt(np.clip(1.0 - (x / 0.021) ** 2, 0.0, 1.0))
    dy = y - y_mouth
    upper = smoothstep(-0.0008, 0.0006, h_up - dy) * smoothstep(-0.0003, 0.0003, dy)
    lower = smoothstep(-0.0008, 0.0006, h_lo + dy) * smoothstep(-0.0003, 0.0003, -dy)
    masks["lips"] = np.clip(upper + lower, 0.0, 1.0) * front * (1.0 - smoothstep(0.021, 0.025, ax))
    masks["mouth"] = (1.0 - smoothstep(0.0002, 0.0008, np.abs(dy))) * (ax < 0.024) * front

    # Brows: arcs over the eyes, thinning towards the tail.
    t = np.clip((ax - 0.011) / 0.042, 0.0, 1.0)
    y_brow = 0.0175 + 0.006 * np.sin(np.pi * (0.2 + 0.8 * t)) - 0.002 * t
    half = 0.0032 * (1.0 - 0.6 * t)
    inside = (ax > 0.011) & (ax < 0.053)
    masks["brows"] = (1.0 - smoothstep(half * 0.6, half, np.abs(y - y_brow))) * inside * smoothstep(0.045, 0.065, z)

    # Eyes: on the eyeball sphere, the iris and pupil around its forward axis.
    c = np.stack([np.sign(x) * 0.031, np.full_like(x, 0.002), np.full_like(x, 0.0685)], axis=-1)
    d = p - c
    dist = np.linalg.norm(d, axis=-1)
    on_ball = 1.0 - smoothstep(0.0125 + 0.0003, 0.0125 + 0.0009, dist)
    look = np.stack([np.sign(x) * 0.05, np.zeros_like(x), np.ones_like(x)], axis=-1)
    look /= np.linalg.norm(look, axis=-1, keepdims=True)
    ang = np.arccos(np.clip(np.sum(d * look, axis=-1) / np.maximum(dist, 1e-9), -1.0, 1.0))
    masks["eye"] = on_ball * (z > 0.06)
    masks["iris"] = masks["eye"] * (1.0 - smoothstep(0.44, 0.5, ang))
    masks["pupil"] = masks["eye"] * (1.0 - smoothstep(0.17, 0.21, ang))
    masks["iris_angle"] = ang
    lid = (1.0 - on_ball) * (1.0 - smoothstep(0.0125 + 0.0009, 0.0125 + 0.0022, dist)) * (z > 0.06)
    masks["lash"] = lid * smoothstep(-0.002, 0.001, y - 0.002)
    masks["lower_lid"] = lid * (1.0 - smoothstep(-0.002, 0.001, y - 0.002))

    nostril = (((ax - 0.0075) / 0.0045) ** 2 + ((y + 0.046) / 0.0032) ** 2 + ((z - 0.102) / 0.0065) ** 2)
    masks["nostrils"] = 1.0 - smoothstep(0.6, 1.0, nostril)
    masks["tzone"] = np.clip(gauss(p, (0, 0.05, 0.085), 0.03) + gauss(p, (0, -0.02, 0.11), 0.018), 0.0, 1.0)
    return masks


def build_textures(size=TEX_SIZE):
    rng = np.random.default_rng(20240611)
    p = texel_points(size)
    m = face_masks(p)
    skin = np.array([0.86, 0.66, 0.54])

    # Diffuse albedo.
    blotch = filtered_noise(rng, size, 120.0, 20.0)
    fine = filtered_noise(rng, size, 6.0, 1.0)
    albedo = np.broadcast_to(skin, p.shape).copy()
    albedo *= (1.0 + 0.015 * blotch + 0.01 * fine)[..., None]
    red = np.array([0.85, 0.55, 0.48])
    flush = 0.35 * gauss(np.abs(p), (0.045, -0.028, 0.07), 0.018)
    flush = flush + 0.25 * gauss(p, (0.0, -0.037, 0.115), 0.012)
    flush = flush + 0.2 * gauss(np.abs(p), (0.078, -0.01, -0.016), 0.02)
    albedo = mix(albedo, red, np.clip(flush, 0.0, 1.0))
    albedo = mix(albedo, [0.82, 0.65, 0.55], 0.5 * smoothstep(-0.12, -0.16, p[..., 1]))
    streak = filtered_noise(rng, size, 3.0, 0.7)
    albedo = mix(albedo, [0.26, 0.18, 0.12], m["brows"] * np.clip(0.75 + 0.25 * streak, 0.0, 1.0))
    albedo = mix(albedo, [0.72, 0.40, 0.40], m["lips"])
    albedo = mix(albedo, [0.36, 0.16, 0.15], m["mouth"])
    albedo = mix(albedo, [0.28, 0.13, 0.11], m["nostrils"])
    albedo = mix(albedo, [0.93, 0.90, 0.87], m["eye"])
    rays = 0.5 + 0.5 * np.sin(40.0 * np.arctan2(p[..., 1] - 0.002, np.abs(p[..., 0]) - 0.031))
    iris = mix(np.broadcast_to(np.array([0.36, 0.27, 0.16]), p.shape), [0.22, 0.16, 0.10],
               smoothstep(0.36, 0.48, m["iris_angle"]) * 0.8 + 0.15 * rays)
    albedo = mix(albedo, iris, m["iris"])
    albedo = mix(albedo, [0.04, 0.03, 0.03], m["pupil"])
    albedo = mix(albedo, [0.16, 0.10, 0.08], m["lash"])
    albedo = mix(albedo, [0.78, 0.52, 0.48], m["lower_lid"])

    # Height of the fine skin relief: pores, smoother on lips, none on the eyes.
    calm = 1.0 - np.clip(m["eye"] + m["lash"], 0.0, 1.0)
    pores = -np.clip(filtered_noise(rng, size, 2.5, 0.8) - 1.2, 0.0, None)
    relief = (pores + 0.35 * filtered_noise(rng, size, 8.0, 2.0)) * calm * (1.0 - 0.6 * m["lips"])
    lip_lines = 0.5 * np.sin(p[..., 0] * 2.0 * np.pi / 0.0018) * m["lips"]
    relief = relief + lip_lines

    def normal_map(h, strength):
        gy, gx = np.gradient(h)
        # Image rows run down while v runs up, hence the sign of the y slope.
        n = np.stack([-strength * gx, strength * gy, np.ones_like(h)], axis=-1)
        n /= np.linalg.norm(n, axis=-1, keepdims=True)
        return 0.5 * n + 0.5

    diff_normal = normal_map(relief, 0.07)
    spec_normal = normal_map(relief + 0.25 * filtered_noise(rng, size, 2.5, 1.0) * calm, 0.07)

    spec = 0.22 + 0.10 * m["tzone"] + 0.08 * m["lips"] - 0.12 * m["brows"] + 0.03 * blotch
    spec = mix(np.stack([spec, spec * 0.97, spec * 0.95], axis=-1), [0.9, 0.9, 0.9], m["eye"])
    disp = 0.5 + 0.12 * relief / np.abs(relief).max()
    disp = np.repeat(disp[..., None], 3, axis=-1)
    return {"diffuse_albedo.png": albedo, "diffuse_normal.png": diff_normal,
            "specular_albedo.png": spec, "specular_normal.png": spec_normal,
            "displacement.png": disp}


# --------------------------------------------------------------------------
# Companion files


def placement(vmin, vmax):
    """Default head placement: scaled to a box diagonal of 0.7, box centre at (0, 1, 0).

    Column-major 4x4 as 16 floats, translation at 12..14.
    """
    vmin = vmin.astype(np.float32).astype(np.float64)
    vmax = vmax.astype(np.float32).astype(np.float64)
    k = 0.7 / np.linalg.norm(vmax - vmin)
    c = 0.5 * (vmin + vmax)
    m = np.identity(4)
    m[0, 0] = m[1, 1] = m[2, 2] = k
    m[:3, 3] = np.array([0.0, 1.0, 0.0]) - k * c
    return m.T.reshape(-1)  # column-major


def mirror_obj(vmin, vmax):
    """The symmetry plane x = 0 over the head's y-z extent, normal +x, counter-clockwise from +x."""
    y0, y1, z0, z1 = vmin[1], vmax[1], vmin[2], vmax[2]
    verts = np.array([[0.0, y0, z0], [0.0, y0, z1], [0.0, y1, z1], [0.0, y1, z0]])
    lines = ["# mirror plane of the default head: x = 0 in the head's frame, metres"]
    lines += ["v %.6f %.6f %.6f" % tuple(v) for v in verts]
    lines += ["vn 1 0 0", "f 1//1 3//1 2//1", "f 1//1 4//1 3//1"]
    return "\n".join(lines) + "\n"


def dirlight_obj():
    """A small arrow-head pointing along -y, the way the directional light shines."""
    top = [np.array([0.06 * math.cos(a), 0.0, 0.06 * math.sin(a)]) for a in (0.0, 2 * math.pi / 3, 4 * math.pi / 3)]
    tip = np.array([0.0, -0.12, 0.0])
    tris = [(top[0], top[2], top[1])]                     # the base, facing +y
    tris += [(top[i], top[(i + 1) % 3], tip) for i in range(3)]
    verts, normals, faces = [], [], []
    for t in tris:
        n = np.cross(t[1] - t[0], t[2] - t[0])
        if n @ (sum(t) / 3.0 - np.array([0.0, -0.04, 0.0])) < 0.0:
            t = (t[0], t[2], t[1])
            n = -n
        normals.append(n / np.linalg.norm(n))
        base = len(verts)
        verts.extend(t)
        faces.append((base + 1, base + 2, base + 3, len(normals)))
    lines = ["# directional light marker: a flat-shaded arrow head pointing along -y, metres"]
    lines += ["v %.6f %.6f %.6f" % tuple(v) for v in verts]
    lines += ["vn %.6f %.6f %.6f" % tuple(n) for n in normals]
    lines += ["f %d//%d %d//%d %d//%d" % (a, n, b, n, c, n) for a, b, c, n in faces]
    return "\n".join(lines) + "\n"


HEAD_TXT = """head_model: "head.obj"
head_levelset_model: "head_levelset.obj"
diff_albedo_map: "diffuse_albedo.png"
diff_redNormal_map: "diffuse_normal.png"
spec_albedo_map: "specular_albedo.png"
spec_normal_map: "specular_normal.png"
disp_map: "displacement.png"
"""


def float_text(x):
    """Shortest text that reads back as the same 32-bit float."""
    return np.format_float_positional(np.float32(x), unique=True, trim="-")


def main():
    os.makedirs(HEAD_DIR, exist_ok=True)
    os.makedirs(GEO_DIR, exist_ok=True)

    verts, normals, uvs, fv, ft = build_head_mesh()
    # The box must be the one the loader sees, so take it from the written digits.
    verts = np.round(verts, 6)
    vmin, vmax = verts.min(axis=0), verts.max(axis=0)
    write_text(os.path.join(HEAD_DIR, "head.obj"), obj_text(
        ["default head: one mesh, metres, +y up, facing +z, symmetric about x = 0",
         "generated by tools/gen_head.py"], verts, normals, uvs, fv, ft))
    print("head.obj: %d vertices, %d triangles, box %s .. %s" % (len(verts), len(fv), vmin, vmax))

    lv, ln, lf = build_levelset_mesh()
    write_text(os.path.join(HEAD_DIR, "head_levelset.obj"), obj_text(
        ["closed surface of the default head for its level set: vn i is the outward unit normal of v i",
         "generated by tools/gen_head.py"], lv, ln, None, lf))
    print("head_levelset.obj: %d vertices, %d triangles" % (len(lv), len(lf)))

    for name, img in build_textures().items():
        data = png_bytes(to_u8(img))
        with open(os.path.join(HEAD_DIR, name), "wb") as f:
            f.write(data)
        print("%s: %d bytes" % (name, len(data)))

    write_text(os.path.join(HEAD_DIR, "head.txt"), HEAD_TXT)
    write_text(os.path.join(HEAD_DIR, "mirror.obj"), mirror_obj(vmin, vmax))
    m = placement(vmin, vmax)
    write_text(os.path.join(HEAD_DIR, "headTransform.txt"),
               "transforms {\n" + "".join("  v: %s\n" % float_text(x) for x in m) + "}\n")
    write_text(os.path.join(GEO_DIR, "dirlight_tri.obj"), dirlight_obj())
    return 0


if __name__ == "__main__":
    sys.exit(main())
