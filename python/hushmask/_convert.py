"""Argument checks shared by Masker and SecretSet: what counts as text, as a
collection of secrets and as a count."""

import operator

_LONE = (str, bytes, bytearray, memoryview, int)


def as_bytes(data, what="text"):
    """bytes for any bytes-like object or str (encoded as UTF-8); TypeError
    for anything else.  bytes pass to C without a copy; other buffers are
    copied once."""
    if isinstance(data, bytes):
        return data
    if isinstance(data, str):
        return data.encode("utf-8")
    try:
        return memoryview(data).tobytes()
    except TypeError:
        raise TypeError("hushmask: %s must be bytes-like or str, not %s"
                        % (what, type(data).__name__)) from None


def secret_list(secrets):
    """The secrets of a collection as bytes.  A lone str, bytes or int is
    refused: iterating it would register its characters (or nothing) as
    secrets."""
    if isinstance(secrets, _LONE):
        raise TypeError("hushmask: expected a collection of secrets, got a lone %s; "
                        "wrap it in a list: [secret]" % type(secrets).__name__)
    try:
        items = iter(secrets)
    except TypeError:
        raise TypeError("hushmask: expected a collection of secrets, not %s"
                        % type(secrets).__name__) from None
    return [as_bytes(secret, "a secret") for secret in items]


def count(value, name):
    """An int in [0, 2**64); TypeError for other types (bool included),
    ValueError out of range, where ctypes would wrap or truncate."""
    if isinstance(value, bool):
        raise TypeError("hushmask: %s must be an int, not bool" % name)
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError("hushmask: %s must be an int, not %s" % (name, type(value).__name__)) from None
    if not 0 <= value < 1 << 64:
        raise ValueError("hushmask: %s must be an int >= 0 (and below 2**64), not %d" % (name, value))
    return value
