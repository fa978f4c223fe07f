       01  A-REC PIC X.
