       01 C PIC X.
