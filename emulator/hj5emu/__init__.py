"""HJ-5 device emulator: HTTP command side, FTP side, control endpoint."""
