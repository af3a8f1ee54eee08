"""The id Chromium gives an extension whose manifest carries a "key"."""
import base64
import hashlib


def chromium_id(key):
    """The first 128 bits of the SHA-256 of the public key, one hexadecimal digit a letter from a to p."""
    digest = hashlib.sha256(base64.b64decode(key)).hexdigest()[:32]
    return "".join(chr(ord("a") + int(digit, 16)) for digit in digest)
