"""``proofmark hook``: checking an agent's claims as its turn ends, one module per agent."""
