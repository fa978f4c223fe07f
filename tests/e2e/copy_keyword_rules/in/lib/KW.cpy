       01 KW-UPPER PIC X.
