#!/usr/bin/env python3
"""Writes a reproducible benchmark corpus (fixed seed): about 2,000 files and
200 MB of mixed data, as a product's files tend to be:

  - many small files (1-32 KB): short texts, configuration and record-like data
  - text-like documents (200 KB - 1 MB) made of words and lines
  - random binaries (0.5 - 3 MB), which do not compress
  - structured binaries (records with noise), which compress somewhat

  usage: make-corpus.py OUTDIR [--size-mb N] [--files N] [--single-mb N] [--seed N]

--single-mb N writes one file of N MB (text and random halves interleaved in
1 MB blocks) instead of the mixed corpus. The same arguments always give the
same bytes, so benchmarks of different tools and runs compare."""
import argparse
import os
import random
import sys

WORDS = ("setup archive folder product install registry file stream version "
         "window dialog button license password component system program "
         "data value key path error message option table string module "
         "the a of and to in is for on with as by at from that this be are "
         "was it or an not can will all new which one has more any each").split()


def text_pool(rng, size):
    """A block of text-like bytes: words, punctuation and line breaks."""
    out = []
    n = 0
    line = 0
    while n < size:
        w = rng.choice(WORDS)
        if rng.random() < 0.08:
            w = w.capitalize()
        if rng.random() < 0.05:
            w += rng.choice([",", ".", ";", ":"])
        if rng.random() < 0.02:
            w = str(rng.randrange(100000))
        out.append(w)
        n += len(w) + 1
        line += len(w) + 1
        if line > rng.randrange(50, 90):
            out.append("\r\n")
            line = 0
    return " ".join(out).replace(" \r\n ", "\r\n").encode("ascii")[:size]


def structured(rng, size):
    """Record-like binary: fixed fields, counters and some noise."""
    recs = []
    n = 0
    i = 0
    while n < size:
        rec = (i.to_bytes(4, "little") + b"REC\0" + rng.randrange(1000).to_bytes(2, "little") +
               bytes(6) + rng.randbytes(4))
        recs.append(rec)
        n += len(rec)
        i += 1
    return b"".join(recs)[:size]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("outdir")
    ap.add_argument("--size-mb", type=float, default=200)
    ap.add_argument("--files", type=int, default=2000)
    ap.add_argument("--single-mb", type=float, default=0)
    ap.add_argument("--seed", type=int, default=20240501)
    a = ap.parse_args()
    rng = random.Random(a.seed)
    os.makedirs(a.outdir, exist_ok=True)
    pool = text_pool(rng, 4 << 20)

    def text(size):
        # Slices of the pool with fresh words mixed in: compresses like prose.
        parts = []
        n = 0
        while n < size:
            start = rng.randrange(len(pool) - 70000)
            chunk = pool[start:start + rng.randrange(2000, 65536)]
            parts.append(chunk)
            parts.append(text_pool(rng, 200))
            n += len(chunk) + 200
        return b"".join(parts)[:size]

    def write(rel, data):
        p = os.path.join(a.outdir, rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data)
        return len(data)

    total = 0
    if a.single_mb:
        size = int(a.single_mb * (1 << 20))
        with open(os.path.join(a.outdir, "single.bin"), "wb") as f:
            block = 0
            while total < size:
                n = min(1 << 20, size - total)
                f.write(text(n) if block % 2 == 0 else rng.randbytes(n))
                total += n
                block += 1
        print(f"{a.outdir}: 1 file, {total / 1048576:.1f} MB")
        return 0

    budget = int(a.size_mb * (1 << 20))
    n_small = int(a.files * 0.9)
    n_text = int(a.files * 0.075)
    n_random = int(a.files * 0.02)
    n_struct = a.files - n_small - n_text - n_random
    count = 0
    for i in range(n_small):
        size = rng.randrange(1024, 32768)
        kind = rng.random()
        if kind < 0.6:
            data = text(size)
        elif kind < 0.85:
            data = structured(rng, size)
        else:
            data = rng.randbytes(size)
        total += write(f"small/{i % 30:02d}/file{i:04d}.dat", data)
        count += 1
    # The rest of the budget: 45% text documents, 35% random, 20% structured.
    left = max(budget - total, 0)
    for i in range(n_text):
        total += write(f"docs/doc{i:03d}.txt", text(int(left * 0.45 / n_text * rng.uniform(0.6, 1.4))))
        count += 1
    left = max(budget - total, 0)
    for i in range(n_random):
        total += write(f"bin/blob{i:03d}.bin",
                       rng.randbytes(int(left * 0.64 / n_random * rng.uniform(0.6, 1.4))))
        count += 1
    left = max(budget - total, 0)
    for i in range(n_struct):
        size = int(left / max(n_struct - i, 1))
        total += write(f"data/table{i:03d}.db", structured(rng, size))
        left = max(budget - total, 0)
        count += 1
    print(f"{a.outdir}: {count} files, {total / 1048576:.1f} MB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
