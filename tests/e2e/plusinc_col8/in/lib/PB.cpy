       01 PB-WRONG PIC X.
