"""Bulk FHIR NDJSON (placeholder until the bulk road lands)."""

from __future__ import annotations

from typing import Any


def write_ndjson(source: Any, directory: Any, **options: Any) -> Any:
    raise NotImplementedError
