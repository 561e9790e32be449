"""Product rules above the engine, each of which says in the evidence when it changed an
outcome and can be turned off to get the engine's own verdicts."""
