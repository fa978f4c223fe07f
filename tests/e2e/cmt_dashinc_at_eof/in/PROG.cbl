       01 A PIC X.
-INC CE