"""The two readers side by side: mutates KVX files deterministically and
checks that the C++ library (through kvx_dump) and the kvx package read the
same blocks, header values and pixels from each, or both find it damaged.

    kvx_differential.py --dump BIN --samples BIN [--converter BIN --dldgen BIN]
                        [--count N] [--seed S] [--keep DIR] [SEED_FILE ...]

Seed files are the library-written samples (every data type, byte order
and compression), hand-made blocks (old formats without block ids, data
in separate binary files, expressions and offsets), the converter's output
of a small generated data set, and any KVX files named on the command
line.  Exit status 1 when the readers disagree; the
disagreeing files are kept in DIR.

One documented difference is counted apart: a size that the C++ library
evaluates with functions, constants or casts, which the package refuses.
"""

import argparse
import collections
import json
import os
import pathlib
import random
import re
import shutil
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "python"))
import kvx  # noqa: E402

BATCH = 250
INTERESTING = [
    "0", "1", "-1", "2*3", "7/2", "-7%3", "(4)", "2 * 3", "1e3", "0x10", "2^64", "+5",
    "18446744073709551615", "18446744073709551616", "4294967296", "2147483648", "65536*65536",
    "3221225472", "sqrt(4)", "pi", "(round)2.5", "true", " 12 ", "", "\"4\"", "1.5", "-0",
    "nan", "inf", "1e999", "GzipCompression", "ZCompression", "None", "Gzip2", "2", "3",
    "LowByteFirst", "HighByteFirst", "Middle", "UnsignedByte", "SignedShort", "Unsigned64",
    "DoubleValue", "FloatVAX32", "UnsignedInteger", "Signed64", "1.Image.Psd", "1.Image.Error",
    "007.Image.Psd", ".Image.Psd", "5.", "EH:000012:000000:000000", "EH:x", "data.bin",
    "data.bin/", "sub/../data.bin", "../data.bin", "/etc/hostname", "nosuch.bin", "d\\ta.bin",
    "+02", " 7 ", "x" * 70,
]
KEYS = ["Dim_1", "Dim_2", "Dim_3", "DataType", "ByteOrder", "Compression", "DataValueOffset",
        "KVX_BinarySize", "KVX_HeaderSize", "KVX_DataBlockID", "Image", "HeaderID", "Size",
        "KVX_BinaryFileName", "KVX_BinaryFilePosition", "KVX_BinaryFileSize", "Title~1"]
_ENTRY = re.compile(rb"([A-Za-z_~0-9]+) = ([^;\r\n]*) ;")


# -- the seeds -----------------------------------------------------------

def block_bytes(entries, data=b"", pad_to=512):
    raw = ("{\r\n" + "".join(f"{k} = {v} ;\r\n" for k, v in entries)).encode()
    header = raw + b" " * max(pad_to - len(raw) - 4, 0) + b"\r\n}\n"
    padding = (-len(data)) % pad_to if pad_to > 1 else 0
    return header + data + b" " * padding


def handmade(folder):
    """Small files of layouts the library does not write itself."""
    (folder / "data.bin").write_bytes(bytes(range(256)) * 4)
    values = bytes(range(12))
    packed = zlib.compress(values)
    files = {
        "ext.kvx": block_bytes([("KVX_DataBlockID", "1.Image.Psd"), ("KVX_BinarySize", 0),
                                ("KVX_BinaryFileName", "data.bin"),
                                ("KVX_BinaryFilePosition", 16), ("Dim_1", 4), ("Dim_2", 3),
                                ("DataType", "UnsignedShort"), ("ByteOrder", "HighByteFirst")])
        + block_bytes([("KVX_DataBlockID", "2.Image.Psd"), ("KVX_BinarySize", 0),
                       ("KVX_BinaryFileName", "data.bin"), ("KVX_BinaryFilePosition", 7),
                       ("KVX_BinaryFileSize", 40), ("Dim_1", 5), ("DataType", "SignedInteger")]),
        "old.kvx": b"".join(block_bytes(e + [("Dim_1", 3), ("DataType", "UnsignedByte")],
                                        b"\x01\x02\x03", pad_to=1)
                            for e in ([], [("Image", "4")], [], [("HeaderID", "EH:000002:0:0")],
                                      [])),
        "expr.kvx": block_bytes([("KVX_DataBlockID", "1.Image.Psd"),
                                 ("KVX_BinarySize", len(packed)), ("Dim_1", "2*2"),
                                 ("Dim_2", "(7-4)"), ("DataType", "UnsignedByte"),
                                 ("Compression", "ZCompression"), ("DataValueOffset", "1000")],
                                packed)
        + block_bytes([("KVX_DataBlockID", "2.Image.Psd"), ("KVX_BinarySize", 12),
                       ("Dim_1", 3), ("Dim_2", "true*2*2"), ("DataType", "SignedByte"),
                       ("DataValueOffset", "-2.5")], values),
    }
    for name, content in files.items():
        (folder / name).write_bytes(content)
    return [folder / name for name in files]


