#!/usr/bin/python3
"""Helpers for scripts/make-testdata.sh and scripts/make-sample.sh.

Run with Debian's /usr/bin/python3 (it has PIL). Sub-commands:

  prep     crop and scale a source photograph into a PPM, PGM or raw CMYK file
  pil      encode a prepared picture with PIL
  markers  print the marker segments of a JPEG stream (one line per segment)
  fill     put 0xFF fill bytes before every marker, in entropy-coded data too
  extras   add comment, application and DRI segments (COM with 0xFF bytes, ...)
  adobe    add or replace an Adobe APP14 segment with a given transform
  merge    gather consecutive DQT segments into one and DHT segments into one
  slots    move every quantization and Huffman table to slot (id + 2)
  avi      list the frames of an AVI file, or write one out as a JPEG stream

Everything is deterministic: the same inputs give the same bytes.
"""

import argparse
import os
import struct
import sys

IMAGES = os.environ.get("WEMB_IMAGES", "/work/shared/images")
SOURCES = {
    "forest": os.path.join(IMAGES, "forest-path-2560x1600.jpg"),
    "astronaut": os.path.join(IMAGES, "astronaut-512.png"),
}

MARKER_NAMES = {0xC4: "DHT", 0xC8: "JPG", 0xCC: "DAC", 0xD8: "SOI", 0xD9: "EOI",
                0xDA: "SOS", 0xDB: "DQT", 0xDC: "DNL", 0xDD: "DRI", 0xDE: "DHP",
                0xDF: "EXP", 0xFE: "COM", 0x01: "TEM"}


def marker_name(code):
    if code in MARKER_NAMES:
        return MARKER_NAMES[code]
    if 0xC0 <= code <= 0xCF:
        return "SOF%d" % (code - 0xC0)
    if 0xD0 <= code <= 0xD7:
        return "RST%d" % (code - 0xD0)
    if 0xE0 <= code <= 0xEF:
        return "APP%d" % (code - 0xE0)
    if 0xF0 <= code <= 0xFD:
        return "JPG%d" % (code - 0xF0)
    return "0x%02X" % code


def has_no_length(code):
    return code in (0x01, 0xD8, 0xD9) or 0xD0 <= code <= 0xD7


# A stream is split into pieces: ("marker", code, segment bytes after the code,
# length field included) and ("data", None, entropy-coded bytes). Fill bytes
# are dropped by the split; join() can put them back in any number.

def split(data):
    pieces = []
    pos = 0
    in_scan = False
    n = len(data)
    while pos < n:
        if in_scan:
            start = pos
            while True:
                if pos + 1 >= n:
                    sys.exit("entropy-coded data runs to the end of the stream")
                if data[pos] != 0xFF:
                    pos += 1
                    continue
                probe = pos + 1
                while probe < n and data[probe] == 0xFF:
                    probe += 1
                if probe < n and data[probe] == 0x00:
                    pos = probe + 1
                    continue
                break
            pieces.append(("data", None, data[start:pos]))
            in_scan = False
        if data[pos] != 0xFF:
            sys.exit("expected a marker at offset %d" % pos)
        while pos < n and data[pos] == 0xFF:
            pos += 1
        code = data[pos]
        pos += 1
        if has_no_length(code):
            # An RSTn right after entropy-coded data continues the scan.
            continues_scan = 0xD0 <= code <= 0xD7 and pieces and pieces[-1][0] == "data"
            pieces.append(("marker", code, b""))
            in_scan = continues_scan
            continue
        length = struct.unpack(">H", data[pos:pos + 2])[0]
        pieces.append(("marker", code, data[pos:pos + length]))
        pos += length
        if code == 0xDA:
            in_scan = True
    return pieces


def join(pieces, fill=0):
    """Puts the pieces back together, with `fill` 0xFF bytes before every marker
    but the first (libjpeg insists on a stream that starts with 0xFF 0xD8)."""
    out = bytearray()
    for kind, code, body in pieces:
        if kind == "data":
            out += body
        else:
            out += b"\xff" * (fill if out else 0) + bytes([0xFF, code]) + body
    return bytes(out)


def segment(code, payload):
    return ("marker", code, struct.pack(">H", len(payload) + 2) + payload)


