       01 X-WRONG PIC X.