def library_samples(folder, program):
    subprocess.run([program, str(folder)], check=True, stdout=subprocess.DEVNULL)
    return [folder / "types.kvx", folder / "layout.kvx"]


def converter_output(folder, converter, dldgen):
    run = {"cwd": folder, "check": True, "stdout": subprocess.DEVNULL}
    subprocess.run([dldgen, "--header", "d", "--hm", "dhm", "--columns", "16", "--rows", "8",
                    "--frames", "3"], **run)
    subprocess.run([converter, "-p", "d", "=", "1", "3", "1", "demo.kvx"], **run,
                   stderr=subprocess.DEVNULL)
    return [folder / "demo.kvx"]


def seed_contents(paths):
    """Pieces of the seed files to mutate: each whole, and runs of one to
    three blocks (with the general block, when there is one)."""
    pieces = []
    for path in paths:
        content = path.read_bytes()
        pieces.append(content)
        try:
            f = kvx.open(path)
        except kvx.KvxError:
            continue
        general = content[:f[0].header_pos] if len(f) and f.general is not None else b""
        ends = [b.binary_pos + b.binary_size for b in f]
        for i in range(len(f)):
            for n in (1, 3):
                if i + n <= len(f):
                    pieces.append(general + content[f[i].header_pos:ends[i + n - 1]])
    return pieces


# -- mutations -----------------------------------------------------------

def mutate(content, rng):
    content = bytearray(content)
    for _ in range(rng.choice((1, 1, 1, 2, 3))):
        how = rng.randrange(7)
        pos = rng.randrange(len(content) + 1)
        if how == 0 and content:
            content[min(pos, len(content) - 1)] ^= 1 << rng.randrange(8)
        elif how == 1:
            content[pos:pos] = rng.choice([b"\0", b";", b"\r\n}\n", b"{", b"\\", b"\"",
                                           bytes([rng.randrange(256)])]) * rng.randint(1, 4)
        elif how == 2:
            del content[pos:pos + rng.choice((1, 4, 100, 512))]
        elif how == 3:
            del content[pos:]
        else:
            content = edit_entry(content, rng, how == 6)
    return bytes(content)


def edit_entry(content, rng, new_key):
    entries = list(_ENTRY.finditer(content))
    if not entries:
        return content
    entry = rng.choice(entries)
    value = rng.choice(INTERESTING).encode()
    if new_key:
        text = b"%s = %s ;\r\n" % (rng.choice(KEYS).encode(), value)
        at, old_end = entry.end() + 2, entry.end() + 2
    else:
        text, at, old_end = value, entry.start(2), entry.end(2)
    out = content[:at] + text + content[old_end:]
    if rng.random() < 0.7:
        # Keep the header's length: take the difference from the padding
        # in front of its end marker.
        end = out.find(b"\r\n}\n", at)
        grow = len(out) - len(content)
        if end > 0 and grow > 0 and out[end - grow:end] == b" " * grow:
            out = out[:end - grow] + out[end:]
        elif end > 0 and grow < 0:
            out = out[:end] + b" " * -grow + out[end:]
    return bytearray(out)


# -- the two readings ----------------------------------------------------

def hexed(text):
    return text.encode("utf-8", "surrogateescape").hex()


def entries(mapping):
    return [[hexed(k), hexed(v)] for k, v in mapping.items()]


def canonical_pixels(block):
    try:
        data = block.data
    except kvx.UnsupportedError as failure:
        return "needs C++" if "needs the C++ reader" in str(failure) else "refused"
    except (kvx.KvxError, OSError):
        return "refused"
    if data.dtype.kind == "f":
        flat = data.astype("<f8")
    elif data.dtype == "u8":
        flat = data.astype("<u8")
    else:
        flat = data.astype("<i8")
    return {"kind": "float" if data.dtype.kind == "f" else "int",
            "dims": list(reversed(data.shape)), "crc": zlib.crc32(flat.tobytes())}


def python_reading(path):
    try:
        f = kvx.open(path, partial=True)
    except (kvx.KvxError, OSError):
        return {"refused": True}
    blocks = []
    for b in f:
        found = {"key": hexed(b.key), "chain": hexed(b.chain),
                 "pos": [b.header_pos, b.binary_pos, b.binary_size]}
        try:
            found["header"] = entries(b.header)
        except (kvx.KvxError, OSError):
            found["header"] = "refused"
        else:
            found["pixels"] = canonical_pixels(b)
        blocks.append(found)
    defaults = {k: v for k, v in (f.general or {}).items() if not k.upper().startswith("KVX_")}
    return {"damaged": f.defect is not None, "defaults": entries(defaults), "blocks": blocks}


