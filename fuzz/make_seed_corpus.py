#!/usr/bin/env python3
"""Writes the hand-made seed inputs of each fuzz target into corpus/<target>/.

Each seed spells out one situation worth starting a search from, in the
target's input format (described at the top of each target's source).  Run
it again after changing a format; inputs found by fuzzing may be added to
the corpus directories next to these.
"""
import pathlib

ROOT = pathlib.Path(__file__).resolve().parent / "corpus"


def sized(data: bytes, modulus: int) -> bytes:
    """The length prefix that the target reads back as len(data) (one byte,
    two big-endian bytes for moduli above 256), then data."""
    assert len(data) < modulus
    prefix = bytes([len(data)]) if modulus <= 256 else len(data).to_bytes(2, "big")
    return prefix + data


def differential(max_stars_choice, narrow, secrets, chunk_lengths, text, first_batch=None):
    header = max_stars_choice | (0x10 if narrow else 0) | ((len(secrets) - 1) << 5)
    body = bytes([len(secrets) if first_batch is None else first_batch])
    body += b"".join(sized(s, 13) for s in secrets)
    body += bytes([len(chunk_lengths)]) + bytes(chunk_lengths)
    return bytes([header]) + body + text


def set_differential(max_stars, narrow, derive, first, second, pieces, text, rebuild_at=0):
    header = max_stars | (0 if narrow else 8) | (16 if derive else 0)
    counts = (len(first) - 1) | (len(second) << 4)
    body = bytes([header, counts]) + b"".join(sized(s, 17) for s in first + second)
    body += (rebuild_at % 4097).to_bytes(2, "big") + bytes([len(pieces)]) + bytes(pieces)
    return body + text


def sequence_insert(secret, modulus):
    return bytes([0]) + sized(secret, modulus)


