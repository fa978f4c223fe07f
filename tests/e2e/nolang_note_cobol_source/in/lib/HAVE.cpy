       01 H PIC X.