def describe(code, body):
    p = body[2:]
    if code in (0xC0, 0xC1, 0xC2, 0xC3) or 0xC5 <= code <= 0xCF and code not in (0xC8, 0xCC):
        prec, y, x, nf = p[0], struct.unpack(">H", p[1:3])[0], struct.unpack(">H", p[3:5])[0], p[5]
        comps = " ".join("C%d=%dx%d/Tq%d" % (p[6 + 3 * i], p[7 + 3 * i] >> 4, p[7 + 3 * i] & 15,
                                            p[8 + 3 * i]) for i in range(nf))
        return "P=%d %dx%d Nf=%d %s" % (prec, x, y, nf, comps)
    if code == 0xDB:
        tables, i = [], 0
        while i < len(p):
            pq, tq = p[i] >> 4, p[i] & 15
            tables.append("Pq%d/Tq%d" % (pq, tq))
            i += 1 + 64 * (pq + 1)
        return " ".join(tables)
    if code == 0xC4:
        tables, i = [], 0
        while i < len(p):
            tc, th = p[i] >> 4, p[i] & 15
            count = sum(p[i + 1:i + 17])
            tables.append("%s%d(%d)" % ("AC" if tc else "DC", th, count))
            i += 17 + count
        return " ".join(tables)
    if code == 0xDA:
        ns = p[0]
        comps = " ".join("C%d/Td%d/Ta%d" % (p[1 + 2 * i], p[2 + 2 * i] >> 4, p[2 + 2 * i] & 15)
                         for i in range(ns))
        ss, se, a = p[1 + 2 * ns], p[2 + 2 * ns], p[3 + 2 * ns]
        return "Ns=%d %s Ss=%d Se=%d Ah=%d Al=%d" % (ns, comps, ss, se, a >> 4, a & 15)
    if code == 0xDD:
        return "Ri=%d" % struct.unpack(">H", p[0:2])[0]
    if code == 0xEE and p[:5] == b"Adobe" and len(p) >= 12:
        return "Adobe transform=%d" % p[11]
    if 0xE0 <= code <= 0xEF:
        ident = p[:p.index(0)] if 0 in p[:16] else p[:8]
        return "id=%r" % bytes(ident)
    if code == 0xFE:
        return "%d bytes, %d of them 0xFF" % (len(p), p.count(0xFF))
    return ""


def cmd_markers(args):
    data = open(args.file, "rb").read()
    pos = 0
    for kind, code, body in split(data):
        if kind == "data":
            print("%8d  entropy-coded data, %d bytes" % (pos, len(body)))
            pos += len(body)
            continue
        # Report the offset of the 0xFF that starts the marker (fill bytes excluded).
        while data[pos] == 0xFF and data[pos + 1] == 0xFF:
            pos += 1
        line = "%8d  %-5s" % (pos, marker_name(code))
        if body:
            line += " L=%-5d %s" % (struct.unpack(">H", body[:2])[0], describe(code, body))
        print(line.rstrip())
        pos += 2 + len(body)


def load_source(name, box, size, mode):
    from PIL import Image
    im = Image.open(SOURCES[name]).convert("RGB")
    if box:
        im = im.crop(tuple(box))
    if size and im.size != tuple(size):
        im = im.resize(tuple(size), Image.LANCZOS)
    if mode == "grey":
        return im.convert("L")
    return im


def rgb_to_cmyk_bytes(im):
    """Grey-component replacement: K = min(C, M, Y), then C, M, Y lose K."""
    out = bytearray()
    for r, g, b in im.getdata():
        c, m, y = 255 - r, 255 - g, 255 - b
        k = min(c, m, y)
        out += bytes((c - k, m - k, y - k, k))
    return bytes(out)


def ints(text):
    return [int(v) for v in text.replace("x", ",").split(",")]


def cmd_prep(args):
    im = load_source(args.src, ints(args.box) if args.box else None,
                     ints(args.size) if args.size else None, args.mode)
    if args.mode in ("rgb", "grey"):
        im.save(args.out)  # PPM or PGM by the extension
        return
    raw = rgb_to_cmyk_bytes(im)
    if args.mode == "cmyk-inverted":  # the Adobe convention: 0 means full ink
        raw = bytes(255 - v for v in raw)
    open(args.out, "wb").write(raw)


def cmd_pil(args):
    from PIL import Image
    if args.cmyk:
        w, h = ints(args.cmyk)
        im = Image.frombytes("CMYK", (w, h), open(args.input, "rb").read())
    else:
        im = Image.open(args.input)
    options = {"quality": args.quality, "optimize": args.optimize,
               "progressive": args.progressive}
    if args.subsampling is not None:
        options["subsampling"] = args.subsampling
    im.save(args.out, "JPEG", **options)


def insert_after_app0(pieces, new_pieces):
    at = 1
    if len(pieces) > 1 and pieces[1][1] == 0xE0:
        at = 2
    return pieces[:at] + new_pieces + pieces[at:]


def cmd_fill(args):
    data = open(args.input, "rb").read()
    open(args.out, "wb").write(join(split(data), fill=args.count))


def cmd_extras(args):
    pieces = split(open(args.input, "rb").read())
    tricky = (b"comment with marker-like bytes: \xff\xd9 \xff\xd8 \xff\xda \xff\x00 "
              b"\xff\xff\xff \xff\xc0 end \xff")
    extra = [
        segment(0xFE, b""),                               # empty comment
        segment(0xFE, tricky),                            # 0xFF bytes inside a comment
        segment(0xE1, b"wemb-test\x00" + bytes(range(256))),  # APP1 with every byte value
        segment(0xEF, b"\xff\xff\xff\xff"),               # APP15 made of 0xFF only
        segment(0xDD, b"\x00\x00"),                       # DRI with Ri = 0: no restart intervals
    ]
    pieces = insert_after_app0(pieces, extra)
    # One more comment between the frame header and the scan.
    sos = next(i for i, p in enumerate(pieces) if p[1] == 0xDA)
    pieces.insert(sos, segment(0xFE, b"\xff" * 7))
    open(args.out, "wb").write(join(pieces))