SEEDS = {
    "differential_fuzzer": {
        "overlapping_runs": differential(2, False, [b"abc", b"abab"], [1, 0, 2], b"xxabcxxababab abcd"),
        "nested_secret": differential(3, False, [b"abcd", b"bc"], [2], b"abce xbcx abcd", first_batch=0),
        "chained_runs": differential(2, False, [b"abc", b"cde", b"efg"], [1], b"xabcdefgx", first_batch=1),
        "any_byte_value": differential(15, False, [b"\x00\xff", b"\xff\xff\xff"], [3, 1],
                                       b"\x00\xff\xff\xff\x00\x00\xff"),
        "narrow_removal": differential(0, True, [b"aab", b"ab", b"bca", b"c"], [0, 5, 1],
                                       bytes(range(40))),
        # Secrets of 7 bytes or more over a long text: the walk may skip
        # ahead between places where a secret can begin.
        "long_text_skipping": differential(3, False, [b"password1", b"token-abcdef", b"passkey"], [200, 63, 1],
                                           b"x" * 300 + b"password1" + b"y" * 70 + b"token-abcdeftoken-abc"
                                           + b"z" * 129 + b"passkey" + b"password"),
    },
    "set_differential_fuzzer": {
        "nested_in_broken_copy": set_differential(3, False, False, [b"ABCDEFGHXX", b"DEFGH", b"HIJK"], [], [3, 0, 1],
                                                  b"ABCDEFGHIJK ABCDEFGHXX"),
        "swallowed_runs": set_differential(3, True, False, [b"b", b"c", b"abca"], [], [1], b"abcabcaabcab"),
        "forms_and_lines": set_differential(2, False, True, [b"pa/ss wd\nline 2"], [], [5, 0, 7],
                                            b"pa%2Fss%20wd line 2 cGEvc3Mgd2QKbGluZSAy 'pa/ss wd'"),
        "added_mid_stream": set_differential(1, True, False, [b"abab"], [b"bba", b"ccc"], [2, 1],
                                             b"abababbaccccabab", rebuild_at=7),
        "long_text_skipping": set_differential(3, False, False, [b"password1", b"token-abcdef", b"word1tok"], [],
                                               [200, 63, 1], b"x" * 300 + b"password1" + b"y" * 70
                                               + b"token-abcdeftoken-abc" + b"z" * 129 + b"password1token-abcdef"),
    },
    "call_sequence_fuzzer": {
        # header: failure rate nibble | narrow bit; then the seed byte.
        "protocol_no_failures": bytes([0x00, 1]) + sequence_insert(b"abcd", 11) + bytes([2])
        + bytes([3, 2]) + sized(b"xxab", 65) + bytes([3, 2]) + sized(b"cdyy", 65)
        + bytes([7, 8, 9, 0, 9, 0]),
        "failures_mid_stream": bytes([0x03, 7]) + sequence_insert(b"abab", 11) + sequence_insert(b"xyz", 11)
        + bytes([2]) + bytes([3, 3]) + sized(b"..aba", 65) + bytes([4, 3]) + sized(b"bab.xy", 65)
        + bytes([6, 3]) + sized(b"z", 65) + bytes([7]),
        "insert_after_build": bytes([0x10, 3]) + sequence_insert(b"ab", 11) + bytes([2, 3, 1])
        + sized(b"aaab", 65) + sequence_insert(b"aaaaaaaa", 11) + bytes([3, 1]) + sized(b"ab", 65)
        + bytes([2, 4, 5]) + sized(b"aaaaaaaaaa", 65) + bytes([7]),
        "reset_then_continue": bytes([0x00, 5]) + sequence_insert(b"abcd", 11) + bytes([2, 3, 10])
        + sized(b"xxab", 65) + bytes([8, 3, 10]) + sized(b"cdyy", 65) + bytes([5, 2]) + sized(b"ab", 65)
        + bytes([3, 2]) + sized(b"cd", 65),
        "outputs_after_destroy": bytes([0x08, 9]) + sequence_insert(b"secret", 11) + bytes([2, 3, 7])
        + sized(b"a secret here", 65) + bytes([10, 9, 0, 6 | 0x80, 9, 0]),
    },
    "guard_page_fuzzer": {
        # header: placement seed, bit 0 the narrow alphabet.
        "stream_across_chunks": bytes([0x10, 0]) + sized(b"abcd", 13) + bytes([2, 3, 7]) + sized(b"xxab", 321)
        + bytes([3 | 0x80, 7]) + sized(b"cdyy", 321) + bytes([7]),
        "reset_mid_stream": bytes([0x22, 0]) + sized(b"abcd", 13) + bytes([2, 3, 1]) + sized(b"xxab", 321)
        + bytes([6, 4, 1]) + sized(b"cdyy", 321),
        "whole_then_stream": bytes([0x40, 0]) + sized(b"abab", 13) + bytes([2, 5, 1]) + sized(b"xaba", 321)
        + bytes([3, 0]) + sized(b"babab", 321) + bytes([7]),
        "empty_inputs": bytes([0x08, 0 | 0x80]) + sized(b"", 13) + bytes([2, 3, 2]) + sized(b"", 321)
        + bytes([5 | 0x80, 2]) + sized(b"", 321) + bytes([7]),
        "long_text_skipping": bytes([0x52, 0]) + sized(b"secretkey1", 13) + bytes([0]) + sized(b"secretkey22", 13)
        + bytes([2, 3, 2]) + sized(b"." * 250 + b"secretkey1" + b"." * 40 + b"secretk", 321)
        + bytes([3 | 0x80, 2]) + sized(b"ey22" + b"-" * 200 + b"secretkey", 321)
        + bytes([5, 6]) + sized(b"_" * 299 + b"secretkey1", 321) + bytes([7]),
        "removal_narrow": bytes([0x31, 1]) + sized(b"\x00\x01\x00", 13) + bytes([1]) + sized(b"\x02", 13)
        + bytes([2, 3, 0]) + sized(bytes(range(90)), 321) + bytes([7, 4, 0]) + sized(b"\x00\x01", 321),
    },
    "cli_parsing_fuzzer": {
        # flags (bit 0: NUL-separated entries), pattern, then the content.
        "crlf_secrets_file": bytes([0]) + sized(b"*_TOKEN", 33)
        + b"first secret\r\n\nsecond\rwith cr\r\n\r\nGH_TOKEN=abc=def\nlast",
        "environment_globs": bytes([0]) + sized(b"A?I_\\*KEY*", 33)
        + b"API_*KEY=1\nAPI_KEY=2\n=noname\nPATH=/bin\nAXI_*KEYS=x=y\nnoequals\n",
        "nul_separated": bytes([1]) + sized(b"*", 33) + b"K1=multi\nline\x00K2=\x00\x00=v\x00K3=\xff\x00",
        "bracket_pattern": bytes([0]) + sized(b"[A-Z]*_[!0-9]", 33) + b"AB_C=1\nab_c=2\nZ_9=3\nQ_\\=4\n",
        "trailing_escape": bytes([0]) + sized(b"KEY\\", 33) + b"KEY\\=1\nKEY=2\n",
    },
}


def main():
    for target, seeds in SEEDS.items():
        directory = ROOT / target
        directory.mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (directory / name).write_bytes(data)


if __name__ == "__main__":
    main()
