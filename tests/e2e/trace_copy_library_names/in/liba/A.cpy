       01  A-LIBA PIC X.
