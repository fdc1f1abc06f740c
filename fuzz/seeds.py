#!/usr/bin/env python3
"""Writes the seed corpus: one small document per construct and per failure.

Each seed is the fuzz target's input: four header bytes (options and cut
count, buffer size - 32, push mask, reset interval), the cut points, then the
document. Run from anywhere; it rewrites fuzz/corpus/.
"""
import os
import struct
import zlib

NOENT, EMPTY = 1, 2

# name: (document, options, buffer size)
SEEDS = {
    # Constructs.
    "element": (b"<a>x&amp;y</a>", 0, 64),
    "empty-element": (b"<a/>", 0, 64),
    "empty-element-emptytext": (b"<a />", EMPTY, 64),
    "start-end-emptytext": (b"<a></a>", EMPTY, 64),
    "nested": (b"<a><b><c>deep</c></b>tail</a>", 0, 64),
    "depth-8": (b"<a><a><a><a><a><a><a><a>x</a></a></a></a></a></a></a></a>", 0, 64),
    "name-14": (b"<abcdefghijklmn>t</abcdefghijklmn>", 0, 64),
    "blanks-in-tags": (b"< a\t\n>x</ a\r>< b\v/ >", 0, 64),
    "entities": (b"<e>&lt;&gt;&amp;&apos;&quot;</e>", 0, 64),
    "noentities": (b"<e>&amp;&bogus;</e>", NOENT, 64),
    "comment": (b"<a><!-- c - -- ->-->x</a>", 0, 64),
    "comment-top-level": (b"<!-- c -->top text then<a/>", 0, 32),
    "full-chunks": (b"<t>" + b"0123456789" * 8 + b"</t>", 0, 32),
    "full-chunk-then-child": (b"<t>" + b"x" * 31 + b"<c/>y</t>", EMPTY, 33),
    "full-chunk-no-element": (b"<!---->" + b"z" * 40, 0, 32),
    "entity-fills-chunk": (b"<a>" + b"x" * 29 + b"&amp;y</a>", 0, 32),
    "utf8-and-nul": (b"<\xc3\xa9>\xe2\x82\xac\x00\x01</\xc3\xa9>", 0, 64),
    "text-dropped-by-child": (b"<a>hello<b>in</b>after</a>", 0, 64),
    "skipped-before-root": (b"junk<a>x</a>junk", 0, 64),
    "siblings": (b"<r><a>1</a><b>2</b><c/></r>", EMPTY, 40),
    "pending-end-option": (b"<a>x</a>", 12, 64),
    "long-buffer": (b"<a>" + b"w" * 300 + b"</a>", 0, 287),
    # Failures.
    "fail-mismatch": (b"<a></b>", 0, 64),
    "fail-end-without-start": (b"</a>", 0, 64),
    "fail-depth-9": (b"<a><a><a><a><a><a><a><a><a>", 0, 64),
    "fail-name-15": (b"<abcdefghijklmno>", 0, 64),
    "fail-endname-15": (b"<a></abcdefghijklmno>", 0, 64),
    "fail-unknown-entity": (b"<a>&bogus;</a>", 0, 64),
    "fail-entity-15": (b"<a>&abcdefghijklmno;</a>", 0, 64),
    "fail-empty-entity": (b"<a>&;</a>", 0, 64),
    "fail-bad-comment": (b"<a><!x></a>", 0, 64),
    "fail-comment-one-dash": (b"<a><!-x--></a>", 0, 64),
    "fail-blank-after-slash": (b"</ a>", 0, 64),
    "fail-text-after-empty-slash": (b"<a/ x>", 0, 64),
    "fail-sticky": (b"<a></b><a>more</a>", 0, 64),
}


def seed(doc, options, size, cuts, push_mask, reset_every):
    head = bytes([options | len(cuts) << 4, size - 32, push_mask, reset_every])
    return head + b"".join(struct.pack("<H", c) for c in cuts) + doc


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(out, exist_ok=True)
    for name in os.listdir(out):
        os.remove(os.path.join(out, name))
    for name, (doc, options, size) in SEEDS.items():
        # Cut once near the middle and once near the end. A failure is met
        # pulling the first chunk, so that the pushed and pulled chunks after
        # it meet a context that still holds input. Elsewhere the name picks
        # push or pull, and whether to stop early after every second token,
        # so that adding a seed leaves the others as they are.
        h = zlib.crc32(name.encode())
        cuts = [len(doc) // 2, max(len(doc) - 2, 0)]
        mask = 0xAA if name.startswith("fail-") else h & 0xFF
        data = seed(doc, options, size, cuts, mask, 2 if h % 5 == 0 else 0)
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
