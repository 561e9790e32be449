"""A run of checks: the inputs as units, checking each in worker processes, batches of
rows, and the excerpts of the log that show where evidence points."""
