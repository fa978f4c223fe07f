       01 KW-LOWER PIC X.
