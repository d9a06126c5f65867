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


def server_context(cert: str, key: str | None = None, client_ca: str | None = None) -> ssl.SSLContext:
    """A listener's context serving the certificate chain `cert` (with its
    `key`), requiring client certificates issued by `client_ca` when given."""
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    load_certificate(context, cert, key)
    if client_ca:
        context.load_verify_locations(client_ca)
        context.verify_mode = ssl.CERT_REQUIRED
    return context


def client_context(
    ca: str | None = None, cert: str | None = None, key: str | None = None
) -> ssl.SSLContext:
    """A sender's context trusting `ca` (else the system's CAs), presenting
    the client certificate `cert` (with its `key`) when given."""
    context = ssl.create_default_context(cafile=ca)
    if cert:
        load_certificate(context, cert, key)
    return context
