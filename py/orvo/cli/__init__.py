"""Helpers of the `orvo` command: one module per group of subcommands."""
