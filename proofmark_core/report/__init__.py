"""What a run reports: the table for people, JSON and JSONL for programs, the HTML page."""
