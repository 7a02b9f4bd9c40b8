"""Plug-ins of the morvandel tools: isotope (glycopeptide compositions, masses
and isotope patterns) and the helpers they share (utils)."""
