       01 D PIC X.
