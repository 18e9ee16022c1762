"""The start-up bench; run it with bench/run."""