def normal_cpp(found):
    if "refused" in found:
        return {"refused": True}
    for block in found["blocks"]:
        if not isinstance(block["header"], list):
            block["header"] = "refused"
        elif not isinstance(block["pixels"], dict):
            block["pixels"] = "refused"
    damaged = None if found["state"] == "offgrid" else found["state"] != "whole"
    return {"damaged": damaged, "defaults": found["defaults"],
            "blocks": found["blocks"]}


def compare(cpp, py):
    """'agree', 'documented' or the name of the first difference."""
    if "refused" in cpp or "refused" in py:
        # A file that one reader refuses at its first header the other one
        # must find damaged before any block.
        bad = [r for r in (cpp, py) if "refused" not in r]
        return "agree" if not bad or (bad[0]["damaged"] is not False and not bad[0]["blocks"]) \
            else "refusal"
    if cpp["damaged"] is not None and cpp["damaged"] != py["damaged"]:
        return "damage"
    # The library gives the general block's entries with a readable header.
    if (any(isinstance(b["header"], list) for b in cpp["blocks"])
            and cpp["defaults"] != py["defaults"]):
        return "defaults"
    if len(cpp["blocks"]) != len(py["blocks"]):
        return "block count"
    documented = False
    for c, p in zip(cpp["blocks"], py["blocks"]):
        for field in ("key", "chain", "pos", "header"):
            if c[field] != p[field]:
                return field
        if p.get("pixels") == "needs C++":
            documented = True
        elif c.get("pixels") != p.get("pixels"):
            return "pixels"
    return "documented" if documented else "agree"


def python_outcome(cpp, path):
    try:
        return compare(normal_cpp(cpp), python_reading(path))
    except Exception as failure:  # anything but a KvxError is a fault of the package
        print(f"{path}: {type(failure).__name__}: {failure}", file=sys.stderr)
        return "python exception"


def run_batch(dump, paths):
    names = "".join(f"{p}\n" for p in paths).encode()
    done = subprocess.run([dump], input=names, capture_output=True, timeout=600)
    lines = done.stdout.decode("utf-8", "replace").splitlines()
    noise = [line for line in lines if not line.startswith("{")]
    if noise:
        print("kvx_dump wrote more than its lines:", noise[:3], file=sys.stderr)
    if done.returncode != 0 or len(lines) != len(paths):
        if len(paths) == 1:
            return [{"crash": done.returncode}]
        # Find the file that stops the dumper: one at a time.
        return [r for p in paths for r in run_batch(dump, [p])]
    return [json.loads(line) for line in lines]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--dump", required=True)
    parser.add_argument("--samples", required=True)
    parser.add_argument("--converter")
    parser.add_argument("--dldgen")
    parser.add_argument("--count", type=int, default=300)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--keep", default="kvx-differential-failures")
    parser.add_argument("seeds", nargs="*")
    args = parser.parse_args()
    for program in ("dump", "samples", "converter", "dldgen"):
        if getattr(args, program):
            setattr(args, program, os.path.abspath(getattr(args, program)))
    rng = random.Random(args.seed)
    counts = collections.Counter()
    with tempfile.TemporaryDirectory(prefix="kvx-diff-") as tmp:
        folder = pathlib.Path(tmp)
        seeds = library_samples(folder, args.samples) + handmade(folder)
        if args.converter and args.dldgen:
            seeds += converter_output(folder, args.converter, args.dldgen)
        seeds += [pathlib.Path(s) for s in args.seeds]
        pieces = seed_contents(seeds)
        done = 0
        while done < args.count:
            paths = []
            for i in range(min(BATCH, args.count - done)):
                path = folder / f"m{i}.kvx"
                path.write_bytes(mutate(rng.choice(pieces), rng))
                paths.append(path)
            for path, cpp in zip(paths, run_batch(args.dump, paths)):
                outcome = "crash" if "crash" in cpp else python_outcome(cpp, path)
                counts[outcome] += 1
                if outcome not in ("agree", "documented"):
                    os.makedirs(args.keep, exist_ok=True)
                    shutil.copy(path, os.path.join(
                        args.keep, f"{args.seed}-{done}-{outcome.replace(' ', '_')}.kvx"))
                done += 1
    print(f"{args.count} mutated files (seed {args.seed}): "
          + ", ".join(f"{k} {v}" for k, v in sorted(counts.items())))
    return 0 if counts["agree"] + counts["documented"] == args.count else 1


if __name__ == "__main__":
    sys.exit(main())