def cmd_adobe(args):
    pieces = split(open(args.input, "rb").read())
    if args.drop_jfif:
        pieces = [p for p in pieces if not (p[1] == 0xE0 and p[2][2:7] == b"JFIF\x00")]
    app14 = segment(0xEE, b"Adobe" + struct.pack(">HHHB", 100, 0, 0, args.transform))
    pieces = [p for p in pieces if not (p[1] == 0xEE and p[2][2:7] == b"Adobe")]
    pieces = insert_after_app0(pieces, [app14])
    open(args.out, "wb").write(join(pieces))


def cmd_merge(args):
    pieces = split(open(args.input, "rb").read())
    out = []
    for piece in pieces:
        if (piece[1] in (0xDB, 0xC4) and out and out[-1][1] == piece[1]):
            merged = out[-1][2][2:] + piece[2][2:]
            out[-1] = segment(piece[1], merged)
        else:
            out.append(piece)
    open(args.out, "wb").write(join(out))


def cmd_slots(args):
    pieces = split(open(args.input, "rb").read())
    out = []
    for kind, code, body in pieces:
        b = bytearray(body)
        if code == 0xDB:
            i = 2
            while i < len(b):
                pq = b[i] >> 4
                b[i] += 2
                i += 1 + 64 * (pq + 1)
        elif code == 0xC4:
            i = 2
            while i < len(b):
                count = sum(b[i + 1:i + 17])
                b[i] += 2
                i += 17 + count
        elif code in (0xC0, 0xC1, 0xC2):
            for c in range(b[7]):
                b[10 + 3 * c] += 2
        elif code == 0xDA:
            for c in range(b[2]):
                b[4 + 2 * c] += 0x22
        out.append((kind, code, bytes(b)))
    open(args.out, "wb").write(join(out))


def avi_frames(path):
    """Yields the payload of every video chunk ('##dc' or '##db') of a RIFF AVI."""
    data = open(path, "rb").read()
    if data[:4] != b"RIFF" or data[8:12] != b"AVI ":
        sys.exit("not an AVI file")

    def walk(start, end):
        pos = start
        while pos + 8 <= end:
            fourcc = data[pos:pos + 4]
            size = struct.unpack("<I", data[pos + 4:pos + 8])[0]
            body = pos + 8
            if fourcc in (b"RIFF", b"LIST"):
                if data[body:body + 4] == b"movi":
                    yield from walk(body + 4, body + size)
            elif fourcc[2:] in (b"dc", b"db"):
                yield data[body:body + size]
            pos = body + size + (size & 1)

    yield from walk(12, len(data))


def cmd_avi(args):
    frames = list(avi_frames(args.file))
    if args.frame is not None:
        open(args.out, "wb").write(frames[args.frame])
        return
    for i, frame in enumerate(frames):
        codes = [code for kind, code, _ in split(frame) if kind == "marker"]
        names = " ".join(marker_name(c) for c in codes)
        print("frame %3d: %6d bytes: %s" % (i, len(frame), names))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)

    p = sub.add_parser("prep")
    p.add_argument("--src", choices=sorted(SOURCES), required=True)
    p.add_argument("--box", help="crop box x0,y0,x1,y1 in the source")
    p.add_argument("--size", help="final size WxH")
    p.add_argument("--mode", choices=["rgb", "grey", "cmyk", "cmyk-inverted"], default="rgb")
    p.add_argument("out")
    p.set_defaults(run=cmd_prep)

    p = sub.add_parser("pil")
    p.add_argument("--quality", type=int, default=75)
    p.add_argument("--subsampling", type=int, choices=[0, 1, 2])
    p.add_argument("--progressive", action="store_true")
    p.add_argument("--optimize", action="store_true")
    p.add_argument("--cmyk", help="input is raw CMYK of this size WxH")
    p.add_argument("input")
    p.add_argument("out")
    p.set_defaults(run=cmd_pil)

    p = sub.add_parser("markers")
    p.add_argument("file")
    p.set_defaults(run=cmd_markers)

    p = sub.add_parser("fill")
    p.add_argument("--count", type=int, default=3)
    p.add_argument("input")
    p.add_argument("out")
    p.set_defaults(run=cmd_fill)

    for name, run in (("extras", cmd_extras), ("merge", cmd_merge), ("slots", cmd_slots)):
        p = sub.add_parser(name)
        p.add_argument("input")
        p.add_argument("out")
        p.set_defaults(run=run)

    p = sub.add_parser("adobe")
    p.add_argument("--transform", type=int, required=True)
    p.add_argument("--drop-jfif", action="store_true")
    p.add_argument("input")
    p.add_argument("out")
    p.set_defaults(run=cmd_adobe)

    p = sub.add_parser("avi")
    p.add_argument("--frame", type=int)
    p.add_argument("file")
    p.add_argument("out", nargs="?")
    p.set_defaults(run=cmd_avi)

    args = parser.parse_args()
    args.run(args)


if __name__ == "__main__":
    main()
