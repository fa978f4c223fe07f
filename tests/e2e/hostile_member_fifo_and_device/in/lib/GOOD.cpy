       01 G PIC X.
