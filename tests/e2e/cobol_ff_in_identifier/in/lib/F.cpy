       01 F-WRONG PIC X.
