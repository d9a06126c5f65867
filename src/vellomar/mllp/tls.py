"""TLS failures in words a user can act on."""

from __future__ import annotations

import ssl


def reason(error: BaseException) -> str:
    """The words of a TLS (or connection) failure, without the library's
    file and line: "peer did not return a certificate"."""
    if isinstance(error, ssl.SSLError) and error.reason:
        return error.reason.replace("_", " ").lower()
    return str(error) or type(error).__name__


def load_certificate(context: ssl.SSLContext, cert: str, key: str | None) -> None:
    """`context.load_cert_chain(cert, key)`; ValueError naming the files
    when they do not hold a certificate and its private key."""
    try:
        context.load_cert_chain(cert, key)
    except ssl.SSLError as error:
        if key is None:
            raise ValueError(
                f"{cert}: no private key in the certificate file: give the key file as well"
            ) from None
        raise ValueError(f"{cert} and {key}: not a certificate and its key: {reason(error)}") from None
