"""Bytes and turn records: input files (gzip too), their lines, spooling for workers,
Parquet rows, and the shape of a turn record."""
