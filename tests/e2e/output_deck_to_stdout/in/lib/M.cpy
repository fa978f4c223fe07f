       01 M PIC X.
