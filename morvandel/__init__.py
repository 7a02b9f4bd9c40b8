"""The morvandel tools for proteomics."""
